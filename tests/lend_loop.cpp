// Test helper: lends and takes back disks of DIR/base at random, as fast as it
// can, until it is killed. Prints "ready" once the catalogue is open; exits
// with 1 and the message if the store ever refuses.
#include <iostream>
#include <random>
#include <string>

#include "tests/catalogue_writes.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: lend_loop DIR SEED\n";
        return 2;
    }
    try {
        const auto db = store::Database::open(std::filesystem::path(argv[1]) / "base");
        const auto disks = writes::keys(db, {"select N from 'base\\CDBase.db'"}, "N");
        const auto debtors = writes::keys(db, {"select N from 'base\\SprDolgnik.db'"}, "N");
        if (disks.empty() || debtors.empty()) {
            std::cerr << "lend_loop: the catalogue has no disks or no debtors\n";
            return 1;
        }
        std::cout << "ready" << std::endl;
        std::mt19937 rng(static_cast<unsigned>(std::stoul(argv[2])));
        const store::Date today = store::Date::today();
        for (;;) {
            const int64_t disk = disks[rng() % disks.size()];
            if (writes::lentFlag(db, disk) == "True")
                writes::returnDisk(db, disk, today);
            else
                writes::lendDisk(db, disk, debtors[rng() % debtors.size()], today);
        }
    } catch (const store::Error& e) {
        std::cerr << "lend_loop: " << e.what() << "\n";
        return 1;
    }
}
