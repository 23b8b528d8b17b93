// The program's windows facing faults of their files and awkward input:
// - a catalogue that cannot be opened stops the program with its message and exit code 1;
// - writes that the files refuse (read-only, locked by another program, a full disk)
//   show their message through the program's error box, change nothing, and the
//   window goes on;
// - a settings file that cannot be written or holds garbage costs only the settings;
// - awkward text typed into the windows comes back exactly as typed everywhere.
// Commands run as the user runs them: buttons clicked, dialogs answered in place.
#include <unistd.h>

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <thread>

#include "app/Unit1.h"
#include "app/startup.h"
#include "dialogs/Unit2.h"
#include "dialogs/Unit3.h"
#include "settings/settingsfile.h"
#include "store/check.h"
#include "store/database.h"
#include "tests/catalogue_writes.h"
#include "tests/file_faults.h"
#include "tests/fixture.h"
#include "tests/gui_fixture.h"
#include "ui_Unit1.h"
#include "ui_Unit2.h"
#include "ui_Unit3.h"
#include "widgets/listquery.h"
#include "widgets/lookupcombobox.h"
#include "widgets/querymodel.h"

namespace fs = std::filesystem;

namespace {

const QString kReadOnly = QStringLiteral("доступна только для чтения: изменение не записано.");
const QString kLocked = QStringLiteral("занята другой программой. Повторите попытку");
const QString kDiskFull = QStringLiteral("Недостаточно места на диске: изменение таблицы");

fs::path basePath(const fixture::FixtureCatalogue& fixture) {
    return fs::path(fixture.path().toStdString()) / "base";
}

// One more entry per book that no disk and no loan uses, beside the fixture's own unused
// one, so that every rename and every delete can run on an entry of its own: the
// fixture's is renamed, this one deleted.
//   categories 7 Лишняя; media types 4 Дискета; debtors 5 Смирнов.
void addUnusedEntries(const fixture::FixtureCatalogue& fixture) {
    fixture::sqlRows(fixture.root(),
                     "INSERT INTO sprkategoy_db.SprKategoy(Num, Name) VALUES (7, 'Лишняя')");
    fixture::sqlRows(fixture.root(),
                     "INSERT INTO sprtype_db.SprType(N, Tip) VALUES (4, 'Дискета')");
    fixture::sqlRows(fixture.root(),
                     "INSERT INTO sprdolgnik_db.SprDolgnik(N, Dolgnik) VALUES (5, 'Смирнов')");
}

// The program's four windows as the start creates them. Shown, the lend dialog
// answers "Отдать", and the disk editor "Отмена" unless a test types into it.
std::unique_ptr<ProgramWindows> startWindows() {
    auto windows = createWindows();
    if (!windows) return windows;
    Form2->showModal = [](TForm2& dialog) { dialog.ui->BitBtn1->click(); };
    Form3->showModal = [](TForm3& editor) { editor.ui->BitBtn1->click(); };
    return windows;
}

Ui::TForm1& ui1() {
    return *Form1->ui;
}

// Makes the first row whose field reads value current.
bool standOn(ListQuery* list, const QString& field, const QString& value) {
    const int row = list->findRow(field, value);
    return row >= 0 && list->setCurrentRow(row);
}

void onDisk(int key) {
    QVERIFY2(standOn(Form1->Query5, QStringLiteral("N"), QString::number(key)),
             qPrintable(QString::number(key)));
}

// The disk editor, once shown, gets the name and description typed and "Сохранить".
void typeInEditor(const QString& name, const QString& description) {
    Form3->showModal = [=](TForm3& editor) {
        editor.ui->LabeledEdit1->setText(name);
        editor.ui->Memo1->setPlainText(description);
        editor.ui->BitBtn2->click();
    };
}

// ---- the fourteen write commands, as the user gives them ------------------------------

struct BookControls {
    const char* what;
    QLineEdit* Ui::TForm1::*edit;
    QPushButton* Ui::TForm1::*add;
    QPushButton* Ui::TForm1::*rename;
    QPushButton* Ui::TForm1::*remove;
    ListQuery* TForm1::*list;
    QueryModel* TForm1::*grid;
    const char* keyColumn;
    int renamedKey;  // unused entries (the fixture's and addUnusedEntries)
    int removedKey;
};

const BookControls kBooks[] = {
    {"category", &Ui::TForm1::Edit1, &Ui::TForm1::ButtonAddKategory,
     &Ui::TForm1::ButtonRenameKategory, &Ui::TForm1::ButtonDeleteKategory, &TForm1::Query1,
     &TForm1::DataSource1, "Num", 6, 7},
    {"media type", &Ui::TForm1::Edit2, &Ui::TForm1::ButtonAddType, &Ui::TForm1::ButtonRenameType,
     &Ui::TForm1::ButtonDeleteType, &TForm1::Query2, &TForm1::DataSource2, "N", 3, 4},
    {"debtor", &Ui::TForm1::Edit3, &Ui::TForm1::ButtonAddDolgnik, &Ui::TForm1::ButtonRenameDolgnik,
     &Ui::TForm1::ButtonDeleteDolgnik, &TForm1::Query3, &TForm1::DataSource3, "N", 2, 5},
};

void standOnEntry(const BookControls& book, int key) {
    QVERIFY2(standOn(Form1->*book.list, QString::fromLatin1(book.keyColumn), QString::number(key)),
             book.what);
}

struct WindowCommand {
    std::string name;
    std::function<void()> run;
};

// Each command on a disk or an entry of its own (keys as in the fixture and
// addUnusedEntries), so that any of them runs alone and all of them run in this order.
const std::vector<WindowCommand>& windowCommands() {
    static const std::vector<WindowCommand> all = [] {
        std::vector<WindowCommand> c = {
            {"add disk",
             [] {
                 typeInEditor(QStringLiteral("Новый диск"),
                              QStringLiteral("Описание\nв две строки"));
                 ui1().BitBtn3->click();
             }},
            {"edit disk",
             [] {
                 onDisk(2);
                 typeInEditor(QStringLiteral("Abbey Road (ремастер)"), QStringLiteral("Другое"));
                 ui1().BitBtn4->click();
             }},
            {"lend disk",
             [] {
                 onDisk(2);
                 ui1().BitBtn2->click();
             }},
            {"take back disk",
             [] {
                 onDisk(1);
                 ui1().BitBtn1->click();
             }},
            {"delete disk",
             [] {
                 onDisk(4);
                 ui1().BitBtn5->click();
             }},
        };
        for (const BookControls& book : kBooks) {
            c.push_back({std::string("add ") + book.what, [&book] {
                             (ui1().*book.edit)->setText(QStringLiteral("Новая запись"));
                             (ui1().*book.add)->click();
                         }});
            c.push_back({std::string("rename ") + book.what, [&book] {
                             standOnEntry(book, book.renamedKey);
                             (ui1().*book.edit)->setText(QStringLiteral("Другое имя"));
                             (ui1().*book.rename)->click();
                         }});
            c.push_back({std::string("delete ") + book.what, [&book] {
                             standOnEntry(book, book.removedKey);
                             (ui1().*book.remove)->click();
                         }});
        }
        return c;
    }();
    return all;
}

const WindowCommand& windowCommand(const QString& name) {
    for (const auto& c : windowCommands())
        if (c.name == name.toStdString()) return c;
    qFatal("no command %s", qPrintable(name));
}

// ---- what the windows show ------------------------------------------------------------

// A model's column as the grid shows it, the whole list read.
QStringList shown(QAbstractItemModel* model, int column) {
    while (model->canFetchMore({})) model->fetchMore({});
    QStringList out;
    for (int row = 0; row < model->rowCount(); ++row)
        out << model->data(model->index(row, column)).toString();
    return out;
}

QStringList listed(const QComboBox* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
    return out;
}

// Reads every list of the windows to its end, so that none of them keeps a read
// transaction open while another program takes a lock.
void readAllLists() {
    for (ListQuery* list :
         {Form1->Query1, Form1->Query2, Form1->Query3, Form1->Query5, Form1->Query6, Form1->Query7,
          Form1->Query8, Form2->Query1, Form3->Query1, Form3->Query2})
        list->fetchMore(std::numeric_limits<int>::max());
}

// Everything written to the error output while it lives.
class CapturedStderr {
public:
    CapturedStderr() : file_(std::tmpfile()) {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        dup2(fileno(file_), STDERR_FILENO);
    }
    ~CapturedStderr() {
        restore();
        std::fclose(file_);
    }
    CapturedStderr(const CapturedStderr&) = delete;
    CapturedStderr& operator=(const CapturedStderr&) = delete;

