#include "tools/catalogue_demo.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <numeric>
#include <random>
#include <string_view>
#include <vector>

#include "store/catalogue.h"
#include "store/contentsstore.h"
#include "store/database.h"
#include "store/error.h"
#include "store/statement.h"
#include "store/value.h"
#include "tools/demo_contents.h"

namespace tools {
namespace {

namespace fs = std::filesystem;
using store::Database;
using store::Statement;
using store::Table;

// One category of the demo: names and description lines that fit it, and the media it
// is usually kept on (numbers in kMedia, from 1).
struct DemoCategory {
    const char* name;
    int weight;  // how many disks of it, relative to the others
    // A name given again, numbered from 2 ("{}" is the number); empty: a year instead.
    const char* again;
    std::vector<const char*> titles;
    std::vector<const char*> notes;
    std::vector<int> media;
};

const std::vector<DemoCategory>& demoCategories() {
    static const std::vector<DemoCategory> categories = {
        {"Фильмы",
         14,
         " (диск {})",
         {"Брат",
          "Брат 2",
          "Москва слезам не верит",
          "Иван Васильевич меняет профессию",
          "Бриллиантовая рука",
          "Кавказская пленница",
          "Операция «Ы»",
          "Осенний марафон",
          "Служебный роман",
          "Мимино",
          "Любовь и голуби",
          "Ирония судьбы",
          "Белое солнце пустыни",
          "Сталкер",
          "Солярис",
          "Матрица",
          "Назад в будущее",
          "Криминальное чтиво",
          "Форрест Гамп",
          "Леон",
          "Титаник",
          "Побег из Шоушенка",
          "Зелёная миля",
          "Властелин колец: Братство кольца",
          "Гладиатор",
          "Amélie",
          "The Big Lebowski",
          "Pulp Fiction",
          "Fight Club",
          "Кин-дза-дза!"},
         {"Лицензия, русский дубляж.", "Две звуковые дорожки: русская и английская.",
          "Режиссёрская версия, с дополнительными сценами.", "Субтитры: русские, английские.",
          "Изображение 16:9, звук Dolby Digital 5.1.", "Записано с телевизора, без рекламы.",
          "Бонусы: фильм о фильме, интервью с актёрами.", "Коробка с картонной обложкой.",
          "Качество DVDRip, 1,4 ГБ.", "Регион 5."},
         {3, 4, 6, 7}},
        {"Музыка",
         14,
         " (диск {})",
         {"Кино — Группа крови",
          "Кино — Звезда по имени Солнце",
          "ДДТ — Актриса весна",
          "Аквариум — Радио Африка",
          "Наутилус Помпилиус — Разлука",
          "Алиса — Шабаш",
          "Машина времени — Лучшие песни",
          "Земфира — Земфира",
          "Сплин — Гранатовый альбом",
          "Мумий Тролль — Морская",
          "Чайф — Лучшие хиты",
          "Любэ — Лучшие хиты",
          "Queen — Greatest Hits",
          "The Beatles — Abbey Road",
          "Pink Floyd — The Wall",
          "Led Zeppelin — IV",
          "Deep Purple — Machine Head",
          "Metallica — Black Album",
          "Nirvana — Nevermind",
          "ABBA — Gold",
          "Depeche Mode — Violator",
          "Хиты 80-х, сборник",
          "Хиты Европы Плюс 1999",
          "Дискотека 90-х: хиты",
          "Шансон года 2005",
          "Чайковский — Времена года",
          "Бах — Бранденбургские концерты",
          "Моцарт — Реквием",
          "Вивальди — Времена года",
          "Джаз: лучшие хиты"},
         {"Формат MP3, 320 кбит/с.", "Формат FLAC, без потерь.", "Audio CD, 74 минуты.",
          "Оригинальный диск с буклетом.", "Копия с виниловой пластинки.", "Есть бонус-треки.",
          "Ремастеринг.", "Обложка распечатана на принтере.", "Теги и обложки альбомов на месте.",
          "Подарок на день рождения."},
         {1, 2}},
        {"Игры",
         8,
         " (диск {})",
         {"Heroes of Might and Magic III",
          "Civilization II",
          "Аллоды: Печать тайны",
          "Космические рейнджеры",
          "Ил-2 Штурмовик",
          "Сталкер: Тень Чернобыля",
          "Half-Life",
          "Half-Life 2",
          "StarCraft",
          "Warcraft III",
          "Diablo II",
          "Fallout 2",
          "The Sims",
          "Need for Speed: Underground",
          "Quake III Arena",
          "Counter-Strike 1.6",
          "Мор. Утопия",
          "Блицкриг",
          "Дальнобойщики 2",
          "Age of Empires II"},
         {"Лицензия от 1С.", "Ключ записан на вкладыше.", "Нужен образ второго диска.",
          "Установлены последние патчи.", "Русская версия, полный перевод.", "Английская версия.",
          "Сохранения в папке SAVES.", "Требует DirectX 9.", "Работает под Windows XP.",
          "Мультиплеер по локальной сети."},
         {1, 2, 3, 4}},
        {"Программы",
         6,
         " (диск {})",
         {"Microsoft Office 2003", "Microsoft Office 2007", "Windows XP SP2", "Windows XP SP3",
          "Windows 7 Ultimate", "Adobe Photoshop 7.0", "CorelDRAW 12", "Антивирус Касперского 7.0",
          "Nero Burning ROM 7", "1С: Предприятие 8", "Консультант Плюс, выпуск весна 2008",
          "AutoCAD 2006", "Debian GNU/Linux 4.0", "Ubuntu 8.04", "Набор бесплатных программ"},
         {"Ключ на наклейке коробки.", "Загрузочный диск.", "Дистрибутив с обновлениями.",
          "Русская версия.", "Английская версия с русификатором.",
          "Образ ISO, проверен по контрольной сумме.", "Серийный номер в файле SERIAL.TXT.",
          "Требует активации по телефону."},
         {1, 3, 5}},
        {"Фотографии",
         10,
         "",
         {"Фото: отпуск в Крыму", "Фото: свадьба Ани и Серёжи", "Фото: Новый год у родителей",
          "Фото: дача, лето", "Фото: выпускной", "Фото: поход на Алтай", "Фото: день рождения Маши",
          "Фото: Петербург, белые ночи", "Фото: первый класс", "Фото: сканы старого альбома",
          "Фото: Карелия, байдарки", "Фото: Сочи"},
         {"Снимки в JPEG, оригинальный размер.", "Отобраны лучшие, остальные на винчестере.",
          "Есть короткие видеоролики.", "Подписаны по дням.", "Копия для бабушки.",
          "Отсканировано в 600 dpi."},
         {1, 3, 4}},
        {"Документы",
         5,
         "",
         {"Документы: налоговая декларация", "Сканы паспортов и свидетельств", "Дипломная работа",
          "Рабочие документы", "Договоры и квитанции", "Резюме и рекомендации",
          "Документы на квартиру", "Медицинские карты"},
         {"Сканы в PDF.", "Документы Word и Excel.", "Зашифровано, пароль известен.",
          "Копия на флешке.", "Оригиналы в папке на полке."},
         {1, 2, 5}},
        {"Обучение",
         4,
         ", часть {}",
         {"English Grammar in Use", "Самоучитель C++", "Курс 1С: Бухгалтерия",
          "Английский для начинающих", "Видеокурс по фотографии", "Уроки игры на гитаре",
          "Математика: подготовка к ЕГЭ", "Энциклопедия Кирилла и Мефодия",
          "Большая советская энциклопедия", "Учим немецкий"},
         {"Аудио и упражнения.", "Видеоуроки, 12 занятий.", "С ответами к упражнениям.",
          "Нужна программа для чтения DjVu.", "Для школьников старших классов."},
         {1, 3}},
        {"Мультфильмы",
         6,
         " (сборник {})",
         {"Ну, погоди! (выпуски 1–8)", "Ёжик в тумане", "Трое из Простоквашино",
          "Каникулы в Простоквашино", "Винни-Пух", "Малыш и Карлсон", "Смешарики", "Шрек",
          "Король Лев", "Корпорация монстров", "В поисках Немо", "Бременские музыканты",
          "Маша и Медведь", "Тайна третьей планеты"},
         {"Для детей, смотрим всей семьёй.", "Сборник, 2 часа.", "Реставрированная версия.",
          "Русский дубляж.", "Есть караоке с песнями.", "Коробка подписана фломастером."},
         {3, 4, 6}},
        {"Аудиокниги",
         5,
         ", диск {}",
         {"Мастер и Маргарита", "Война и мир, том 1", "Преступление и наказание",
          "Двенадцать стульев", "Золотой телёнок", "Понедельник начинается в субботу",
          "Пикник на обочине", "Собачье сердце", "Хоббит", "Шерлок Холмс: рассказы"},
         {"Читает автор.", "Читает Олег Табаков.", "Спектакль, радиопостановка.",
          "Формат MP3, 128 кбит/с.", "Полная версия без сокращений."},
         {1, 2, 3}},
        {"Сериалы",
         7,
         " (диск {})",
         {"Друзья, сезон 1", "Друзья, сезон 2", "Бригада, серии 1–6", "Бригада, серии 7–15",
          "Семнадцать мгновений весны", "Место встречи изменить нельзя",
          "Шерлок Холмс и доктор Ватсон", "Остаться в живых, сезон 1", "Доктор Хаус, сезон 1",
          "Улицы разбитых фонарей", "Твин Пикс", "Секретные материалы, сезон 1"},
         {"Все серии сезона.", "Серии в формате AVI.", "Русская озвучка.",
          "Не хватает последней серии.", "С субтитрами."},
         {3, 4, 6}},
        {"Резервные копии",
         6,
         "",
         {"Резервная копия: Мои документы", "Резервная копия: почта", "Backup: рабочий ноутбук",
          "Резервная копия: бухгалтерия", "Архив переписки", "Резервная копия: сайт",
          "Копия системного диска"},
         {"Архив ZIP по папкам.", "Проверено: открывается.", "Полная копия на дату записи.",
          "Только новые файлы за месяц.", "Сделано программой Acronis."},
         {2, 5}},
        {"Drivers",
         3,
         " (версия {})",
         {"Драйверы материнской платы ASUS P5K", "NVIDIA ForceWare 169.21", "ATI Catalyst 8.3",
          "Драйверы принтера HP LaserJet 1020", "Драйверы сканера Canon LiDE", "Realtek HD Audio",
          "Драйверы ноутбука Acer Aspire", "Драйверы модема ZyXEL"},
         {"С диска, что шёл в комплекте.", "Версия для Windows XP.", "Версия для Windows 7.",
          "Скачано с сайта производителя."},
         {1}},
    };
    return categories;
}

constexpr std::array kMedia = {"CD-R", "CD-RW", "DVD-R", "DVD+R", "DVD-RW", "DVD-9", "Blu-ray"};
constexpr std::array kDebtors = {
    "Иванов Сергей",  "Петрова Анна", "Сидоров Алексей", "Ёлкина Мария",   "Кузнецов Дмитрий",
    "Смирнова Ольга", "Волков Игорь", "Морозова Елена",  "Андрей (сосед)", "O'Brien Patrick",
};
// Lines any disk may carry beside those of its category.
constexpr std::array kCommonNotes = {
    "Диск слегка поцарапан, читается.",
    "Хранится в коробке на верхней полке.",
    "Есть вторая копия.",
    "Надпись маркером на диске.",
    "Вкладыш потерян.",
};

store::Date daysBefore(const store::Date& base, int days) {
    std::tm t{};
    t.tm_year = base.year - 1900;
    t.tm_mon = base.month - 1;
    t.tm_mday = base.day - days;
    t.tm_hour = 12;
    std::mktime(&t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
}

// A reference book's names, keys given in order from 1.
template <typename Names>
void insertNames(const Database& db, Table book, const Names& names) {
    Statement insert(db, store::insertRowSql(store::table(book)));
    for (const char* name : names) {
        insert.bindNull(1);
        insert.bindText(2, name);
        insert.run();
    }
}

// The k-th disk of a category takes the k-th of its titles (in an order shuffled once).
// When they run out they come round again numbered ("(диск 2)", ", часть 2"), or, for
// the categories kept by year, with another year.
std::string demoName(const DemoCategory& category, const std::vector<size_t>& order, size_t k) {
    const size_t round = k / order.size();
    const size_t title = k % order.size();
    std::string name = category.titles[order[title]];
    if (std::string_view(category.again).empty()) {
        name += ", " + std::to_string(2012 - (round + title * 7) % 13);
        return round < 13 ? name : name + " (" + std::to_string(round / 13 + 1) + ")";
    }
    if (round == 0) return name;
    std::string again = category.again;
    again.replace(again.find("{}"), 2, std::to_string(round + 1));
    return name + again;
}

// One to three of the category's lines, now and then a common one, none twice.
std::string demoDescription(const DemoCategory& category, std::mt19937& rng) {
    std::vector<const char*> lines = category.notes;
    std::shuffle(lines.begin(), lines.end(), rng);
    lines.resize(std::min<size_t>(lines.size(), 1 + rng() % 3));
    if (rng() % 4 == 0) lines.push_back(kCommonNotes[rng() % kCommonNotes.size()]);
    std::string text;
    for (const char* line : lines) text += (text.empty() ? "" : "\r\n") + std::string(line);
    return text;
}

struct DemoLoan {
    int outDaysAgo;
    int backDaysAgo;  // -1: still out
};

// A disk's loans, oldest first: for some disks a few that came back over the last three
// years, and for one disk in twelve (the third, the fifteenth, ... so that even a small
// demo has one) one that is still out, now and then for months.
std::vector<DemoLoan> demoLoans(int disk, std::mt19937& rng) {
    std::vector<DemoLoan> loans;
    const bool outNow = disk % 12 == 3;
    int before = outNow ? static_cast<int>(rng() % 200) : 0;
    if (outNow) loans.push_back({before, -1});
    const int returned = rng() % 100 < 25 ? 1 + static_cast<int>(rng() % 3) : 0;
    for (int i = 0; i < returned; ++i) {
        const int back = before + 3 + static_cast<int>(rng() % 150);
        const int out = back + 1 + static_cast<int>(rng() % 45);
        if (out > 3 * 365) break;
        loans.push_back({out, back});
        before = out;
    }
    std::reverse(loans.begin(), loans.end());
    return loans;
}

// What a disk of each category holds, in the order of demoCategories().
DemoShape shapeOf(size_t category) {
    constexpr std::array kShapes = {
        DemoShape::Video,      DemoShape::Audio,      DemoShape::Installer, DemoShape::Installer,
        DemoShape::Photos,     DemoShape::Documents,  DemoShape::Documents, DemoShape::Video,
        DemoShape::Recordings, DemoShape::Recordings, DemoShape::Backup,    DemoShape::Installer,
    };
    return category < kShapes.size() ? kShapes[category] : DemoShape::Documents;
}

std::vector<DemoDisk> fillDemo(const Database& db, const DemoOptions& options) {
    std::mt19937 rng(options.seed);
    const auto& categories = demoCategories();

    db.writeWithoutJournal();
    Database::Transaction tx(db);
    std::vector<const char*> categoryNames;
    for (const DemoCategory& c : categories) categoryNames.push_back(c.name);
    insertNames(db, Table::Categories, categoryNames);
    insertNames(db, Table::MediaTypes, kMedia);
    insertNames(db, Table::Debtors, kDebtors);
    std::vector<int> weights;
    std::vector<std::vector<size_t>> titleOrder;
    for (const DemoCategory& c : categories) {
        weights.push_back(c.weight);
        std::vector<size_t> order(c.titles.size());
        std::iota(order.begin(), order.end(), size_t{0});
        std::shuffle(order.begin(), order.end(), rng);
        titleOrder.push_back(std::move(order));
    }
    std::discrete_distribution<size_t> whichCategory(weights.begin(), weights.end());
    std::vector<size_t> disksOf(categories.size(), 0);

    // Disks: N, Name, Opisan, Kategory, Tip, Dolg. Loans: NomCD, Dolgnik, DatN, DatK, Dolg.
    Statement disk(db, store::insertRowSql(store::table(Table::Disks)));
    Statement loan(db, store::insertRowSql(store::table(Table::Loans)));
    const store::Date today = store::Date::today();
    struct DemoLending {
        int64_t disk;
        int64_t debtor;
        DemoLoan loan;
    };
    std::vector<DemoLending> lending;
    std::vector<DemoDisk> made;
    for (int n = 1; n <= options.disks; ++n) {
        const size_t c = whichCategory(rng);
        const DemoCategory& category = categories[c];
        const std::vector<DemoLoan> loans = demoLoans(n, rng);
        const bool outNow = !loans.empty() && loans.back().backDaysAgo < 0;
        disk.bindNull(1);
        const std::string name = demoName(category, titleOrder[c], disksOf[c]++);
        made.push_back({n, name, shapeOf(c)});
        disk.bindText(2, name);
        disk.bindText(3, demoDescription(category, rng));
        disk.bindInt64(4, static_cast<int64_t>(c) + 1);
        disk.bindInt64(5, category.media[rng() % category.media.size()]);
        disk.bindInt64(6, outNow ? 1 : 0);
        disk.run();
        for (const DemoLoan& l : loans)
            lending.push_back({n, static_cast<int64_t>(1 + rng() % kDebtors.size()), l});
    }
    // Loans are entered on the day they start, so the table holds them in time order, as
    // the program itself writes them (the loan history lists them in that order).
    std::stable_sort(lending.begin(), lending.end(), [](const auto& a, const auto& b) {
        return a.loan.outDaysAgo > b.loan.outDaysAgo;
    });
    for (const DemoLending& l : lending) {
        loan.bindInt64(1, l.disk);
        loan.bindInt64(2, l.debtor);
        loan.bindText(3, daysBefore(today, l.loan.outDaysAgo).iso());
        if (l.loan.backDaysAgo < 0)
            loan.bindNull(4);
        else
            loan.bindText(4, daysBefore(today, l.loan.backDaysAgo).iso());
        loan.bindInt64(5, l.loan.backDaysAgo < 0 ? 1 : 0);
        loan.run();
    }
    tx.commit();
    return made;
}

}  // namespace

void makeDemo(const fs::path& dir, const DemoOptions& options) {
    store::createCatalogue(dir);
    try {
        const fs::path base = dir / std::string(store::kBaseFolder);
        auto db = Database::open(base);
        const auto disks = fillDemo(*db, options);
        store::createContentsFile(base);
        fillDemoContents(*db, disks, options.files, options.seed);
    } catch (...) {
        std::error_code ec;
        fs::remove_all(dir / std::string(store::kBaseFolder), ec);  // nothing half-made stays
        throw;
    }
}

}  // namespace tools
