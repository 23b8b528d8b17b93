#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "store/readmoment.h"

namespace store {

class Database;

// Told how many pages of the five files have been copied out of how many; false stops
// the copy.
using CopyProgress = std::function<bool(long long done, long long total)>;

// Copies the five table files of the catalogue that db holds into the folder destBase,
// which must not exist yet, all as of one moment: one read transaction holds every file
// while SQLite's online backup copies them one by one, so a loan can never be copied
// without its disk. Getting that moment waits for writers as wait allows. The copy is
// written into a temporary folder beside destBase and renamed only once complete: a
// failed or stopped copy leaves nothing behind. Only reads the catalogue. Throws store::Error
// (Kind::Stopped when progress said stop).
void copyCatalogue(const Database& db, const std::filesystem::path& destBase,
                   const CopyProgress& progress = {}, const WaitWhileBusy& wait = {});

// Copies dir/base into dest/base (dest is made when missing; an existing dest/base is
// never overwritten, nor a dest/base inside the catalogue's own folder) as of one moment,
// then checks the copy as checkCatalogue does and returns what the check found (empty: the
// copy is sound). Throws store::Error when the copy cannot be made; nothing is left behind
// then.
std::vector<std::string> backupCatalogue(const std::filesystem::path& dir,
                                         const std::filesystem::path& dest,
                                         const CopyProgress& progress = {},
                                         const WaitWhileBusy& wait = {});

}  // namespace store
