#pragma once

#include <string>
#include <string_view>
#include <vector>

// The statement of the disk list under the filter: one select line, the five join
// lines and at most one condition line, picked by the availability choice and the
// three switches (eight variants per availability, 24 in all).
namespace diskfilter {

enum class Availability { All, Available, Lent };  // "Все", "В наличии", "На руках"

struct Switches {
    bool category = false;   // "Категория"
    bool mediaType = false;  // "Носитель"
    bool name = false;       // "Название содержит"
};

// A key compared by the statement: the media type's :N (from the media-type list's
// current row) or the category's :Num (from the category list's current row).
enum class Key { MediaType, Category };

struct Statement {
    std::vector<std::string> lines;
    std::vector<Key> parameters;  // in binding order
    // The same rows past the disk key :After: the list comes in key order, so a list
    // that let go of its statement reads on past its last disk with this one.
    std::vector<std::string> readOn;
    // With a name fragment: the same rows again, the disks taken from the copy of the
    // names (the store's candidates function), which hands over in key order only those
    // whose name, category, media type and lent flag may pass; the condition still
    // decides. Empty without a fragment. The store runs these while its copy is in step.
    std::vector<std::string> narrowed;
    std::vector<std::string> narrowedReadOn;
};

// The result column that holds the disk key.
inline constexpr std::string_view kKeyColumn = "N";

// A disk list statement's lines (select, joins, and a condition line where
// hasCondition) limited to disk keys above :After.
std::vector<std::string> readOnAfterKey(std::vector<std::string> lines, bool hasCondition);

// The variant number 1..8 of the switches.
int variant(const Switches& switches);

// The statement for an availability and the switches; nameFragment is used only
// with the name switch.
Statement build(Availability availability, const Switches& switches, std::string_view nameFragment);

// The name fragment as it goes between the quotes of the like pattern: a quote
// doubled so that it matches a quote instead of ending the literal; % and _ stay
// wildcards.
std::string quoteFragment(std::string_view fragment);

// The parameter name that the statement uses for a key; the list query's field
// that holds the key has the same name.
std::string_view parameterName(Key key);

}  // namespace diskfilter
