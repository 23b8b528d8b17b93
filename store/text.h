#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace store {

// Registers on a connection what the catalogue's statements expect of text:
// a `like` that ignores letter case in every alphabet (ICU case folding) with
// % and _ as wildcards, and the collation RUSSIAN (ICU, Russian rules, case
// ignored, ё beside е) that the reference books' name fields are declared with.
// Returns an SQLite result code.
// Also korvalen_fold(x): x's bytes as nameIndexFold writes them (the file names' index).
int registerTextFunctions(sqlite3* db);
inline constexpr std::string_view kFoldFunction = "korvalen_fold";

// Full Unicode case folding of UTF-8 text; invalid bytes are kept as they are.
std::string foldCase(std::string_view utf8);

// The `like` of the catalogue: pattern with % and _ (and an optional escape
// character), compared after case folding.
bool likeMatch(std::string_view pattern, std::string_view text, char32_t escape = 0);

// The text as the catalogue's `like` compares it: case folded, each invalid byte
// written as a lone surrogate (ED B2|B3 xx) that no valid text yields.
std::string likeFolded(std::string_view utf8);
// The same into out, reusing its storage.
void likeFold(std::string_view utf8, std::string& out);
// A file name as the file names' index keeps it: likeFold, and '/' (the index's separator
// between names, which no file system lets a name hold) written as U+2215.
void nameIndexFold(std::string_view name, std::string& out);
inline constexpr char kNameSeparator = '/';

struct CompiledLike;

// A `like` pattern compiled as the catalogue's `like` compiles it, for matching text
// that likeFolded has already folded (a copy of the names kept folded).
class LikePattern {
public:
    explicit LikePattern(std::string_view pattern, char32_t escape = 0);
    ~LikePattern();
    LikePattern(LikePattern&&) noexcept;
    LikePattern& operator=(LikePattern&&) noexcept;

    bool matchesFolded(std::string_view folded) const;
    // The pattern between its %: each segment a run of pieces, a piece so many _ then
    // a literal (folded, whole characters; the last piece's may be empty).
    struct Piece {
        int anyBefore = 0;
        std::string literal;
    };
    using Segment = std::vector<Piece>;
    std::vector<Segment> segments() const;
    // True for %literal% (or only %): a text matches exactly when it holds the literal.
    bool isContains() const;

private:
    std::unique_ptr<CompiledLike> p_;
};

}  // namespace store
