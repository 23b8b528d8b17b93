// The catalogue's `like`: case folded in every alphabet, % and _ as wildcards,
// an optional escape character; checked case by case, against a plain
// dynamic-programming matcher over random texts, and through SQL.
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <QtTest>
#include <random>
#include <string>
#include <vector>

#include "store/database.h"
#include "store/text.h"
#include "tests/fixture.h"

namespace {

// The meaning of like, written the slow and obvious way: both sides decoded to
// code points (an invalid byte stands for itself), folded one by one, matched by
// a table of "pattern from i matches text from j".
std::vector<int32_t> foldedCodePoints(std::string_view s) {
    std::vector<int32_t> out;
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const int32_t n = static_cast<int32_t>(s.size());
    for (int32_t i = 0; i < n;) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(p, i, n, c);
        if (c < 0) {
            out.push_back(-static_cast<int32_t>(p[start]) - 1);
            i = start + 1;
        } else {
            out.push_back(static_cast<int32_t>(u_foldCase(c, U_FOLD_CASE_DEFAULT)));
        }
    }
    return out;
}

bool referenceLike(std::string_view pattern, std::string_view text, char32_t escapeChar) {
    enum Kind { Any, One, Literal };
    struct Token {
        Kind kind;
        int32_t c;
    };
    const auto escape =
        static_cast<int32_t>(u_foldCase(static_cast<UChar32>(escapeChar), U_FOLD_CASE_DEFAULT));
    const auto pc = foldedCodePoints(pattern);
    std::vector<Token> tokens;
    for (size_t i = 0; i < pc.size(); ++i) {
        if (pc[i] == '%')
            tokens.push_back({Any, 0});
        else if (pc[i] == '_')
            tokens.push_back({One, 0});
        else if (escape != 0 && pc[i] == escape && i + 1 < pc.size())
            tokens.push_back({Literal, pc[++i]});
        else
            tokens.push_back({Literal, pc[i]});
    }
    const auto tc = foldedCodePoints(text);
    // m[i][j]: tokens from i match text from j.
    std::vector<std::vector<char>> m(tokens.size() + 1, std::vector<char>(tc.size() + 1, 0));
    m[tokens.size()][tc.size()] = 1;
    for (size_t i = tokens.size(); i-- > 0;) {
        for (size_t j = tc.size() + 1; j-- > 0;) {
            const Token& t = tokens[i];
            if (t.kind == Any)
                m[i][j] = m[i + 1][j] || (j < tc.size() && m[i][j + 1]);
            else if (j < tc.size() && (t.kind == One || t.c == tc[j]))
                m[i][j] = m[i + 1][j + 1];
        }
    }
    return m[0][0];
}

struct Sample {
    const char* name;
    std::string pattern;
    std::string text;
    char32_t escape;
    bool matches;
};

const std::vector<Sample>& samples() {
    static const std::vector<Sample> list = {
        {"Cyrillic, other case", "%хит%", "Лучшие ХИТЫ 1999", 0, true},
        {"Cyrillic upper pattern", "%ХИТ%", "лучшие хиты", 0, true},
        {"ё and Ё", "%ЁЛК%", "Ёлка и ёлочка", 0, true},
        {"ё is not е", "%елк%", "ёлка", 0, false},
        {"Ё is not Е", "Ель", "Ёль", 0, false},
        {"whole text, no wildcard", "Ёлка", "ёЛКА", 0, true},
        {"whole text, longer text", "abc", "abcd", 0, false},
        {"Latin case", "%HIT%", "Greatest hits", 0, true},
        {"one multibyte character", "_", "ж", 0, true},
        {"two wildcards, one character", "__", "ж", 0, false},
        {"_ needs a character", "_", "", 0, false},
        {"empty pattern, empty text", "", "", 0, true},
        {"empty pattern, some text", "", "a", 0, false},
        {"%% and empty text", "%%", "", 0, true},
        {"%% and any text", "%%", "Ночные песни", 0, true},
        {"segments in order", "a%b%c", "aЖbЁc", 0, true},
        {"segments out of order", "a%b%c", "acb", 0, false},
        {"_ between literals", "%a_c%", "xxaЖcyy", 0, true},
        {"multibyte at both ends", "ж%ё", "ЖxyzЁ", 0, true},
        {"last segment overlaps middle", "%ab%b", "ab", 0, false},
        {"last segment after middle", "%ab%b", "abb", 0, true},
        {"middle segment tried again one character on", "%a_k%", "aaXk", 0, true},
        {"anchored start fails", "б%", "аб", 0, false},
        {"anchored end with _", "%_ё", "ЖЁ", 0, true},
        {"escaped percent", "100\\%", "100%", U'\\', true},
        {"escaped percent is literal", "100\\%", "1000", U'\\', false},
        {"escaped underscore", "a\\_b", "a_b", U'\\', true},
        {"escaped underscore is literal", "a\\_b", "axb", U'\\', false},
        {"Cyrillic escape, folded", "Ж%%", "%abc", U'ж', true},
        {"escape at the end stands for itself", "ab\\", "ab\\", U'\\', true},
        {"escaped escape", "a\\\\b", "a\\b", U'\\', true},
        {"Kelvin sign folds to k", "%k%", "\u212A", 0, true},
        {"long s folds to s", "%S%", "\u017F", 0, true},
        {"digit required", "%2%", "диск 2", 0, true},
        {"digit missing", "%3%", "диск 2", 0, false},
        {"final sigma", "σ", "ς", 0, true},
        {"capital sigma", "%σ%", "ΣΟΦΙΑ", 0, true},
        {"fold grows a character to three bytes", "%ⱥ%", "xȺy", 0, true},
        {"_ over a grown character", "x_y", "xȺy", 0, true},
        {"capital sharp s", "ß", "ẞ", 0, true},
        {"sharp s is not ss", "ß", "SS", 0, false},
        {"four-byte character", "%😀%", "a😀b", 0, true},
        {"invalid byte matches itself", "%\xD0%", "x\xD0y", 0, true},
        {"invalid byte is not a lead byte", "%\xD0%", "а", 0, false},
        {"invalid byte is not a continuation", "%\xB0%", "а", 0, false},
        {"_ takes one invalid byte", "_", "\xFF", 0, true},
        {"truncated sequence is two bytes", "__", "\xE2\x82", 0, true},
        {"whole sequence", "%€%", "\xE2\x82\xAC", 0, true},
        {"surrogate bytes stay bytes", "___", "\xED\xA0\x80", 0, true},
        {"NUL inside text", std::string("%b%"), std::string("a\0b", 3), 0, true},
    };
    return list;
}

}  // namespace

