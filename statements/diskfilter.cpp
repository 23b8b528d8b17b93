#include "statements/diskfilter.h"

#include <array>
#include <cstddef>

#include "store/nameindex.h"

namespace diskfilter {
namespace {

// The select line: the list's six columns, then the keys the condition compares.
constexpr std::string_view kSelect =
    "SELECT Cdbase.Name, Cdbase.N, Cdbase.Opisan, Cdbase.Dolg, Sprkategoy.Name, Sprtype.Tip";
constexpr std::array<std::string_view, 4> kSelectKeys = {"", ", SprKategoy.Num", ", SprType.N",
                                                         ", SprKategoy.Num, SprType.N"};

constexpr std::array<std::string_view, 5> kJoinLines = {
    "FROM \"base\\CDBase.DB\" Cdbase",        "INNER JOIN \"base\\SprKategoy.db\" Sprkategoy",
    "ON  (Cdbase.Kategory = Sprkategoy.Num)", "INNER JOIN \"base\\SprType.db\" Sprtype",
    "ON  (Cdbase.Tip = Sprtype.N)",
};

// The candidates call's name in a narrowed statement: the disk table follows it,
// each candidate's row read by its key, and the joins after it keep their order
// (CROSS JOIN: SQLite does not reorder them).
constexpr std::string_view kCandidatesAlias = "Candidates";

enum Select { S0, S1, S2, S3 };
using PerAvailability = std::array<std::string_view, 3>;  // All, Available, Lent

// One variant: the switches that choose it, its select line and parameters, and its
// condition. Without the name switch `condition` is the whole condition line (empty:
// none); with it, `condition` is the opening piece and `closing` the closing piece
// around the quoted fragment.
struct Variant {
    Switches switches;
    Select select;
    std::vector<Key> parameters;
    PerAvailability condition;
    PerAvailability closing;
};

constexpr std::string_view kNotLent = ") and (Cdbase.Dolg = False)";
constexpr std::string_view kLent = ") and (Cdbase.Dolg = True)";
constexpr std::string_view kCategoryAndMedia =
    "Where (SprKategoy.Num = :Num) and (SprType.N = :N) and (CDBase.Name like '%";

const std::array<Variant, 8>& variants() {
    static const std::array<Variant, 8> table = {{
        // 1
        {{false, false, false},
         S0,
         {},
         {"", "Where (Cdbase.Dolg = False)", "Where (Cdbase.Dolg = True)"},
         {}},
        // 2
        {{true, false, false},
         S1,
         {Key::Category},
         {"Where SprKategoy.Num = :Num", "Where (SprKategoy.Num = :Num) and (Cdbase.Dolg = False)",
          "Where (SprKategoy.Num = :Num) and (Cdbase.Dolg = True)"},
         {}},
        // 3
        {{false, true, false},
         S2,
         {Key::MediaType},
         {"Where SprType.N = :N", "Where (SprType.N = :N) and (Cdbase.Dolg = False)",
          "Where (SprType.N = :N) and (Cdbase.Dolg = True)"},
         {}},
        // 4
        {{false, false, true},
         S0,
         {},
         {"Where CDBase.Name like '%", "Where (CDBase.Name like '%", "Where (CDBase.Name like '%"},
         {"", kNotLent, kLent}},
        // 5
        {{true, true, true},
         S3,
         {Key::MediaType, Key::Category},
         {kCategoryAndMedia, kCategoryAndMedia, kCategoryAndMedia},
         {")", kNotLent, kLent}},
        // 6
        {{true, true, false},
         S3,
         {Key::MediaType, Key::Category},
         {"Where (SprKategoy.Num = :Num) and (SprType.N = :N)",
          "Where (SprKategoy.Num = :Num) and (SprType.N = :N) and (Cdbase.Dolg = False)",
          "Where (SprKategoy.Num = :Num) and (SprType.N = :N) and (Cdbase.Dolg = True)"},
         {}},
        // 7
        {{true, false, true},
         S3,
         {Key::Category},
         {"Where (SprKategoy.Num = :Num) and (CDBase.Name like '%",
          "Where (SprKategoy.Num = :Num) and (CDBase.Name like '%",
          "Where (SprKategoy.Num = :Num) and (CDBase.Name like '%"},
         {")", kNotLent, kLent}},
        // 8
        {{false, true, true},
         S3,
         {Key::MediaType},
         {"Where (SprType.N = :N) and (CDBase.Name like '%",
          "Where (SprType.N = :N) and (CDBase.Name like '%",
          "Where (SprType.N = :N) and (CDBase.Name like '%"},
         {")", kNotLent, kLent}},
    }};
    return table;
}

bool same(const Switches& a, const Switches& b) {
    return a.category == b.category && a.mediaType == b.mediaType && a.name == b.name;
}

const Variant& variantOf(const Switches& switches) {
    for (const Variant& v : variants())
        if (same(v.switches, switches)) return v;
    return variants().front();  // unreachable: the table covers all eight
}

// The candidates call's arguments after the pattern: what the condition requires of
// the category, the media type and the lent flag.
std::string candidateArguments(const Variant& v, Availability availability) {
    auto bound = [&](Key key) {
        for (Key k : v.parameters)
            if (k == key) return std::string(":").append(parameterName(key));
        return std::string("''");
    };
    const char* lent[] = {"''", "False", "True"};
    std::string out = ", ";
    out += bound(Key::Category);
    out += ", ";
    out += bound(Key::MediaType);
    out += ", ";
    out += lent[static_cast<size_t>(availability)];
    return out;
}

std::vector<std::string> narrowedLines(const std::vector<std::string>& lines, const Variant& v,
                                       Availability availability, const std::string& pattern) {
    std::vector<std::string> out{lines[0]};
    std::string from = "FROM ";
    from += store::kCandidatesFunction;
    from += "('";
    from += pattern;
    from += "'";
    from += candidateArguments(v, availability);
    from += ") ";
    from += kCandidatesAlias;
    out.push_back(std::move(from));
    std::string disks = "CROSS JOIN ";
    disks += std::string_view(kJoinLines[0]).substr(5);  // the table after FROM
    disks += " ON (Cdbase.N = ";
    disks += kCandidatesAlias;
    disks += ".rowid)";
    out.push_back(std::move(disks));
    for (size_t i = 1; i < kJoinLines.size(); ++i) {
        std::string line(kJoinLines[i]);
        if (line.starts_with("INNER JOIN")) line.replace(0, 5, "CROSS");
        out.push_back(std::move(line));
    }
    out.insert(out.end(), lines.begin() + 1 + static_cast<ptrdiff_t>(kJoinLines.size()),
               lines.end());
    return out;
}

}  // namespace

int variant(const Switches& switches) {
    return static_cast<int>(&variantOf(switches) - variants().data()) + 1;
}

std::string quoteFragment(std::string_view fragment) {
    std::string out;
    out.reserve(fragment.size());
    for (char c : fragment) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

Statement build(Availability availability, const Switches& switches,
                std::string_view nameFragment) {
    const Variant& v = variantOf(switches);
    const auto column = static_cast<size_t>(availability);
    Statement s;
    s.lines.push_back(std::string(kSelect).append(kSelectKeys[v.select]));
    for (std::string_view join : kJoinLines) s.lines.emplace_back(join);
    std::string condition(v.condition[column]);
    std::string pattern = "%";
    pattern += quoteFragment(nameFragment);
    pattern += "%";
    if (switches.name) condition += pattern.substr(1) + "'" + std::string(v.closing[column]);
    const bool hasCondition = !condition.empty();
    if (hasCondition) s.lines.push_back(std::move(condition));
    s.parameters = v.parameters;
    s.readOn = readOnAfterKey(s.lines, hasCondition);
    if (switches.name) {
        s.narrowed = narrowedLines(s.lines, v, availability, pattern);
        // Bounding the candidates' own key lets the copy start its scan past :After.
        s.narrowedReadOn = s.narrowed;
        std::string after = "and (";
        after += kCandidatesAlias;
        after += ".rowid > :After)";
        s.narrowedReadOn.push_back(std::move(after));
    }
    return s;
}

std::vector<std::string> readOnAfterKey(std::vector<std::string> lines, bool hasCondition) {
    lines.emplace_back(hasCondition ? "and (Cdbase.N > :After)" : "Where Cdbase.N > :After");
    return lines;
}

std::string_view parameterName(Key key) {
    return key == Key::MediaType ? "N" : "Num";
}

}  // namespace diskfilter
