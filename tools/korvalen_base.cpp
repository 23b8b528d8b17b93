// korvalen-base: makes, fills and checks Korvalen catalogue folders.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "contents/foundexport.h"
#include "store/backup.h"
#include "store/catalogue.h"
#include "store/check.h"
#include "store/contentsstore.h"
#include "store/database.h"
#include "store/error.h"
#include "store/partfile.h"
#include "store/readmoment.h"
#include "tools/catalogue_contents.h"
#include "tools/catalogue_demo.h"
#include "tools/catalogue_import.h"
#include "tools/catalogue_repair.h"
#include "tools/catalogue_reports.h"

namespace {

// To standard error, with exit code 2, for wrong arguments; to standard output for --help.
int usage(std::ostream& out = std::cerr) {
    out << "Использование:\n"
           "  korvalen-base create ПАПКА              пустой каталог в ПАПКА/base\n"
           "  korvalen-base demo ПАПКА [--disks N] [--files N]\n"
           "      демонстрационный каталог; --files: сколько всего файлов на его дисках\n"
           "  korvalen-base check ПАПКА               проверка каталога\n"
           "  korvalen-base repair ПАПКА              перестройка таблиц, объявленных не так,\n"
           "                                          и удаление лишнего (триггеров и т. п.)\n"
           "  korvalen-base import СТАРАЯ_ПАПКА НОВАЯ_ПАПКА [--codepage N]\n"
           "      перенос каталога прежней программы из СТАРАЯ_ПАПКА/base\n"
           "  korvalen-base export ПАПКА --what disks|loans|contents [--disk ДИСК]\n"
           "                     --format csv|html|ods [ФАЙЛ] [--no-bom] [--wait СЕКУНД]\n"
           "      список дисков, история выдачи или содержимое прочитанных дисков (строка\n"
           "      на папку, файл и дорожку; --disk: только диска № ДИСК) в CSV, HTML или\n"
           "      таблицу OpenDocument (плоский XML, .fods); без ФАЙЛ: в вывод. CSV\n"
           "      начинается с метки UTF-8 (BOM), по которой её узнают табличные\n"
           "      программы; --no-bom: без неё\n"
           "  korvalen-base backup ПАПКА КУДА [--wait СЕКУНД]\n"
           "      копия каталога в КУДА/base и её проверка\n"
           "  korvalen-base scan ПАПКА ДИСК ИСТОЧНИК\n"
           "      чтение содержимого диска № ДИСК из папки, точки монтирования, образа\n"
           "      (ISO 9660, UDF, CUE) или привода; прежнее содержимое заменяется целиком\n"
           "  korvalen-base contents ПАПКА ДИСК\n"
           "      содержимое диска: размер, дата изменения и путь через табуляцию\n"
           "      (у папок размер пуст, путь кончается на /); у звукового диска дорожки\n"
           "  korvalen-base find ПАПКА ОБРАЗЕЦ [--format csv|html|ods]\n"
           "      папки и файлы всех дисков, в имени которых есть ОБРАЗЕЦ (без учёта\n"
           "      регистра; % и _ — обычные знаки): номер и название диска, путь, размер;\n"
           "      с --format: таблица, как её сохраняет окно «Найти файл»\n"
           "  --wait: сколько ждать каталог, занятый другой программой (по умолчанию 30 с)\n"
           "  korvalen-base --help | --version\n";
    return 2;
}

int check(const std::string& dir) {
    const auto problems = store::checkCatalogue(dir);
    if (problems.empty()) {
        std::cout << "Каталог " << dir << "/base в порядке.\n";
        return 0;
    }
    for (const auto& p : problems) std::cout << p << "\n";
    std::cout << "Найдено ошибок: " << problems.size() << "\n";
    return 1;
}

// Rebuilds what check names for repair, then checks again.
int repair(const std::string& dir) {
    const auto done = tools::repairCatalogue(dir);
    if (done.empty()) std::cout << "Перестраивать нечего.\n";
    for (const auto& line : done) std::cout << line << "\n";
    return check(dir);
}

// korvalen-base import OLD NEW [--codepage N]
int import(int argc, char** argv) {
    if (argc != 4 && argc != 6) return usage();
    tools::ImportOptions options;
    if (argc == 6) {
        char* end = nullptr;
        const long cp = std::strtol(argv[5], &end, 10);
        if (std::strcmp(argv[4], "--codepage") != 0 || *end != '\0' || cp <= 0 || cp > 65535)
            return usage();
        options.codePage = static_cast<int>(cp);
    }
    try {
        std::cout << tools::describe(tools::importCatalogue(argv[2], argv[3], options));
        return 0;
    } catch (const store::Error& e) {
        std::cerr << "korvalen-base: " << e.what() << "\nНовый каталог не создан.\n";
        return 1;
    }
}

// Names what a killed earlier run left and this one removed.
void tellRemoved(const std::vector<std::filesystem::path>& leftovers, const char* ofWhat) {
    for (const auto& leftover : leftovers)
        std::cerr << "Удалён остаток прерванной " << ofWhat << ": " << leftover.string() << "\n";
}

// How long export and backup wait for a catalogue that another program keeps writing.
constexpr double kDefaultWaitSeconds = 30;

// The seconds of "--wait SECONDS"; none for anything else.
std::optional<double> waitSeconds(const char* text) {
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(seconds >= 0) || seconds > 86400) return std::nullopt;
    return seconds;
}

