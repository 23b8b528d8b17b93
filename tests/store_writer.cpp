// Test helper: opens DIR/base and runs every write command of the program (or
// those named after DIR) in turn, going on after each failure as the program
// does, then reads the disk list. One line per step: the command, then "ok" or
// the error's kind and message.
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "store/query.h"
#include "tests/catalogue_writes.h"

namespace {

void report(const std::string& step, const store::Error& e) {
    std::string message = e.what();
    for (char& c : message)
        if (c == '\n') c = ' ';
    std::cout << step << '\t' << writes::kindName(e.kind()) << '\t' << message << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: store_writer DIR [COMMAND...]\n";
        return 2;
    }
    writes::DatabasePtr db;
    try {
        db = store::Database::open(std::filesystem::path(argv[1]) / "base");
    } catch (const store::Error& e) {
        report("open", e);
        return 1;
    }
    const std::vector<std::string> only(argv + 2, argv + argc);
    for (const auto& command : writes::everyWriteCommand()) {
        if (!only.empty() && std::find(only.begin(), only.end(), command.name) == only.end())
            continue;
        try {
            command.run(db);
            std::cout << command.name << "\tok" << std::endl;
        } catch (const store::Error& e) {
            report(command.name, e);
        }
    }
    try {
        store::Query list(writes::diskListLines(), db);
        list.open();
        list.fetchAll();
        std::cout << "read disk list\t" << list.fetchedRows() << std::endl;
    } catch (const store::Error& e) {
        report("read disk list", e);
    }
    return 0;
}
