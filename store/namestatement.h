#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace store {

// The table-valued function through which a statement reads the candidates that the
// copy of the disk names reports: korvalen_disk_candidates(pattern, category, media
// type, lent flag), one row per candidate disk, its key as the row's rowid. A field
// given as empty text is not tested.
inline constexpr std::string_view kCandidatesFunction = "korvalen_disk_candidates";

// For a SELECT (as translated for SQLite) whose condition requires the disk's name to
// be `like` a literal pattern, the same statement reading only the candidate disks:
// the function comes first in FROM, joined to the disk table by key, and every join
// becomes a CROSS JOIN so that SQLite keeps the disks in key order, as its scan gives
// them. The `like` and every other condition stay and still decide. Also passed on
// are the values the condition requires of the disk's category, media type and lent
// flag, directly or through the joins. Nothing when the statement is not of that
// plain shape (one SELECT, the disk table first, inner joins, conditions joined by
// AND only); it then runs as it is.
std::optional<std::string> narrowedByNames(std::string_view sql);

}  // namespace store