store::WaitWhileBusy waitingUpTo(double seconds) {
    return [seconds](double waited) { return waited < seconds; };
}

// The disk's key of "DISK"; none for anything but a whole number.
std::optional<int64_t> diskKey(const char* text) {
    char* end = nullptr;
    errno = 0;
    const long long key = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0) return std::nullopt;
    return key;
}

// korvalen-base export DIR --what disks|loans|contents [--disk N] --format csv|html|ods
// [OUT] [--no-bom] [--wait SECONDS]
int exportTable(int argc, char** argv) {
    std::optional<tools::ExportWhat> what;
    std::optional<int64_t> disk;
    std::optional<reports::Format> format;
    std::optional<std::string> out;
    double wait = kDefaultWaitSeconds;
    bool byteOrderMark = true;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--wait" && i + 1 < argc) {
            const auto seconds = waitSeconds(argv[++i]);
            if (!seconds) return usage();
            wait = *seconds;
        } else if (arg == "--what" && i + 1 < argc) {
            const std::string v = argv[++i];
            if (v == "disks") what = tools::ExportWhat::Disks;
            if (v == "loans") what = tools::ExportWhat::Loans;
            if (v == "contents") what = tools::ExportWhat::Contents;
            if (!what) return usage();
        } else if (arg == "--disk" && i + 1 < argc) {
            disk = diskKey(argv[++i]);
            if (!disk) return usage();
        } else if (arg == "--format" && i + 1 < argc) {
            const std::string v = argv[++i];
            if (v == "csv") format = reports::Format::Csv;
            if (v == "html") format = reports::Format::Html;
            if (v == "ods") format = reports::Format::Ods;
            if (!format) return usage();
        } else if (arg == "--no-bom") {
            byteOrderMark = false;
        } else if (!out && arg.rfind("--", 0) != 0) {
            out = arg;
        } else {
            return usage();
        }
    }
    if (!what || !format || (disk && what != tools::ExportWhat::Contents)) return usage();
    try {
        if (!out) {
            tools::exportCatalogue(argv[2], *what, *format, std::cout, {}, waitingUpTo(wait),
                                   byteOrderMark, disk);
            return std::cout ? 0 : 1;
        }
        tellRemoved(store::removeKilledParts(store::throughLinks(*out)), "выгрузки");
        const long long rows = tools::exportCatalogueToFile(argv[2], *what, *format, *out, {},
                                                            waitingUpTo(wait), byteOrderMark,
                                                            disk);
        std::cerr << "Записано строк: " << rows << " в " << *out << "\n";
        return 0;
    } catch (const store::Error& e) {
        std::cerr << "korvalen-base: " << e.what() << "\n";
        return 1;
    }
}