    QString text() {
        restore();
        std::rewind(file_);
        QByteArray bytes;
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file_)) > 0;)
            bytes.append(chunk, static_cast<qsizetype>(n));
        return QString::fromUtf8(bytes);
    }

private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
    }
    std::FILE* file_;
    int saved_ = -1;
};

// Types text key by key as a keyboard does, one character (an emoji whole) per key.
// QTest::keyClicks sends Latin-1 only, and one UTF-16 unit per key.
void typeText(QWidget* widget, const QString& text) {
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n =
            text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()
                ? 2
                : 1;
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, text.mid(i, n), Qt::NoModifier);
        i += n;
    }
}

void writeFile(const fs::path& file, const QByteArray& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.constData(), bytes.size());
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// ---- start faults -----------------------------------------------------------------------

struct StartFault {
    const char* name;
    std::function<void(const fixture::FixtureCatalogue&)> damage;
    QStringList mustSay;  // the file and what is wrong with it
};

const std::vector<StartFault>& startFaults() {
    static const std::vector<StartFault> faults = {
        {"no base folder",
         [](const fixture::FixtureCatalogue& f) { fs::remove_all(basePath(f)); },
         {QStringLiteral("Не найдена папка каталога"), QStringLiteral("/base")}},
        {"no Dolg.DB",
         [](const fixture::FixtureCatalogue& f) { fs::remove(basePath(f) / "Dolg.DB"); },
         {QStringLiteral("Не найден файл таблицы Dolg.DB")}},
        {"text in place of SprType.db",
         [](const fixture::FixtureCatalogue& f) {
             writeFile(basePath(f) / "SprType.db", "CD-R\nDVD-R\n");
         },
         {QStringLiteral("SprType.db не является таблицей каталога Korvalen")}},
        {"Dolg.DB without the field DatK",
         [](const fixture::FixtureCatalogue& f) {
             fixture::sqlRows(f.root(), "ALTER TABLE dolg_db.Dolg DROP COLUMN DatK");
         },
         {QStringLiteral("Dolg.DB нет поля DatK")}},
    };
    return faults;
}

