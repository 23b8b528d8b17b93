#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// An INI file edited key by key: reading a key parses the lines, writing one
// changes only its line (or adds it to its section, or adds the section), so other
// sections, keys, comments and line endings stay exactly as they were. Section and
// key names ignore ASCII letter case; the first section of a name counts.
class IniFile {
public:
    static constexpr qint64 kMaxBytes = 1024 * 1024;

    // makeFolder: save() first makes the file's folder, and those above it, when missing.
    explicit IniFile(QString path, bool makeFolder = false)
        : path_(std::move(path)), makeFolder_(makeFolder) {}

    const QString& path() const { return path_; }

    // Reads the file; a missing file reads as an empty one. False, with errorString(),
    // when the file is there but cannot be read, or is no regular file of at most
    // kMaxBytes (a pipe, a device, a folder).
    bool load();
    // Writes the whole file anew through a temporary file, so a failed write leaves
    // the old file intact; in place when only the file, not its folder, may be written.
    // False, with errorString(), on failure.
    bool save();
    QString errorString() const { return error_; }

    std::optional<QString> value(const QString& section, const QString& key) const;
    // The key's value as a decimal integer; missing or not an integer: fallback.
    int integer(const QString& section, const QString& key, int fallback) const;
    void setValue(const QString& section, const QString& key, const QString& value);
    void setInteger(const QString& section, const QString& key, int value);

private:
    struct Line {
        QByteArray text;    // without the line ending
        QByteArray ending;  // "\n", "\r\n" or empty for a last line without one
    };
    // Index of the section's header line, or -1.
    qsizetype findSection(const QString& section) const;
    // Index of the key's line within the section that starts at header, or -1.
    qsizetype findKey(qsizetype header, const QString& key) const;
    // One past the last line that belongs to the section starting at header.
    qsizetype sectionEnd(qsizetype header) const;
    void insertLine(qsizetype at, QByteArray text);

    QString path_;
    bool makeFolder_ = false;
    QString error_;
    QList<Line> lines_;
    QByteArray newline_ = "\n";
};
