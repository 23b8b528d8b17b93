// korvalen-base: makes, fills and checks Korvalen catalogue folders.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "catalogue.h"
#include "catalogue_tools.h"
#include "error.h"

namespace {

int usage() {
    std::cerr << "Использование:\n"
                 "  korvalen-base create ПАПКА              пустой каталог в ПАПКА/base\n"
                 "  korvalen-base demo ПАПКА [--disks N]    демонстрационный каталог\n"
                 "  korvalen-base check ПАПКА               проверка каталога\n";
    return 2;
}

int check(const std::string& dir) {
    const auto problems = tools::checkCatalogue(dir);
    if (problems.empty()) {
        std::cout << "Каталог " << dir << "/base в порядке.\n";
        return 0;
    }
    for (const auto& p : problems) std::cout << p << "\n";
    std::cout << "Найдено ошибок: " << problems.size() << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string command = argv[1];
    const std::string dir = argv[2];
    try {
        if (command == "create" && argc == 3) {
            store::createCatalogue(dir);
            std::cout << "Создан пустой каталог " << dir << "/base\n";
            return 0;
        }
        if (command == "demo") {
            tools::DemoOptions options;
            for (int i = 3; i < argc; ++i) {
                if (std::strcmp(argv[i], "--disks") == 0 && i + 1 < argc) {
                    char* end = nullptr;
                    const long n = std::strtol(argv[++i], &end, 10);
                    if (*end != '\0' || n < 0 || n > 100000000) return usage();
                    options.disks = static_cast<int>(n);
                } else {
                    return usage();
                }
            }
            tools::makeDemo(dir, options);
            std::cout << "Создан демонстрационный каталог " << dir << "/base (" << options.disks
                      << " дисков)\n";
            return 0;
        }
        if (command == "check" && argc == 3) return check(dir);
    } catch (const store::Error& e) {
        std::cerr << "korvalen-base: " << e.what() << "\n";
        return 1;
    }
    return usage();
}