// ---- awkward text -----------------------------------------------------------------------

QString awkward(int row) {
    return QString::fromStdString(writes::awkwardTexts()[row].text);
}

const QString& megabyteDescription() {
    static const QString text = [] {
        QString t;
        while (t.size() < 1024 * 1024) t += QStringLiteral("Строка описания с 'кавычками' — 😀\n");
        return t;
    }();
    return text;
}

// The row of the lent-disks grid that lists the disk of this name.
int lentRowOf(const QString& name) {
    return static_cast<int>(shown(Form1->DataSource6, 1).indexOf(name));
}

}  // namespace

class WindowFaults : public QObject {
    Q_OBJECT

private slots:
    void startFaultEndsTheProgram_data();
    void startFaultEndsTheProgram();
    void realProgramWithoutCatalogue();

    void readOnlyCatalogue_data();
    void readOnlyCatalogue();
    void lockedCatalogue_data();
    void lockedCatalogue();
    void lockReleasedWhileWaiting();
    void fullDisk_data();
    void fullDisk();

    void unwritableSettingsFile_data();
    void unwritableSettingsFile();
    void garbageSettingsFileMeansDefaults();

    void awkwardTextShownAsTyped_data();
    void awkwardTextShownAsTyped();
    void nameTakes255Characters();
    void longestNameAndMegabyteDescription();
    void hugeDescriptionShownInPartAndKept_data();
    void hugeDescriptionShownInPartAndKept();
    void idleWindowLocksNothing_data();
    void idleWindowLocksNothing();
};

// ---- a catalogue that cannot be opened --------------------------------------------------

void WindowFaults::startFaultEndsTheProgram_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < static_cast<int>(startFaults().size()); ++i)
        QTest::newRow(startFaults()[i].name) << i;
}

// The start shows the store's message, naming the file, in the error box and on the
// error output, shows no window and ends with exit code 1.
void WindowFaults::startFaultEndsTheProgram() {
    QFETCH(int, row);
    const StartFault& fault = startFaults()[row];
    WindowTestEnvironment env;
    fault.damage(env.fixture);
    int exitCode = 0;
    QString errorOutput;
    {
        CapturedStderr captured;
        exitCode = runProgram();
        errorOutput = captured.text();
    }
    QCOMPARE(exitCode, 1);
    QCOMPARE(env.messages.errors().size(), 1);
    const QString message = env.messages.errors().front();
    for (const QString& words : fault.mustSay)
        QVERIFY2(message.contains(words), qPrintable(message));
    QVERIFY2(errorOutput.contains(QStringLiteral("korvalen: ") + message), qPrintable(errorOutput));
    QCOMPARE(Form1, nullptr);
    for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY(!w->isVisible());
}

// The real executable on a folder without base. Its message box would wait for
// someone to press OK, so a preloaded library answers every box at once, writing its
// text out first.
void WindowFaults::realProgramWithoutCatalogue() {
    QTemporaryDir empty;
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(ANSWER_BOXES));
    // The sanitizer runtime wants to be the first library loaded; the preloaded one is.
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       environment.value(QStringLiteral("ASAN_OPTIONS")) +
                           QStringLiteral(":verify_asan_link_order=0"));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(empty.path());
    program.start(QStringLiteral(KORVALEN_EXE), {});
    if (!program.waitForFinished(60000)) {
        program.kill();
        program.waitForFinished();
        QFAIL(qPrintable("the program did not end: " + program.readAllStandardError()));
    }
    const QString errorOutput = QString::fromUtf8(program.readAllStandardError());
    // It names the folder searched, says why there, and gives the build's own tool.
    const QString message =
        QStringLiteral("Не найдена папка каталога ") + empty.filePath(QStringLiteral("base"));
    QVERIFY2(errorOutput.contains(QStringLiteral("korvalen: ") + message), qPrintable(errorOutput));
    QVERIFY2(errorOutput.contains(QStringLiteral("box: ") + message), qPrintable(errorOutput));
    QVERIFY2(
        errorOutput.contains(QStringLiteral("из которой он запущен (сейчас это ") + empty.path()),
        qPrintable(errorOutput));
    QVERIFY2(errorOutput.contains(QStringLiteral(KORVALEN_BASE_EXE " create ") + empty.path()),
             qPrintable(errorOutput));
    QVERIFY2(!errorOutput.contains(QStringLiteral("dialog: ")), qPrintable(errorOutput));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
}

// ---- writes that the files refuse -------------------------------------------------------

void WindowFaults::readOnlyCatalogue_data() {
    QTest::addColumn<QString>("readOnly");      // under base/
    QTest::addColumn<QStringList>("commands");  // empty: all fourteen
    QTest::newRow("read-only mount of base") << QString() << QStringList();
    QTest::newRow("read-only mount of Dolg.DB alone")
        << QStringLiteral("Dolg.DB") << QStringList{"lend disk", "take back disk"};
}