// korvalen-base backup DIR DEST [--wait SECONDS]
int backup(int argc, char** argv) {
    double wait = kDefaultWaitSeconds;
    if (argc == 6 && std::strcmp(argv[4], "--wait") == 0) {
        const auto seconds = waitSeconds(argv[5]);
        if (!seconds) return usage();
        wait = *seconds;
    } else if (argc != 4) {
        return usage();
    }
    const std::string dir = argv[2];
    const std::string dest = argv[3];
    try {
        tellRemoved(
            store::removeKilledParts(std::filesystem::path(dest) / std::string(store::kBaseFolder)),
            "копии");
        const auto problems = store::backupCatalogue(dir, dest, {}, waitingUpTo(wait));
        if (problems.empty()) {
            std::cout << "Копия каталога записана в " << dest << "/base и проверена: в порядке.\n";
            return 0;
        }
        std::cout << "Копия каталога записана в " << dest << "/base, но проверка нашла ошибки:\n";
        for (const auto& p : problems) std::cout << p << "\n";
        return 1;
    } catch (const store::Error& e) {
        std::cerr << "korvalen-base: " << e.what() << "\nКопия не записана.\n";
        return 1;
    }
}

// korvalen-base scan DIR DISK SOURCE
int scan(int argc, char** argv) {
    const auto disk = argc == 5 ? diskKey(argv[3]) : std::nullopt;
    if (!disk) return usage();
    try {
        const auto read = tools::scanDisk(argv[2], *disk, argv[4]);
        std::cout << "Содержимое диска № " << *disk << " прочитано из " << argv[4] << ": папок "
                  << read.folders << ", файлов " << read.files;
        if (read.unreadable > 0) std::cout << ", не прочитано " << read.unreadable;
        std::cout << ".\n";
        return 0;
    } catch (const std::exception& e) {  // store::Error, store::ReadFailed
        std::cerr << "korvalen-base: " << e.what() << "\nСодержимое диска не изменено.\n";
        return 1;
    }
}

// korvalen-base contents DIR DISK
int diskContents(int argc, char** argv) {
    const auto disk = argc == 4 ? diskKey(argv[3]) : std::nullopt;
    if (!disk) return usage();
    try {
        if (!tools::printContents(argv[2], *disk, std::cout))
            std::cerr << "Содержимое диска № " << *disk << " ещё не прочитано.\n";
        return std::cout ? 0 : 1;
    } catch (const store::Error& e) {
        std::cerr << "korvalen-base: " << e.what() << "\n";
        return 1;
    }
}

// korvalen-base find DIR FRAGMENT [--format csv|html|ods]
int find(int argc, char** argv) {
    std::optional<reports::Format> format;
    if (argc == 6 && std::strcmp(argv[4], "--format") == 0) {
        const std::string v = argv[5];
        if (v == "csv") format = reports::Format::Csv;
        if (v == "html") format = reports::Format::Html;
        if (v == "ods") format = reports::Format::Ods;
        if (!format) return usage();
    } else if (argc != 4) {
        return usage();
    }
    try {
        if (format) {
            const auto db = store::Database::open(std::filesystem::path(argv[2]) /
                                                  std::string(store::kBaseFolder));
            contents::exportFound(*db, {argv[3], {}, {}, 0}, *format, std::cout);
        } else {
            tools::printFound(argv[2], argv[3], std::cout);
        }
        return std::cout ? 0 : 1;
    } catch (const store::Error& e) {
        std::cerr << "korvalen-base: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        usage(std::cout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "korvalen-base " KORVALEN_VERSION "\n";
        return 0;
    }
    if (argc < 3) return usage();
    if (std::strcmp(argv[1], "import") == 0) return import(argc, argv);
    if (std::strcmp(argv[1], "export") == 0) return exportTable(argc, argv);
    if (std::strcmp(argv[1], "backup") == 0) return backup(argc, argv);
    if (std::strcmp(argv[1], "scan") == 0) return scan(argc, argv);
    if (std::strcmp(argv[1], "contents") == 0) return diskContents(argc, argv);
    if (std::strcmp(argv[1], "find") == 0) return find(argc, argv);
    const std::string command = argv[1];
    const std::string dir = argv[2];
    try {
        if (command == "create" && argc == 3) {
            store::createCatalogue(dir);
            store::createContentsFile(std::filesystem::path(dir) / std::string(store::kBaseFolder));
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
                } else if (std::strcmp(argv[i], "--files") == 0 && i + 1 < argc) {
                    char* end = nullptr;
                    const long long n = std::strtoll(argv[++i], &end, 10);
                    if (*end != '\0' || n < 0 || n > 1000000000) return usage();
                    options.files = n;
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
        if (command == "repair" && argc == 3) return repair(dir);
    } catch (const store::Error& e) {
        std::cerr << "korvalen-base: " << e.what() << "\n";
        return 1;
    }
    return usage();
}
