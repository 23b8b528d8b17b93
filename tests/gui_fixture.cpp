#include "tests/gui_fixture.h"

#include <QApplication>
#include <QProgressDialog>

#include "app/Unit1.h"
#include "settings/settingsfile.h"

RecordingMessages::RecordingMessages() {
    setMessages(this);
}

RecordingMessages::~RecordingMessages() {
    setMessages(nullptr);
}

void RecordingMessages::record(const QString& kind, const QString& text, QWidget* parent) {
    shown << kind + ": " + text;
    parents << parent;
    for (const QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<const QProgressDialog*>(w)) ++underProgress;
}

void RecordingMessages::information(const QString& text, QWidget* parent) {
    record(QStringLiteral("information"), text, parent);
}

bool RecordingMessages::confirm(const QString& text, QWidget* parent) {
    record(QStringLiteral("confirm"), text, parent);
    return answers.isEmpty() ? true : answers.takeFirst();
}

void RecordingMessages::error(const QString& text, QWidget* parent) {
    record(QStringLiteral("error"), text, parent);
}

QStringList RecordingMessages::ofKind(const QString& kind) const {
    const QString prefix = kind + QStringLiteral(": ");
    QStringList texts;
    for (const QString& box : shown)
        if (box.startsWith(prefix)) texts << box.mid(prefix.size());
    return texts;
}

QStringList RecordingMessages::errors() const {
    return ofKind(QStringLiteral("error"));
}

QStringList RecordingMessages::informations() const {
    return ofKind(QStringLiteral("information"));
}

WindowTestEnvironment::WindowTestEnvironment()
    : settingsFile(fixture.filePath(QStringLiteral("Korvalen.ini"))) {
    setSettingsFilePath(settingsFile);
}

WindowTestEnvironment::~WindowTestEnvironment() {
    setSettingsFilePath({});
}