// Each write command shows the read-only message and writes nothing; the window goes
// on reading, and writes again as soon as the files are writable.
void WindowFaults::readOnlyCatalogue() {
    QFETCH(QString, readOnly);
    QFETCH(QStringList, commands);
    WindowTestEnvironment env;
    addUnusedEntries(env.fixture);
    const fs::path base = basePath(env.fixture);
    faults::ReadOnlyMount mount(base / readOnly.toStdString());
    if (!mount.mounted()) QSKIP("this process may not mount a file system of its own here");
    auto windows = startWindows();
    QVERIFY(windows);
    if (commands.isEmpty())
        for (const auto& c : windowCommands()) commands << QString::fromStdString(c.name);
    const auto before = writes::folderBytes(base);

    for (const QString& name : commands) {
        const qsizetype errors = env.messages.errors().size();
        windowCommand(name).run();
        QVERIFY2(env.messages.errors().size() == errors + 1, qPrintable(name));
        const QString message = env.messages.errors().last();
        QVERIFY2(message.contains(kReadOnly), qPrintable(name + ": " + message));
        if (!readOnly.isEmpty())
            QVERIFY2(message.contains(QStringLiteral("Таблица Dolg.db")), qPrintable(message));
        QVERIFY2(writes::folderBytes(base) == before, qPrintable(name));
    }

    // The lists stand where the commands left them: on the disk of the last disk command.
    QCOMPARE(Form1->Query5->text(QStringLiteral("N")),
             windowCommand(commands.back()).name == "take back disk" ? "1" : "4");

    // The window goes on: the disk list is rebuilt from the read-only files.
    const qsizetype errors = env.messages.errors().size();
    ui1().RadioButton3->setChecked(true);
    QStringList lent = shown(Form1->DataSource5, 0);
    lent.sort();
    QCOMPARE(lent, (QStringList{"Rock'n'Roll", "Матрица"}));
    ui1().RadioButton1->setChecked(true);
    QCOMPARE(shown(Form1->DataSource5, 0).size(), 7);
    QCOMPARE(env.messages.errors().size(), errors);

    // Made writable again, the same window writes.
    QVERIFY(mount.makeWritable());
    for (const QString& name : commands) windowCommand(name).run();
    QCOMPARE(env.messages.errors().size(), errors);
    QVERIFY(writes::folderBytes(base) != before);
    windows.reset();
    store::Database::resetDefault();
    QCOMPARE(store::checkCatalogue(env.fixture.path().toStdString()), std::vector<std::string>{});
}

void WindowFaults::lockedCatalogue_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("lockedFile");
    QTest::addColumn<int>("messages");
    // The lend dialog, its "Отдать" refused, is closed by "Отмена"; the lend command then
    // refreshes the lent-disks list, which waits for the lock in turn.
    QTest::newRow("lend disk, Dolg.DB locked") << "lend disk"
                                               << "Dolg.DB" << 2;
    QTest::newRow("take back disk, CDBase.DB locked") << "take back disk"
                                                      << "CDBase.DB" << 1;
    QTest::newRow("add disk, CDBase.DB locked") << "add disk"
                                                << "CDBase.DB" << 1;
    QTest::newRow("add category, SprKategoy.db locked") << "add category"
                                                        << "SprKategoy.db" << 1;
    QTest::newRow("delete debtor, SprDolgnik.db locked") << "delete debtor"
                                                         << "SprDolgnik.db" << 1;
}

// Another program holds a table in an exclusive transaction: the command waits two
// seconds, shows the message and changes nothing; once the lock is gone, the same
// command works.
void WindowFaults::lockedCatalogue() {
    QFETCH(QString, command);
    QFETCH(QString, lockedFile);
    QFETCH(int, messages);
    WindowTestEnvironment env;
    addUnusedEntries(env.fixture);
    const fs::path base = basePath(env.fixture);
    auto windows = startWindows();
    QVERIFY(windows);
    readAllLists();
    const auto before = writes::folderBytes(base);
    {
        faults::LockHolder holder(base / lockedFile.toStdString());
        QVERIFY(holder.held());
        windowCommand(command).run();
        QCOMPARE(env.messages.errors().size(), messages);
        for (const QString& message : env.messages.errors())
            QVERIFY2(message.contains(kLocked), qPrintable(message));
    }
    QVERIFY(writes::folderBytes(base) == before);

    env.messages.shown.clear();
    windowCommand(command).run();
    QCOMPARE(env.messages.errors(), QStringList());
    QVERIFY(writes::folderBytes(base) != before);
}

// Released while the command waits for it, the lock costs only the wait.
void WindowFaults::lockReleasedWhileWaiting() {
    WindowTestEnvironment env;
    auto windows = startWindows();
    QVERIFY(windows);
    readAllLists();
    faults::LockHolder holder(basePath(env.fixture) / "SprKategoy.db");
    QVERIFY(holder.held());
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        holder.release();
    });
    ui1().Edit1->setText(QStringLiteral("Сборники"));
    ui1().ButtonAddKategory->click();
    release.join();
    QCOMPARE(env.messages.errors(), QStringList());
    QVERIFY(shown(Form1->DataSource1, 0).contains(QStringLiteral("Сборники")));
}

void WindowFaults::fullDisk_data() {
    QTest::addColumn<bool>("fileSystem");
    QTest::newRow("SQLite's size limit") << false;
    QTest::newRow("a full file system: room for the journal only") << true;
}

