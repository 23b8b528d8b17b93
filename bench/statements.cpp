#include "statements.h"

#include <array>
#include <stdexcept>

namespace bench {
namespace {

constexpr std::string_view kSelectPlain =
    "SELECT Cdbase.Name, Cdbase.N, Cdbase.Opisan, Cdbase.Dolg, Sprkategoy.Name, Sprtype.Tip";

std::string selectLine(int variant) {
    std::string line(kSelectPlain);
    switch (variant) {
        case 1:
        case 4:
            return line;
        case 2:
            return line + ", SprKategoy.Num";
        case 3:
            return line + ", SprType.N";
        default:
            return line + ", SprKategoy.Num, SprType.N";
    }
}

constexpr std::array<std::string_view, 5> kJoins = {
    R"(FROM "base\CDBase.DB" Cdbase)",        R"(INNER JOIN "base\SprKategoy.db" Sprkategoy)",
    "ON  (Cdbase.Kategory = Sprkategoy.Num)", R"(INNER JOIN "base\SprType.db" Sprtype)",
    "ON  (Cdbase.Tip = Sprtype.N)",
};

// The condition line of the "all disks" builder; empty for none.
std::string conditionAll(int variant, std::string_view fragment) {
    const std::string like = "CDBase.Name like '%" + std::string(fragment) + "%'";
    switch (variant) {
        case 1:
            return {};
        case 2:
            return "Where SprKategoy.Num = :Num";
        case 3:
            return "Where SprType.N = :N";
        case 4:
            return "Where " + like;
        case 5:
            return "Where (SprKategoy.Num = :Num) and (SprType.N = :N) and (" + like + ")";
        case 6:
            return "Where (SprKategoy.Num = :Num) and (SprType.N = :N)";
        case 7:
            return "Where (SprKategoy.Num = :Num) and (" + like + ")";
        case 8:
            return "Where (SprType.N = :N) and (" + like + ")";
        default:
            throw std::invalid_argument("filter variant out of range");
    }
}

}  // namespace

std::vector<std::string> diskListLayout() {
    return {
        std::string(kSelectPlain),
        R"(FROM "base\CDBase.DB" Cdbase)",
        R"(   INNER JOIN "base\SprKategoy.db" Sprkategoy)",
        "   ON  (Cdbase.Kategory = Sprkategoy.Num)  ",
        R"(   INNER JOIN "base\SprType.db" Sprtype)",
        "   ON  (Cdbase.Tip = Sprtype.N)  ",
    };
}

std::vector<std::string> filterAll(int variant, std::string_view fragment) {
    std::vector<std::string> lines{selectLine(variant)};
    for (auto join : kJoins) lines.emplace_back(join);
    if (auto condition = conditionAll(variant, fragment); !condition.empty())
        lines.push_back(std::move(condition));
    return lines;
}

}  // namespace bench
