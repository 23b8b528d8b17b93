#pragma once

// What the window and command suites share on top of the store's fixture: message
// boxes that record, and the main-window suites' catalogue.

#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

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

    void information(const QString& text) override;
    bool confirm(const QString& text) override;
    void error(const QString& text) override;

    QStringList errors() const;        // the texts of the error boxes, in order
    QStringList informations() const;  // the texts of the information boxes, in order

    QStringList shown;    // "information: ...", "confirm: ...", "error: ...", in order
    QList<bool> answers;  // answers to the next questions; Yes when none is left

private:
    QStringList ofKind(const QString& kind) const;
};

// A small catalogue in a temporary folder, named row by row:
//
//   categories (Num Name):  1 Музыка, 2 Фильмы, 3 Игры        (by name: Игры, Музыка, Фильмы)
//   media types (N Tip):    1 CD, 2 DVD                        (by name: CD, DVD)
//   debtors (N Dolgnik):    1 Иванов, 2 Петров
//   disks (N Name / category / media type / lent), each described as "Описание: " + name:
//     1 Abbey Road        Музыка  CD   no
//     2 Матрица           Фильмы  DVD  yes (Иванов)
//     3 Rock'n'Roll       Музыка  CD   yes (Петров)
//     4 Тетрис            Игры    CD   no
//     5 Потерянный диск   (category 9 does not exist)  CD  no
//     6 Abc 100%          Игры    DVD  no
//     7 Road_trip         Фильмы  CD   no
class GuiFixture : public fixture::TemporaryCatalogue {
public:
    struct Disk {
        int n;
        QString name;
        int category;
        int mediaType;
        bool lent;
    };
    static const std::vector<Disk>& disks();

    GuiFixture();

    QString path() const { return dir.path(); }
    QString filePath(const QString& name) const { return dir.filePath(name); }
};

// What a main-window test runs in: the fixture catalogue as the working folder,
// recording message boxes, and a settings file inside the fixture's folder.
struct WindowTestEnvironment {
    WindowTestEnvironment();
    ~WindowTestEnvironment();
    GuiFixture fixture;
    fixture::ScopedWorkingDirectory workingDirectory{fixture.root()};
    RecordingMessages messages;
    QString settingsFile;
};