// Saving a disk with a 1 MB description when there is no room: the message, the
// catalogue as it was, and the editor still holding what was typed, so that "Сохранить"
// works once there is room again.
void WindowFaults::fullDisk() {
    QFETCH(bool, fileSystem);
    WindowTestEnvironment env;
    const fs::path base = basePath(env.fixture);
    std::unique_ptr<faults::SmallFileSystem> disk;
    if (fileSystem) {
        const auto files = writes::folderBytes(base);
        disk = std::make_unique<faults::SmallFileSystem>(base, "2m");
        if (!disk->mounted()) QSKIP("this process may not mount a file system of its own here");
        for (const auto& [name, bytes] : files)
            writeFile(base / name, QByteArray::fromStdString(bytes));
        QVERIFY(faults::fillUp(base / "filler", 64 * 1024));
    }
    auto windows = startWindows();
    QVERIFY(windows);
    if (!fileSystem) store::Database::defaultDatabase()->execRaw("PRAGMA main.max_page_count = 1");
    const auto before = writes::folderBytes(base);
    // As in any catalogue longer than its grid, the disk list has read only its first rows.
    QVERIFY(Form1->Query5->query().canFetchMore());

    const QString name = QStringLiteral("Большое описание");
    bool saved = false;
    Form3->showModal = [&](TForm3& editor) {
        editor.ui->LabeledEdit1->setText(name);
        editor.ui->Memo1->setPlainText(megabyteDescription());
        editor.ui->BitBtn2->click();
        QCOMPARE(env.messages.errors().size(), 1);
        QVERIFY2(env.messages.errors().front().contains(kDiskFull + QStringLiteral(" CDBase.db")),
                 qPrintable(env.messages.errors().front()));
        QVERIFY(writes::folderBytes(base) == before);
        // The editor stays with what was typed.
        QCOMPARE(editor.ui->LabeledEdit1->text(), name);
        QVERIFY(editor.ui->Memo1->toPlainText() == megabyteDescription());

        if (fileSystem)
            fs::remove(base / "filler");
        else
            store::Database::defaultDatabase()->execRaw("PRAGMA main.max_page_count = 1073741823");
        editor.ui->BitBtn2->click();
        saved = true;
    };
    ui1().BitBtn3->click();
    QVERIFY(saved);
    QCOMPARE(env.messages.errors().size(), 1);
    QVERIFY(standOn(Form1->Query5, QStringLiteral("Name"), name));
    QVERIFY(ui1().DBMemo1->toPlainText() == megabyteDescription());
    windows.reset();
    store::Database::resetDefault();
    QCOMPARE(store::checkCatalogue(env.fixture.path().toStdString()), std::vector<std::string>{});
}

// ---- the settings file ------------------------------------------------------------------

void WindowFaults::unwritableSettingsFile_data() {
    QTest::addColumn<bool>("readOnlyFolder");
    QTest::newRow("in a read-only folder") << true;
    QTest::newRow("a file where its folder should be") << false;
}

// Closing tells the user that the settings were not saved, and the window closes; the
// file is left as it was.
void WindowFaults::unwritableSettingsFile() {
    QFETCH(bool, readOnlyFolder);
    WindowTestEnvironment env;
    const fs::path root = env.fixture.path().toStdString();
    const QByteArray kept("[param]\npage=2\nnal=3\n");
    fs::path settings;
    if (readOnlyFolder) {
        fs::create_directory(root / "settings");
        settings = root / "settings" / "Korvalen.ini";
        writeFile(settings, kept);
    } else {
        writeFile(root / "plain", "not a folder");
        settings = root / "plain" / "Korvalen.ini";
    }
    std::optional<faults::ReadOnlyMount> mount;
    if (readOnlyFolder && !mount.emplace(root / "settings").mounted())
        QSKIP("this process may not mount a file system of its own here");
    const QString path = QString::fromStdString(settings.string());
    setSettingsFilePath(path);
    auto windows = startWindows();
    QVERIFY(windows);
    QCOMPARE(env.messages.errors(), QStringList());  // reading it is no trouble
    Form1->show();
    ui1().CheckBox2->setChecked(true);
    QVERIFY(Form1->close());
    QVERIFY(!Form1->isVisible());
    QCOMPARE(env.messages.errors().size(), 1);
    const QString message = env.messages.errors().front();
    QVERIFY2(message.startsWith(QStringLiteral("Не удалось сохранить настройки в файл ") + path),
             qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("Окно будет закрыто")), qPrintable(message));
    if (readOnlyFolder) QCOMPARE(readFile(path), kept);
}

// A settings file of garbage (binary bytes, broken lines and section headers): every
// switch takes its default, without a message; closing adds the section and its keys
// and leaves the rest of the file alone, and the next start reads them back.
void WindowFaults::garbageSettingsFileMeansDefaults() {
    WindowTestEnvironment env;
    std::mt19937 random(7);
    QByteArray garbage;
    for (int i = 0; i < 64 * 1024; ++i) garbage += char(random() % 256);
    garbage += "\n[param\npage 2\n=3\nnal==2\n[]\n\xff\xfe[param]]\nkat\r\r\n\0naz=1\n";
    writeFile(env.settingsFile.toStdString(), garbage);

    auto windows = startWindows();
    QVERIFY(windows);
    QCOMPARE(ui1().PageControl1->currentWidget(), ui1().TabSheet1);
    QVERIFY(ui1().RadioButton1->isChecked());
    QVERIFY(!ui1().CheckBox1->isChecked() && !ui1().CheckBox2->isChecked() &&
            !ui1().CheckBox4->isChecked());
    QCOMPARE(shown(Form1->DataSource5, 0).size(), 7);
    ui1().RadioButton2->setChecked(true);
    QVERIFY(Form1->close());
    QCOMPARE(env.messages.errors(), QStringList());
    const QByteArray written = readFile(env.settingsFile);
    QVERIFY(written.startsWith(garbage));
    QVERIFY2(written.endsWith("[param]\npage=1\nnal=2\nkat=0\nnos=0\nnaz=0\n"),
             written.right(60).constData());

    windows.reset();
    windows = startWindows();
    QVERIFY(windows);
    QVERIFY(ui1().RadioButton2->isChecked());
}