class TestLike : public QObject {
    Q_OBJECT

private slots:
    void cases_data() {
        QTest::addColumn<int>("index");
        for (int i = 0; i < static_cast<int>(samples().size()); ++i)
            QTest::newRow(samples()[i].name) << i;
    }

    void cases() {
        QFETCH(int, index);
        const Sample& s = samples()[index];
        QCOMPARE(store::likeMatch(s.pattern, s.text, s.escape), s.matches);
        QCOMPARE(referenceLike(s.pattern, s.text, s.escape), s.matches);
    }

    // Random patterns over characters that fold in awkward ways (and bytes that
    // are no UTF-8, or become UTF-8 side by side), each against a text spelled
    // from it in other cases, often altered, and against a random one.
    void agreesWithReference() {
        // The first five alone make patterns that often almost match.
        const std::vector<std::vector<std::string>> spellings = {
            {"a", "A"},           {"ж", "Ж"}, {"%"},      {"_"},      {"k", "K", "\u212A"},
            {"s", "S", "\u017F"}, {"ё", "Ё"}, {"е", "Е"}, {"ß", "ẞ"}, {"Ⱥ", "ⱥ"},
            {"σ", "ς", "Σ"},      {"😀"},      {"\xD0"},   {"\xB0"},   {"\xFF"},
            {"\xE2\x82"},         {" "},      {"\\"}};
        std::mt19937 rng(20240601);
        auto pick = [&](const std::vector<std::string>& list) { return list[rng() % list.size()]; };
        size_t groups = spellings.size();
        auto group = [&]() -> const std::vector<std::string>& { return spellings[rng() % groups]; };
        auto anySpelling = [&] { return pick(group()); };
        int matched = 0;
        for (int round = 0; round < 20000; ++round) {
            std::string pattern, text;
            const bool derived = round % 4 != 0;
            groups = round % 2 ? spellings.size() : 5;
            for (size_t n = rng() % 7; n > 0; --n) {
                const auto& spelled = group();
                pattern += pick(spelled);
                if (!derived) continue;
                if (spelled.front() == "%") {
                    for (size_t k = rng() % 3; k > 0; --k) text += anySpelling();
                } else if (spelled.front() == "_" || rng() % 10 == 0) {
                    text += anySpelling();
                } else if (rng() % 10 != 0) {
                    text += pick(spelled);
                }
            }
            if (!derived)
                for (size_t n = rng() % 10; n > 0; --n) text += anySpelling();
            const char32_t escape = round % 3 == 0 ? U'\\' : 0;
            const bool expected = referenceLike(pattern, text, escape);
            matched += expected ? 1 : 0;
            if (store::likeMatch(pattern, text, escape) != expected)
                QFAIL(qPrintable(QString("like '%1' on '%2' (escape %3): expected %4")
                                     .arg(QByteArray::fromStdString(pattern).toHex(' '),
                                          QByteArray::fromStdString(text).toHex(' '))
                                     .arg(escape ? "\\" : "none")
                                     .arg(expected)));
        }
        QVERIFY2(matched > 4000, qPrintable(QString("only %1 samples match").arg(matched)));
    }

    // Through SQLite: the pattern is compiled once and reused over many rows.
    void throughSql() {
        const std::vector<std::string> names = {"Лучшие ХИТЫ", "хиты", "Hits", "ёлка", "Ёлка",
                                                "елка",        "100%", "a_b",  "axb",  ""};
        std::string rows;
        for (const auto& name : names) rows += "INSERT INTO CDBase(Name) VALUES ('" + name + "');";
        rows += "INSERT INTO CDBase(Name) VALUES (NULL);";
        const fixture::TemporaryCatalogue catalogue(rows);
        auto count = [&](const std::string& where) {
            try {
                return fixture::sqlRows(catalogue.root(),
                                        "SELECT count(*) FROM CDBase WHERE " + where)
                    .value(0)
                    .toInt();
            } catch (const store::Error&) {
                return -1;
            }
        };
        QCOMPARE(count("Name like '%хит%'"), 2);
        QCOMPARE(count("Name like '%HIT%'"), 1);
        QCOMPARE(count("Name like '%ЁЛК%'"), 2);
        QCOMPARE(count("Name like '%%'"), 10);  // NULL is no match
        QCOMPARE(count("Name like '%!%' escape '!'"), 1);
        QCOMPARE(count("Name like 'a!_b' escape '!'"), 1);
        QCOMPARE(count("Name like 'a_b'"), 2);
        QCOMPARE(count("Name like Name"), 10);  // a pattern that changes on every row
        QCOMPARE(count("Name like 'a' escape 'ab'"), -1);
    }
};

QTEST_APPLESS_MAIN(TestLike)
#include "test_like.moc"
