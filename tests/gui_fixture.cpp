#include "tests/gui_fixture.h"

#include "app/Unit1.h"

RecordingMessages::RecordingMessages() {
    setMessages(this);
}

RecordingMessages::~RecordingMessages() {
    setMessages(nullptr);
}

void RecordingMessages::information(const QString& text) {
    shown << "information: " + text;
}

bool RecordingMessages::confirm(const QString& text) {
    shown << "confirm: " + text;
    return answers.isEmpty() ? true : answers.takeFirst();
}

void RecordingMessages::error(const QString& text) {
    shown << "error: " + text;
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
