#include "tests/gui_fixture.h"

#include "app/Unit1.h"

RecordingMessages::RecordingMessages() {
    setMessages(this);
}

RecordingMessages::~RecordingMessages() {
    setMessages(nullptr);
}

void RecordingMessages::information(const QString& text) {
    shown << "information: " + text;
}

bool RecordingMessages::confirm(const QString& text) {
    shown << "confirm: " + text;
    return answers.isEmpty() ? true : answers.takeFirst();
}

void RecordingMessages::error(const QString& text) {
    shown << "error: " + text;
}

QStringList RecordingMessages::ofKind(const QString& kind) const {
    const QString prefix = kind + QStringLiteral(": ");
    QStringList texts;
    for (const QString& box : shown)
        if (box.startsWith(prefix)) texts << box.mid(prefix.size());
    return texts;
}

QStringList RecordingMessages::errors() const {
    return ofKind(QStringLiteral("error"));
}

QStringList RecordingMessages::informations() const {
    return ofKind(QStringLiteral("information"));
}

namespace {

// The rows of the header comment, in SQLite's own SQL.
std::string guiRows() {
    QString rows = QStringLiteral(
        "INSERT INTO SprKategoy(Num, Name) VALUES (1, 'Музыка'), (2, 'Фильмы'), (3, 'Игры');\n"
        "INSERT INTO SprType(N, Tip) VALUES (1, 'CD'), (2, 'DVD');\n"
        "INSERT INTO SprDolgnik(N, Dolgnik) VALUES (1, 'Иванов'), (2, 'Петров');\n");
    for (const GuiFixture::Disk& d : GuiFixture::disks()) {
        QString name = d.name;
        name.replace(QLatin1Char('\''), QStringLiteral("''"));
        rows += QStringLiteral(
                    "INSERT INTO CDBase(N, Name, Opisan, Kategory, Tip, Dolg) "
                    "VALUES (%1, '%2', 'Описание: %2', %3, %4, %5);\n")
                    .arg(d.n)
                    .arg(name)
                    .arg(d.category)
                    .arg(d.mediaType)
                    .arg(d.lent ? 1 : 0);
    }
    rows += QStringLiteral(
        "INSERT INTO Dolg(NomCD, Dolgnik, DatN, DatK, Dolg) VALUES\n"
        "  (2, 1, '2024-03-01', NULL, 1), (3, 2, '2024-03-05', NULL, 1),\n"
        "  (1, 2, '2024-01-10', '2024-02-01', 0);\n");
    return rows.toStdString();
}

}  // namespace

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

GuiFixture::GuiFixture() : TemporaryCatalogue(guiRows()) {}

WindowTestEnvironment::WindowTestEnvironment()
    : settingsFile(fixture.filePath(QStringLiteral("Korvalen.ini"))) {
    setSettingsFilePath(settingsFile);
}

WindowTestEnvironment::~WindowTestEnvironment() {
    setSettingsFilePath({});
}
