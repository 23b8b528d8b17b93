#include "settings/inifile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include "settings/regularfile.h"

namespace {

QByteArray withoutBom(const QByteArray& text) {
    static const QByteArray bom("\xEF\xBB\xBF");
    return text.startsWith(bom) ? text.mid(bom.size()) : text;
}

std::optional<QString> sectionName(const QByteArray& text) {
    const QByteArray t = withoutBom(text).trimmed();
    const qsizetype close = t.indexOf(']');
    if (!t.startsWith('[') || close < 0) return std::nullopt;
    return QString::fromUtf8(t.mid(1, close - 1).trimmed());
}

struct Entry {
    QString key;
    QString value;
};

std::optional<Entry> entryOf(const QByteArray& text) {
    const QByteArray t = text.trimmed();
    if (t.isEmpty() || t.startsWith(';') || t.startsWith('#') || t.startsWith('['))
        return std::nullopt;
    const qsizetype eq = t.indexOf('=');
    if (eq <= 0) return std::nullopt;
    return Entry{QString::fromUtf8(t.left(eq).trimmed()),
                 QString::fromUtf8(t.mid(eq + 1).trimmed())};
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

}  // namespace

bool IniFile::load() {
    lines_.clear();
    error_.clear();
    RegularFileRead read = readRegularFile(path_, kMaxBytes);
    if (read.missing) return true;
    if (!read.bytes) {
        error_ = read.error;
        return false;
    }
    const QByteArray content = std::move(*read.bytes);
    qsizetype start = 0;
    while (start < content.size()) {
        const qsizetype nl = content.indexOf('\n', start);
        if (nl < 0) {
            lines_.append({content.mid(start), {}});
            break;
        }
        const bool crlf = nl > start && content[nl - 1] == '\r';
        lines_.append({content.mid(start, nl - start - (crlf ? 1 : 0)), crlf ? "\r\n" : "\n"});
        start = nl + 1;
    }
    if (!lines_.isEmpty() && !lines_.front().ending.isEmpty()) newline_ = lines_.front().ending;
    return true;
}

bool IniFile::save() {
    error_.clear();
    const QString folder = QFileInfo(path_).path();
    if (makeFolder_ && !QDir().mkpath(folder)) {
        error_ =
            QStringLiteral("не удалось создать папку %1").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    QSaveFile file(path_);
    // A file that may be written in a folder that may not (no room for the temporary
    // file beside it) is written in place.
    file.setDirectWriteFallback(true);
    if (file.open(QIODevice::WriteOnly)) {
        for (const Line& line : lines_) file.write(line.text + line.ending);
        if (file.commit()) return true;
    }
    error_ = file.errorString();
    return false;
}

qsizetype IniFile::findSection(const QString& section) const {
    for (qsizetype i = 0; i < lines_.size(); ++i) {
        const auto name = sectionName(lines_[i].text);
        if (name && sameName(*name, section)) return i;
    }
    return -1;
}

qsizetype IniFile::sectionEnd(qsizetype header) const {
    qsizetype i = header + 1;
    while (i < lines_.size() && !sectionName(lines_[i].text)) ++i;
    return i;
}

qsizetype IniFile::findKey(qsizetype header, const QString& key) const {
    const qsizetype end = sectionEnd(header);
    for (qsizetype i = header + 1; i < end; ++i) {
        const auto entry = entryOf(lines_[i].text);
        if (entry && sameName(entry->key, key)) return i;
    }
    return -1;
}

std::optional<QString> IniFile::value(const QString& section, const QString& key) const {
    const qsizetype header = findSection(section);
    if (header < 0) return std::nullopt;
    const qsizetype line = findKey(header, key);
    if (line < 0) return std::nullopt;
    return entryOf(lines_[line].text)->value;
}

int IniFile::integer(const QString& section, const QString& key, int fallback) const {
    const auto text = value(section, key);
    if (!text) return fallback;
    bool ok = false;
    const int number = text->toInt(&ok, 10);
    return ok ? number : fallback;
}

void IniFile::insertLine(qsizetype at, QByteArray text) {
    if (at > 0 && lines_[at - 1].ending.isEmpty()) lines_[at - 1].ending = newline_;
    lines_.insert(at, {std::move(text), newline_});
}

void IniFile::setValue(const QString& section, const QString& key, const QString& value) {
    qsizetype header = findSection(section);
    if (header < 0) {
        insertLine(lines_.size(), '[' + section.toUtf8() + ']');
        header = lines_.size() - 1;
    }
    const qsizetype line = findKey(header, key);
    if (line >= 0) {
        // Keep the key as the file spells it.
        lines_[line].text = entryOf(lines_[line].text)->key.toUtf8() + '=' + value.toUtf8();
        return;
    }
    // After the section's last entry, before the blank lines that separate it.
    qsizetype at = sectionEnd(header);
    while (at > header + 1 && lines_[at - 1].text.trimmed().isEmpty()) --at;
    insertLine(at, key.toUtf8() + '=' + value.toUtf8());
}

void IniFile::setInteger(const QString& section, const QString& key, int value) {
    setValue(section, key, QString::number(value));
}
