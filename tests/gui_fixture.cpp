#include "gui_fixture.h"

#include <QTest>

#include "Unit1.h"
#include "catalogue.h"
#include "database.h"

const std::vector<GuiFixture::Disk>& GuiFixture::disks() {
    static const std::vector<Disk> rows = {
        {1, QStringLiteral("Abbey Road"), 1, 1, false},
        {2, QStringLiteral("Матрица"), 2, 2, true},
        {3, QStringLiteral("Rock'n'Roll"), 1, 1, true},
        {4, QStringLiteral("Тетрис"), 3, 1, false},
        {5, QStringLiteral("Потерянный диск"), 9, 1, false},
        {6, QStringLiteral("Abc 100%"), 3, 2, false},
        {7, QStringLiteral("Road_trip"), 2, 1, false},
    };
    return rows;
}

GuiFixture::GuiFixture() {
    QVERIFY2(dir_.isValid(), "no temporary folder");
    store::createCatalogue(dir_.path().toStdString());
    exec(
        "INSERT INTO sprkategoy_db.SprKategoy(Num, Name) VALUES (1, 'Музыка'), (2, 'Фильмы'), "
        "(3, 'Игры')");
    exec("INSERT INTO sprtype_db.SprType(N, Tip) VALUES (1, 'CD'), (2, 'DVD')");
    exec("INSERT INTO sprdolgnik_db.SprDolgnik(N, Dolgnik) VALUES (1, 'Иванов'), (2, 'Петров')");
    for (const Disk& d : disks()) {
        QString name = d.name;
        name.replace(QLatin1Char('\''), QStringLiteral("''"));
        exec(QStringLiteral("INSERT INTO CDBase(N, Name, Opisan, Kategory, Tip, Dolg) "
                            "VALUES (%1, '%2', 'Описание: %2', %3, %4, %5)")
                 .arg(d.n)
                 .arg(name)
                 .arg(d.category)
                 .arg(d.mediaType)
                 .arg(d.lent ? 1 : 0)
                 .toStdString());
    }
    exec(
        "INSERT INTO dolg_db.Dolg(NomCD, Dolgnik, DatN, DatK, Dolg) VALUES "
        "(2, 1, '2024-03-01', NULL, 1), (3, 2, '2024-03-05', NULL, 1), "
        "(1, 2, '2024-01-10', '2024-02-01', 0)");
}

GuiFixture::~GuiFixture() {
    store::Database::resetDefault();
    if (!previousDir_.isEmpty()) QDir::setCurrent(previousDir_);
}

void GuiFixture::exec(const std::string& sql) const {
    store::Database::open((dir_.path() + QStringLiteral("/base")).toStdString())->execRaw(sql);
}

void GuiFixture::enter() {
    if (previousDir_.isEmpty()) previousDir_ = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    store::Database::resetDefault();
}

WindowTestEnvironment::WindowTestEnvironment()
    : settingsFile(fixture.filePath(QStringLiteral("Korvalen.ini"))) {
    fixture.enter();
    setSettingsFilePath(settingsFile);
}

WindowTestEnvironment::~WindowTestEnvironment() {
    setSettingsFilePath({});
}
