#pragma once

// What the window and command suites share on top of the fixture catalogue: message
// boxes that record, and the main-window suites' environment.

#include <QList>
#include <QString>
#include <QStringList>

#include "tests/fixture.h"
#include "widgets/messages.h"

// Message boxes that record what they were asked and answer as told; installed as the
// program's boxes for as long as the object lives.
class RecordingMessages final : public MessageBoxes {
public:
    RecordingMessages();
    ~RecordingMessages() override;
    RecordingMessages(const RecordingMessages&) = delete;
    RecordingMessages& operator=(const RecordingMessages&) = delete;

    void information(const QString& text, QWidget* parent) override;
    bool confirm(const QString& text, QWidget* parent) override;
    void error(const QString& text, QWidget* parent) override;

    QStringList errors() const;        // the texts of the error boxes, in order
    QStringList informations() const;  // the texts of the information boxes, in order

    QStringList shown;        // "information: ...", "confirm: ...", "error: ...", in order
    QList<bool> answers;      // answers to the next questions; Yes when none is left
    QList<QWidget*> parents;  // the window each box was shown for, in order
    // Boxes shown while a progress dialog was still about, which would stand over them.
    int underProgress = 0;

private:
    void record(const QString& kind, const QString& text, QWidget* parent);
    QStringList ofKind(const QString& kind) const;
};

// What a main-window test runs in: the fixture catalogue as the working folder,
// recording message boxes, and a settings file inside the fixture's folder.
struct WindowTestEnvironment {
    WindowTestEnvironment();
    ~WindowTestEnvironment();
    fixture::FixtureCatalogue fixture;
    fixture::ScopedWorkingDirectory workingDirectory{fixture.root()};
    RecordingMessages messages;
    QString settingsFile;
};