// ---- awkward text -----------------------------------------------------------------------

void WindowFaults::awkwardTextShownAsTyped_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < static_cast<int>(writes::awkwardTexts().size()); ++i)
        QTest::newRow(writes::awkwardTexts()[i].name) << i;
}

// The text typed as a category, a media type and a debtor (added, and given to an
// entry by a rename), then as the name and description of a disk of that category and
// media type, lent to that debtor: every grid, box and the description pane show it
// exactly as typed. Empty text is refused with each command's own message.
void WindowFaults::awkwardTextShownAsTyped() {
    QFETCH(int, row);
    const QString text = awkward(row);
    WindowTestEnvironment env;
    addUnusedEntries(env.fixture);
    auto windows = startWindows();
    QVERIFY(windows);

    if (text.isEmpty()) {
        const auto before = writes::folderBytes(basePath(env.fixture));
        for (const BookControls& book : kBooks) {
            (ui1().*book.edit)->clear();
            (ui1().*book.add)->click();
            (ui1().*book.rename)->click();
        }
        typeInEditor(text, text);
        ui1().BitBtn3->click();
        QCOMPARE(
            env.messages.informations(),
            (QStringList{"Введите наименование категории!", "Введите новое наименование категории!",
                         "Введите наименование носителя!", "Введите новое наименование носителя!",
                         "Введите должника!", "Введите должника!", "Введите название диска!"}));
        QVERIFY(writes::folderBytes(basePath(env.fixture)) == before);
        return;
    }

    for (const BookControls& book : kBooks) {
        (ui1().*book.edit)->setText(text);
        (ui1().*book.add)->click();
        standOnEntry(book, book.renamedKey);
        (ui1().*book.edit)->setText(text);
        (ui1().*book.rename)->click();
        QVERIFY2(env.messages.errors().isEmpty(), qPrintable(env.messages.errors().join("|")));
        QCOMPARE(shown(Form1->*book.grid, 0).count(text), 2);
    }
    // Lookup boxes: the filter's (reopened by a rename) and the dialogs'.
    for (const LookupComboBox* box :
         {ui1().DBLookupComboBox1, ui1().DBLookupComboBox2, Form3->ui->DBLookupComboBox1,
          Form3->ui->DBLookupComboBox2, Form2->ui->DBLookupComboBox1})
        QVERIFY2(listed(box).count(text) == 2, qPrintable(box->objectName()));

    // A disk of that name and category and media type, its description the text on
    // two lines; then edited to the text alone.
    Form3->ui->DBLookupComboBox1->choose(Form3->Query1->findRow(QStringLiteral("Name"), text));
    Form3->ui->DBLookupComboBox2->choose(Form3->Query2->findRow(QStringLiteral("Tip"), text));
    const QString description = QStringLiteral("Описание: ") + text + QLatin1Char('\n') + text;
    QString typed;
    Form3->showModal = [&](TForm3& editor) {
        editor.ui->LabeledEdit1->setText(text);
        editor.ui->Memo1->setPlainText(description);
        typed = editor.ui->Memo1->toPlainText();
        editor.ui->BitBtn2->click();
    };
    ui1().BitBtn3->click();
    const int disk = static_cast<int>(shown(Form1->DataSource5, 0).indexOf(text));
    QVERIFY(disk >= 0);
    QCOMPARE(shown(Form1->DataSource5, 1).at(disk), text);
    QCOMPARE(shown(Form1->DataSource5, 2).at(disk), text);
    QVERIFY(Form1->Query5->setCurrentRow(disk));
    QCOMPARE(ui1().DBMemo1->toPlainText(), typed);

    Form3->showModal = [&](TForm3& editor) {
        QCOMPARE(editor.ui->LabeledEdit1->text(), text);  // loaded whole
        QCOMPARE(editor.ui->Memo1->toPlainText(), typed);
        editor.ui->Memo1->setPlainText(text);
        typed = editor.ui->Memo1->toPlainText();
        editor.ui->BitBtn2->click();
    };
    ui1().BitBtn4->click();
    QVERIFY(standOn(Form1->Query5, QStringLiteral("Name"), text));
    QCOMPARE(ui1().DBMemo1->toPlainText(), typed);

    // Lent to the debtor of that name: the lent-disks grid.
    Form2->ui->DBLookupComboBox1->choose(Form2->Query1->findRow(QStringLiteral("Dolgnik"), text));
    ui1().BitBtn2->click();
    const int loan = lentRowOf(text);
    QVERIFY(loan >= 0);
    for (int column : {2, 3, 4}) QCOMPARE(shown(Form1->DataSource6, column).at(loan), text);
    QCOMPARE(env.messages.errors(), QStringList());
}

