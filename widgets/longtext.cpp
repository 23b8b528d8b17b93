#include "widgets/longtext.h"

#include <QLocale>
#include <algorithm>

namespace {

// Laid out in a few tens of milliseconds on a slow machine; no description a person
// wrote comes near either.
constexpr qint64 kMaxWholeCharacters = 2'000'000;
constexpr qint64 kMaxLineCharacters = 10'000;
// The beginning shown of a longer text.
constexpr qint64 kExcerptCharacters = 100'000;

bool startsCharacter(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}

bool endsLine(char byte) {
    return byte == '\n' || byte == '\r';
}

struct Measure {
    qint64 characters = 0;
    qint64 longestLine = 0;
};

Measure measure(std::string_view utf8) {
    Measure m;
    qint64 line = 0;
    for (const char byte : utf8) {
        if (endsLine(byte)) {
            m.longestLine = std::max(m.longestLine, line);
            line = 0;
        } else if (startsCharacter(byte)) {
            ++line;
        }
        if (startsCharacter(byte)) ++m.characters;
    }
    m.longestLine = std::max(m.longestLine, line);
    return m;
}

// The beginning of the text, at most kExcerptCharacters, each line cut after
// kMaxLineCharacters characters (never inside one) and marked with an ellipsis.
QString beginning(std::string_view utf8) {
    QString out;
    qint64 taken = 0;
    size_t at = 0;
    while (at < utf8.size() && taken < kExcerptCharacters) {
        const size_t end = std::min(utf8.find_first_of("\r\n", at), utf8.size());
        const qint64 room = std::min(kMaxLineCharacters, kExcerptCharacters - taken);
        size_t cut = at;
        qint64 characters = 0;
        while (cut < end) {
            if (startsCharacter(utf8[cut]) && characters++ == room) break;
            ++cut;
        }
        if (characters > room) characters = room;
        out += QString::fromUtf8(utf8.data() + at, static_cast<qsizetype>(cut - at));
        taken += std::max<qint64>(characters, 1);  // empty lines count too
        if (cut < end) out += QStringLiteral(" …");
        if (end == utf8.size() || taken >= kExcerptCharacters) break;
        out += QLatin1Char('\n');
        at = end + (utf8.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return out;
}

}  // namespace

TextExcerpt excerptOf(std::string_view utf8, const QString& note) {
    const Measure m = measure(utf8);
    TextExcerpt excerpt;
    excerpt.characters = m.characters;
    if (m.characters <= kMaxWholeCharacters && m.longestLine <= kMaxLineCharacters) {
        excerpt.text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
        return excerpt;
    }
    excerpt.whole = false;
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    excerpt.text = QStringLiteral(
                       "[Описание длиной %1 знаков слишком велико, чтобы показать его "
                       "целиком: показано начало, длинные строки обрезаны.%2]\n")
                       .arg(russian.toString(m.characters),
                            note.isEmpty() ? QString() : QLatin1Char(' ') + note) +
                   beginning(utf8);
    return excerpt;
}
