#pragma once

// The program's writes to a catalogue, sent with the very statement texts its
// commands use, through store::Query on a given database: the tests and their
// helper programs drive the store exactly as the windows will.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "statements/commands.h"
#include "store/database.h"
#include "store/error.h"
#include "store/value.h"

namespace writes {

using DatabasePtr = std::shared_ptr<store::Database>;

struct DiskFields {
    std::string name;
    std::string description;
    int64_t category = 1;
    int64_t mediaType = 1;
};

using Book = statements::Book;

// Lending and taking back run their two statements as one unit, so the lent
// flag and the loans never disagree, whatever stops the process between them.
void lendDisk(const DatabasePtr& db, int64_t disk, int64_t debtor, const store::Date& day);
void returnDisk(const DatabasePtr& db, int64_t disk, const store::Date& day);

void addDisk(const DatabasePtr& db, const DiskFields& disk);
void editDisk(const DatabasePtr& db, int64_t key, const DiskFields& disk);
void deleteDisk(const DatabasePtr& db, int64_t key);

void addEntry(const DatabasePtr& db, Book book, const std::string& name);
void renameEntry(const DatabasePtr& db, Book book, int64_t key, const std::string& name);
void deleteEntry(const DatabasePtr& db, Book book, int64_t key);

// The lent flag of a disk as the commands read it: "True", "False" or empty.
std::string lentFlag(const DatabasePtr& db, int64_t disk);

// The keys in one column of a statement's result, in result order.
std::vector<int64_t> keys(const DatabasePtr& db, std::vector<std::string> lines,
                          std::string_view column);

// The disk list, unfiltered, as the window's filter builds it.
std::vector<std::string> diskListLines();

// Every write command of the program, each on the first disk, category, media
// type and debtor of a demo catalogue, in an order a user might click them.
struct NamedWrite {
    std::string name;
    std::function<void(const DatabasePtr&)> run;
};
std::vector<NamedWrite> everyWriteCommand();

std::string_view kindName(store::Error::Kind kind);

// piece, times over.
std::string repeat(std::string_view piece, int times);

// Text a user might type that is awkward for statements, encodings or lengths: quotes,
// wildcards, backslashes, statement fragments, Cyrillic, emoji, line breaks, NUL,
// 255 characters, nothing at all.
struct AwkwardText {
    const char* name;
    std::string text;
};
const std::vector<AwkwardText>& awkwardTexts();

// Every file of a catalogue folder with its bytes: equal snapshots mean that
// nothing was written, and no journal was left behind.
std::map<std::string, std::string> folderBytes(const std::filesystem::path& dir);

}  // namespace writes