// The name box takes 255 characters, counted as the user sees them: 255 Cyrillic
// letters or 255 emoji fit, the 256th character of either is refused, and no emoji is
// ever cut in half. A longer name loaded for editing stays whole.
void WindowFaults::nameTakes255Characters() {
    WindowTestEnvironment env;
    auto windows = startWindows();
    QVERIFY(windows);
    QLineEdit* box = Form3->ui->LabeledEdit1;
    Form3->show();
    box->setFocus();
    const QString emoji = QStringLiteral("😀");

    typeText(box, QString(256, QChar(u'Я')));
    QCOMPARE(box->text(), QString(255, QChar(u'Я')));
    typeText(box, emoji);
    QCOMPARE(box->text(), QString(255, QChar(u'Я')));

    box->clear();
    typeText(box, emoji.repeated(256));
    QCOMPARE(box->text(), emoji.repeated(255));

    box->clear();
    typeText(box, QString(254, QChar(u'ж')) + emoji + emoji);
    QCOMPARE(box->text(), QString(254, QChar(u'ж')) + emoji);
    Form3->hide();

    const QString longName = QString(250, QChar(u'Ё')) + emoji.repeated(50);
    store::Database::defaultDatabase()->execRaw("UPDATE main.CDBase SET Name = '" +
                                                longName.toStdString() + "' WHERE N = 1");
    Form1->Query5->reopen();
    onDisk(1);
    QString loaded;
    Form3->showModal = [&](TForm3& editor) {
        loaded = editor.ui->LabeledEdit1->text();
        editor.ui->BitBtn2->click();
    };
    ui1().BitBtn4->click();
    QCOMPARE(loaded, longName);
    QVERIFY(standOn(Form1->Query5, QStringLiteral("N"), QStringLiteral("1")));
    QCOMPARE(Form1->Query5->text(QStringLiteral("Name")), longName);
}

// The longest name typed key by key and a 1 MB description: the grids and the
// description pane show them whole.
void WindowFaults::longestNameAndMegabyteDescription() {
    WindowTestEnvironment env;
    auto windows = startWindows();
    QVERIFY(windows);
    const QString name = QString(200, QChar(u'Я')) + QStringLiteral("😀").repeated(54) + "!";
    Form3->showModal = [&](TForm3& editor) {
        editor.show();
        editor.ui->LabeledEdit1->setFocus();
        typeText(editor.ui->LabeledEdit1, name);
        editor.ui->Memo1->setPlainText(megabyteDescription());
        editor.ui->BitBtn2->click();
    };
    ui1().BitBtn3->click();
    QVERIFY(standOn(Form1->Query5, QStringLiteral("Name"), name));
    QVERIFY(shown(Form1->DataSource5, 0).contains(name));
    QVERIFY(ui1().DBMemo1->toPlainText() == megabyteDescription());
    ui1().BitBtn2->click();
    QVERIFY(lentRowOf(name) >= 0);
    QCOMPARE(env.messages.errors(), QStringList());
}

