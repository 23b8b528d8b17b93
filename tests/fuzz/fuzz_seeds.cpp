// Writes the program's statements, one file each, into the folder given: the fuzz
// target starts from the very texts the windows run.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "statements/commands.h"
#include "statements/diskfilter.h"

namespace {

namespace fs = std::filesystem;

void write(const fs::path& dir, const std::string& name, const statements::Lines& lines) {
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    for (size_t i = 0; i < lines.size(); ++i) out << (i ? "\n" : "") << lines[i];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: fuzz_seeds DIR\n";
        return 2;
    }
    const fs::path dir = argv[1];
    fs::create_directories(dir);
    using statements::Book;
    write(dir, "lend_flag", statements::setLentFlag(3, true));
    write(dir, "lend", statements::openLoan());
    write(dir, "take_back", statements::closeOpenLoans());
    write(dir, "add_disk", statements::addDisk());
    write(dir, "edit_disk", statements::editDisk(2));
    write(dir, "delete_disk", statements::deleteDisk(1));
    write(dir, "disk_keys", statements::diskCategoryAndType());
    for (const auto& [book, name] :
         {std::pair{Book::Categories, "categories"}, std::pair{Book::MediaTypes, "media_types"},
          std::pair{Book::Debtors, "debtors"}}) {
        const std::string tag(name);
        write(dir, tag + "_add", statements::addEntry(book));
        write(dir, tag + "_rename", statements::renameEntry(book, "O''Brien", 3));
        write(dir, tag + "_count", statements::countUses(book, 12));
        write(dir, tag + "_delete", statements::deleteEntry(book, 4));
    }
    using diskfilter::Availability;
    for (const auto availability : {Availability::All, Availability::Available, Availability::Lent})
        for (int bits = 0; bits < 8; ++bits) {
            const diskfilter::Switches switches{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0};
            write(dir,
                  "filter" + std::to_string(static_cast<int>(availability)) + "_" +
                      std::to_string(diskfilter::variant(switches)),
                  diskfilter::build(availability, switches, "ab'c").lines);
        }
    return 0;
}
