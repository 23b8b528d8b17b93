#pragma once

#include <string>
#include <string_view>

struct sqlite3;

namespace store {

// Registers on a connection what the catalogue's statements expect of text:
// a `like` that ignores letter case in every alphabet (ICU case folding) with
// % and _ as wildcards, and the collation RUSSIAN (ICU, Russian rules, case
// ignored, ё beside е) that the reference books' name fields are declared with.
// Returns an SQLite result code.
int registerTextFunctions(sqlite3* db);

// Full Unicode case folding of UTF-8 text; invalid bytes are kept as they are.
std::string foldCase(std::string_view utf8);

// The `like` of the catalogue: pattern with % and _ (and an optional escape
// character), compared after case folding.
bool likeMatch(std::string_view pattern, std::string_view text, char32_t escape = 0);

}  // namespace store
