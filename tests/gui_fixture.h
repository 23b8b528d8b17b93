#pragma once

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "messages.h"

// A small catalogue in a temporary folder, named row by row:
//
//   categories (Num Name):  1 Музыка, 2 Фильмы, 3 Игры        (by name: Игры, Музыка, Фильмы)
//   media types (N Tip):    1 CD, 2 DVD                        (by name: CD, DVD)
//   debtors (N Dolgnik):    1 Иванов, 2 Петров
//   disks (N Name / category / media type / lent):
//     1 Abbey Road        Музыка  CD   no
//     2 Матрица           Фильмы  DVD  yes (Иванов)
//     3 Rock'n'Roll       Музыка  CD   yes (Петров)
//     4 Тетрис            Игры    CD   no
//     5 Потерянный диск   (category 9 does not exist)  CD  no
//     6 Abc 100%          Игры    DVD  no
//     7 Road_trip         Фильмы  CD   no
class GuiFixture {
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
    ~GuiFixture();

    QString path() const { return dir_.path(); }
    QString filePath(const QString& name) const { return dir_.filePath(name); }
    // Runs SQLite's own SQL on the catalogue (tables: CDBase, sprkategoy_db.SprKategoy, ...).
    void exec(const std::string& sql) const;
    // Makes the folder the working directory and forgets the default database, so the
    // next query opens this catalogue. The destructor undoes both.
    void enter();

private:
    QTemporaryDir dir_;
    QString previousDir_;
};

// Message boxes that record what they were asked and answer as told.
class RecordingMessages final : public MessageBoxes {
public:
    RecordingMessages() { setMessages(this); }
    ~RecordingMessages() override { setMessages(nullptr); }
    void information(const QString& text) override { informations << text; }
    bool confirm(const QString& text) override {
        confirmations << text;
        return answer;
    }
    void error(const QString& text) override { errors << text; }

    QStringList informations, confirmations, errors;
    bool answer = true;
};

// What a main-window test runs in: the fixture catalogue as the working folder,
// recording message boxes, and a settings file inside the fixture's folder.
struct WindowTestEnvironment {
    WindowTestEnvironment();
    ~WindowTestEnvironment();
    GuiFixture fixture;
    RecordingMessages messages;
    QString settingsFile;
};
