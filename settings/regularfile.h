#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// A file the program reads whole (the settings file, a description) is read only when it
// is a regular file of at most maxBytes: a pipe or a device would block the read or never
// end, and a huge file would fill the memory. Nothing else is ever opened for reading.
struct RegularFileRead {
    std::optional<QByteArray> bytes;  // nothing when refused
    QString error;                    // why, in Russian, when refused
    bool missing = false;             // refused because there is no such file
};

RegularFileRead readRegularFile(const QString& path, qint64 maxBytes);