namespace {

// Disk 1's description as stored, set by another program.
void storeDescription(const fixture::FixtureCatalogue& fixture, const std::string& description) {
    const auto db = store::Database::open(basePath(fixture));
    store::Statement update(*db, "UPDATE CDBase SET Opisan = ?1 WHERE N = 1");
    update.bindText(1, description);
    update.run();
}

QString storedDescription(const fixture::FixtureCatalogue& fixture) {
    return fixture::sqlRows(fixture.root(), "SELECT Opisan FROM CDBase WHERE N = 1").value(0);
}

// Each line shown under the mark is the start of the description's line, cut (and then
// marked " …") after at most 10,000 characters, never inside one.
void verifyExcerptOf(const QString& description, const QString& shown) {
    QVERIFY2(shown.startsWith(QStringLiteral("[Описание длиной ")), qPrintable(shown.left(200)));
    QVERIFY(shown.size() < 300'000);
    QVERIFY(!shown.contains(QChar::ReplacementCharacter));
    const QStringList lines = shown.split(QLatin1Char('\n')).mid(1);
    const QStringList whole = QString(description).remove(QLatin1Char('\r')).split('\n');
    QVERIFY(!lines.isEmpty() && lines.size() <= whole.size());
    for (int i = 0; i < lines.size(); ++i) {
        QString line = lines[i];
        if (line.endsWith(QStringLiteral(" …"))) line.chop(2);
        QVERIFY2(whole[i].startsWith(line), qPrintable(QString::number(i)));
        QVERIFY(line.toUcs4().size() <= 10'000);
    }
}

}  // namespace

void WindowFaults::hugeDescriptionShownInPartAndKept_data() {
    QTest::addColumn<QString>("description");
    QTest::newRow("one line of 30 million characters")
        << QStringLiteral("Длинная строка ").repeated(2'000'000);
    QTest::newRow("2.1 million characters in short lines")
        << QStringLiteral("Строка описания 😀 \r\n").repeated(105'000);
    QTest::newRow("a line of 10,001 emoji, then a short one")
        << QStringLiteral("😀").repeated(10'001) + QStringLiteral("\r\nконец");
}

// A description too long for a text box to lay out (it used to take seconds per million
// characters of a line, then crash Qt's layout) shows its beginning under a mark, in the
// pane and in the editor. Saving the disk with its name changed keeps the description
// stored byte for byte; loading a file replaces it.
void WindowFaults::hugeDescriptionShownInPartAndKept() {
    QFETCH(QString, description);
    WindowTestEnvironment env;
    storeDescription(env.fixture, description.toStdString());
    auto windows = startWindows();
    QVERIFY(windows);
    onDisk(1);
    const QString pane = ui1().DBMemo1->toPlainText();
    verifyExcerptOf(description, pane);
    // The box's plain text gives the number's no-break spaces as spaces.
    const QString length = QLocale(QLocale::Russian)
                               .toString(description.toUcs4().size())
                               .replace(QChar::Nbsp, QLatin1Char(' '));
    QVERIFY2(pane.contains(QStringLiteral("длиной ") + length), qPrintable(pane.left(100)));

    bool edited = false;
    Form3->showModal = [&](TForm3& editor) {
        verifyExcerptOf(description, editor.ui->Memo1->toPlainText());
        QVERIFY(editor.ui->Memo1->isReadOnly());
        editor.ui->LabeledEdit1->setText(QStringLiteral("Новое имя"));
        editor.ui->BitBtn2->click();
        edited = true;
    };
    ui1().BitBtn4->click();
    QVERIFY(edited);
    QCOMPARE(env.messages.errors(), QStringList());
    QVERIFY(storedDescription(env.fixture) == description);
    QCOMPARE(fixture::sqlRows(env.fixture.root(), "SELECT Name FROM CDBase WHERE N = 1"),
             QStringList{QStringLiteral("Новое имя")});

    const QString file = env.fixture.filePath(QStringLiteral("описание.txt"));
    writeFile(file.toStdString(), QByteArray("Новое описание\n"));
    Form3->OpenDialog1 = [&](TForm3&) { return file; };
    Form3->showModal = [&](TForm3& editor) {
        editor.ui->BitBtn3->click();
        QVERIFY(!editor.ui->Memo1->isReadOnly());
        editor.ui->BitBtn2->click();
    };
    QVERIFY(standOn(Form1->Query5, QStringLiteral("N"), QStringLiteral("1")));
    ui1().BitBtn4->click();
    QCOMPARE(storedDescription(env.fixture), QStringLiteral("Новое описание\r\n"));
    QCOMPARE(ui1().DBMemo1->toPlainText(), QStringLiteral("Новое описание\n"));
}

namespace {

// What the window did last before it sat idle.
struct LastAction {
    const char* name;
    std::function<void()> act;
};

const std::vector<LastAction>& lastActions() {
    static const std::vector<LastAction> actions{
        {"disk list read in part, a row far down it current",
         [] {
             Form1->DataSource5->fetchMore({});
             QVERIFY(Form1->Query5->setCurrentRow(100));
         }},
        {"deleting a category refused: it is in use",
         [] {
             ui1().PageControl1->setCurrentWidget(ui1().TabSheet2);
             QVERIFY(standOn(Form1->Query1, QStringLiteral("Категория"), QStringLiteral("музыка")));
             ui1().ButtonDeleteKategory->click();
         }},
    };
    return actions;
}

// The keys of the disk list's rows, read to its end.
QStringList diskKeys() {
    QStringList keys;
    const qsizetype rows = shown(Form1->DataSource5, 0).size();
    for (int row = 0; row < rows; ++row)
        keys << Form1->DataSource5->fieldText(row, QStringLiteral("N"));
    return keys;
}

}  // namespace

void WindowFaults::idleWindowLocksNothing_data() {
    QTest::addColumn<int>("action");
    for (int i = 0; i < static_cast<int>(lastActions().size()); ++i)
        QTest::newRow(lastActions()[i].name) << i;
}

// A window that sits idle holds no lock on the catalogue, whatever it read last: another
// program writes at once. It used to keep a statement part way through its disk list (or
// the count of a refused delete) and with it a read lock, so every write elsewhere failed
// with "занята" for as long as the window was idle. The lists keep their rows, their
// current row and the description shown, and read on from where they stopped.
void WindowFaults::idleWindowLocksNothing() {
    QFETCH(int, action);
    WindowTestEnvironment env;
    fixture::sqlRows(
        env.fixture.root(),
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
        "INSERT INTO CDBase(Name, Opisan, Kategory, Tip) "
        "SELECT 'Диск ' || i, 'Описание ' || i, 1 + i % 3, 1 + i % 2 FROM n");
    auto windows = startWindows();
    QVERIFY(windows);
    QTRY_VERIFY(Form1->DataSource5->rowCount() > 1);  // the grid's first screen
    lastActions()[action].act();
    QVERIFY(Form1->Query5->query().canFetchMore());
    const int held = Form1->DataSource5->rowCount();
    const int current = Form1->Query5->currentRow();
    const QString description = ui1().DBMemo1->toPlainText();

    QTest::qWait(1000);
    try {
        fixture::sqlRows(env.fixture.root(),
                         "UPDATE CDBase SET Name = 'Изменён другой программой' WHERE N = 1");
    } catch (const store::Error& e) {
        QFAIL(e.what());
    }
    QCOMPARE(Form1->DataSource5->rowCount(), held);
    QCOMPARE(Form1->Query5->currentRow(), current);
    QCOMPARE(ui1().DBMemo1->toPlainText(), description);
    QCOMPARE(ui1().DBGrid4->currentIndex().row(), current);

    const QStringList keys = diskKeys();
    QCOMPARE(keys.size(), 307);  // every disk with its category and media type, disk 5 not
    QCOMPARE(QSet<QString>(keys.begin(), keys.end()).size(), keys.size());
    QCOMPARE(env.messages.errors(), QStringList());
}

QTEST_MAIN(WindowFaults)
#include "test_window_faults.moc"
