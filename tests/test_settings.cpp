// The settings file: the key-by-key INI editor, and the main window restoring and
// saving its page and filter switches through it.
#include <sys/stat.h>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <optional>

#include "app/Unit1.h"
#include "settings/inifile.h"
#include "settings/settingsfile.h"
#include "tests/file_faults.h"
#include "tests/gui_fixture.h"
#include "ui_Unit1.h"
#include "widgets/listquery.h"

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& content) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

const QString kParam = QStringLiteral("param");

// What lies at path, as far as a test tells one thing there from another.
QString whatIsAt(const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink()) return "a link to " + info.symLinkTarget();
    if (info.isDir()) return QStringLiteral("a folder");
    if (info.isFile()) return QStringLiteral("a file of %1 bytes").arg(info.size());
    return info.exists() ? QStringLiteral("something else") : QStringLiteral("nothing");
}

}  // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void missingFileReadsAsEmpty();
    void editsChangeOnlyTheirLines();
    void newKeysAndSectionsAreAdded();
    void integersAreStrict_data();
    void integersAreStrict();
    void unwritableFileIsReported();
    void fileInReadOnlyFolderIsWrittenInPlace();
    void settingsFollowTheUserWhereTheProgramFolderIsNotTheirs_data();
    void settingsFollowTheUserWhereTheProgramFolderIsNotTheirs();

    void firstStartUsesTheLayoutAndCloseWritesDefaults();
    void settingsRoundTrip();
    void badValuesKeepTheLayoutState();
    void restoredCategoryFiltersByFirstCategory();
    void restoringLentAndNameRebuildsTwice();
    void exitSavesLikeTheCloseButton();
    void failedSaveIsReportedAndTheWindowCloses();
    void unreadableFileMeansDefaults_data();
    void unreadableFileMeansDefaults();

private:
    std::unique_ptr<WindowTestEnvironment> env_;
};

void TestSettings::init() {
    env_ = std::make_unique<WindowTestEnvironment>();
}

void TestSettings::cleanup() {
    env_.reset();
}

void TestSettings::missingFileReadsAsEmpty() {
    IniFile ini(env_->settingsFile);
    QVERIFY(ini.load());
    QVERIFY(!ini.value(kParam, QStringLiteral("page")));
    QCOMPARE(ini.integer(kParam, QStringLiteral("page"), 7), 7);
}

void TestSettings::editsChangeOnlyTheirLines() {
    writeAll(env_->settingsFile,
             "; Korvalen\r\n"
             "[Other]\r\n"
             "page=9\r\n"
             "\r\n"
             "[PARAM]\r\n"
             "Page = 2\r\n"
             "# kept\r\n"
             "nal=3\r\n"
             "\r\n"
             "[tail]\r\n"
             "x=y");
    IniFile ini(env_->settingsFile);
    QVERIFY(ini.load());
    QCOMPARE(ini.integer(kParam, QStringLiteral("page"), 0), 2);  // names ignore case
    ini.setInteger(kParam, QStringLiteral("page"), 1);
    ini.setInteger(kParam, QStringLiteral("nal"), 3);
    QVERIFY(ini.save());
    QCOMPARE(readAll(env_->settingsFile), QByteArray("; Korvalen\r\n"
                                                     "[Other]\r\n"
                                                     "page=9\r\n"
                                                     "\r\n"
                                                     "[PARAM]\r\n"
                                                     "Page=1\r\n"
                                                     "# kept\r\n"
                                                     "nal=3\r\n"
                                                     "\r\n"
                                                     "[tail]\r\n"
                                                     "x=y"));
}

void TestSettings::newKeysAndSectionsAreAdded() {
    writeAll(env_->settingsFile, "[param]\npage=2\n\n[other]\nkey=value");
    IniFile ini(env_->settingsFile);
    QVERIFY(ini.load());
    ini.setInteger(kParam, QStringLiteral("kat"), 1);
    ini.setValue(QStringLiteral("new"), QStringLiteral("a"), QStringLiteral("b"));
    QVERIFY(ini.save());
    QCOMPARE(readAll(env_->settingsFile),
             QByteArray("[param]\npage=2\nkat=1\n\n[other]\nkey=value\n[new]\na=b\n"));
}

void TestSettings::integersAreStrict_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("read");
    QTest::newRow("plain") << QByteArray("2") << 2;
    QTest::newRow("blanks") << QByteArray("  3  ") << 3;
    QTest::newRow("negative") << QByteArray("-1") << -1;
    QTest::newRow("word") << QByteArray("yes") << 42;
    QTest::newRow("empty") << QByteArray("") << 42;
    QTest::newRow("fraction") << QByteArray("1.5") << 42;
    QTest::newRow("trailing") << QByteArray("1x") << 42;
    QTest::newRow("too big") << QByteArray("99999999999") << 42;
}

void TestSettings::integersAreStrict() {
    QFETCH(QByteArray, value);
    QFETCH(int, read);
    writeAll(env_->settingsFile, "[param]\nkat=" + value + "\n");
    IniFile ini(env_->settingsFile);
    QVERIFY(ini.load());
    QCOMPARE(ini.integer(kParam, QStringLiteral("kat"), 42), read);
}

void TestSettings::unwritableFileIsReported() {
    IniFile ini(env_->fixture.filePath(QStringLiteral("no/such/folder/Korvalen.ini")));
    QVERIFY(ini.load());
    ini.setInteger(kParam, QStringLiteral("page"), 1);
    QVERIFY(!ini.save());
    QVERIFY(!ini.errorString().isEmpty());
    IniFile folder(env_->fixture.path());  // a folder where the file should be
    QVERIFY(!folder.load());
}

// Keys are written one by one into the file itself, so a writable file in a folder
// that takes no new file (for the write's temporary copy) is written in place.
void TestSettings::fileInReadOnlyFolderIsWrittenInPlace() {
    const QString folder = env_->fixture.filePath(QStringLiteral("read-only"));
    QVERIFY(QDir().mkdir(folder));
    const QString path = folder + QStringLiteral("/Korvalen.ini");
    writeAll(path, "[keep]\nme=1\n");
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    faults::WithoutRootOverride asAUser;
    if (QFile(folder + QStringLiteral("/probe")).open(QIODevice::WriteOnly))
        QSKIP("file permissions do not bind this process");
    IniFile ini(path);
    QVERIFY(ini.load());
    ini.setInteger(kParam, QStringLiteral("page"), 2);
    QVERIFY2(ini.save(), qPrintable(ini.errorString()));
    QCOMPARE(readAll(path), QByteArray("[keep]\nme=1\n[param]\npage=2\n"));
}

void TestSettings::settingsFollowTheUserWhereTheProgramFolderIsNotTheirs_data() {
    QTest::addColumn<QString>("programFolder");
    QTest::addColumn<bool>("beside");
    QTest::newRow("writable: a build, ~/.local/bin") << "writable" << true;
    QTest::newRow("no right to write: a system install") << "read-only" << false;
    QTest::newRow("a read-only mount") << "read-only mount" << false;
}

// Where the program's folder is not the user's to write, the file is the user's own, and
// its folder (~/.config/korvalen) is made on saving.
void TestSettings::settingsFollowTheUserWhereTheProgramFolderIsNotTheirs() {
    QFETCH(QString, programFolder);
    QFETCH(bool, beside);
    const QString program = env_->fixture.filePath(QStringLiteral("bin"));
    const QString config = env_->fixture.filePath(QStringLiteral("home/.config"));
    QVERIFY(QDir().mkdir(program));
    std::optional<faults::ReadOnlyMount> mount;
    if (programFolder == "read-only")
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
    if (programFolder == "read-only mount" && !mount.emplace(program.toStdString()).mounted())
        QSKIP("this process may not mount a file system of its own here");
    faults::WithoutRootOverride asAUser;
    const QString path = settingsFilePathFor(program, config);
    QCOMPARE(path, beside ? program + QStringLiteral("/Korvalen.ini")
                          : config + QStringLiteral("/korvalen/Korvalen.ini"));
    IniFile ini(path, true);
    ini.setInteger(kParam, QStringLiteral("page"), 2);
    QVERIFY2(ini.save(), qPrintable(ini.errorString()));
    QCOMPARE(readAll(path), QByteArray("[param]\npage=2\n"));
}

void TestSettings::firstStartUsesTheLayoutAndCloseWritesDefaults() {
    TForm1 form;
    QCOMPARE(form.ui->PageControl1->currentWidget(), form.ui->TabSheet1);
    QVERIFY(form.ui->RadioButton1->isChecked());
    QVERIFY(!form.ui->CheckBox1->isChecked() && !form.ui->CheckBox2->isChecked() &&
            !form.ui->CheckBox4->isChecked());
    QVERIFY(form.ui->N1->menuAction()->isEnabled());
    QVERIFY(!form.ui->N2->menuAction()->isEnabled());
    // No rebuild ran: the statement is still the layout's.
    QCOMPARE(form.Query5->query().lines().at(2),
             std::string("   INNER JOIN \"base\\SprKategoy.db\" Sprkategoy"));
    QVERIFY(form.close());
    QCOMPARE(readAll(env_->settingsFile),
             QByteArray("[param]\npage=1\nnal=1\nkat=0\nnos=0\nnaz=0\n"));
    QVERIFY(env_->messages.errors().isEmpty());
}

void TestSettings::settingsRoundTrip() {
    writeAll(env_->settingsFile,
             "; mine\n[param]\npage=2\nnal=2\nkat=1\nnos=1\nnaz=1\n[keep]\nme=1\n");
    {
        TForm1 form;
        QCOMPARE(form.ui->PageControl1->currentWidget(), form.ui->TabSheet2);
        QVERIFY(!form.ui->N1->menuAction()->isEnabled());
        QVERIFY(form.ui->N2->menuAction()->isEnabled());
        QVERIFY(form.ui->RadioButton2->isChecked());
        QVERIFY(form.ui->CheckBox1->isChecked() && form.ui->CheckBox2->isChecked() &&
                form.ui->CheckBox4->isChecked());
        QVERIFY(form.close());
    }
    QCOMPARE(readAll(env_->settingsFile),
             QByteArray("; mine\n[param]\npage=2\nnal=2\nkat=1\nnos=1\nnaz=1\n[keep]\nme=1\n"));
    {
        TForm1 form;
        form.ui->PageControl1->tabBar()->setCurrentIndex(0);
        form.ui->RadioButton3->setChecked(true);
        form.ui->CheckBox2->setChecked(false);
        QVERIFY(form.close());
    }
    QCOMPARE(readAll(env_->settingsFile),
             QByteArray("; mine\n[param]\npage=1\nnal=3\nkat=1\nnos=0\nnaz=1\n[keep]\nme=1\n"));
}

void TestSettings::badValuesKeepTheLayoutState() {
    writeAll(env_->settingsFile, "[param]\npage=7\nnal=0\nkat=2\nnos=yes\nnaz=\n");
    TForm1 form;
    QCOMPARE(form.ui->PageControl1->currentWidget(), form.ui->TabSheet1);
    QVERIFY(form.ui->RadioButton1->isChecked());
    QVERIFY(form.ui->CheckBox1->isChecked());
    QVERIFY(!form.ui->CheckBox2->isChecked());
    QVERIFY(!form.ui->CheckBox4->isChecked());
    QVERIFY(form.close());
    QCOMPARE(readAll(env_->settingsFile),
             QByteArray("[param]\npage=1\nnal=1\nkat=1\nnos=0\nnaz=0\n"));
    QVERIFY(env_->messages.errors().isEmpty());
}

// The category list stands on its first row, Документы, and the box shows it.
void TestSettings::restoredCategoryFiltersByFirstCategory() {
    writeAll(env_->settingsFile, "[param]\nkat=1\n");
    TForm1 form;
    form.Query5->query().fetchAll();
    QCOMPARE(form.Query5->query().fetchedRows(), 2);  // Abc 100% and Road_trip
    QCOMPARE(form.ui->DBLookupComboBox1->currentText(), QStringLiteral("Документы"));
}

// Each restored switch rebuilds the list through its click handler, so page changes
// run no handler while "На руках" and then the name switch each rebuild once.
void TestSettings::restoringLentAndNameRebuildsTwice() {
    TForm1 form;  // no file: the layout's state, nothing rebuilt
    writeAll(env_->settingsFile, "[param]\npage=2\nnal=3\nnaz=1\n");
    QSignalSpy pageChanges(form.ui->PageControl1, &QTabWidget::currentChanged);
    std::vector<std::string> conditions;
    connect(form.Query5, &ListQuery::opened, this,
            [&] { conditions.push_back(form.Query5->query().lines().back()); });
    form.FormCreate();
    QCOMPARE(conditions,
             (std::vector<std::string>{"Where (Cdbase.Dolg = True)",
                                       "Where (CDBase.Name like '%%') and (Cdbase.Dolg = True)"}));
    QCOMPARE(pageChanges.count(), 0);
    QCOMPARE(form.ui->PageControl1->currentWidget(), form.ui->TabSheet2);
    QVERIFY(form.ui->N2->menuAction()->isEnabled());
}

void TestSettings::exitSavesLikeTheCloseButton() {
    TForm1 form;
    form.show();
    form.ui->CheckBox2->setChecked(true);
    form.ui->N21->trigger();
    QVERIFY(!form.isVisible());
    QCOMPARE(readAll(env_->settingsFile),
             QByteArray("[param]\npage=1\nnal=1\nkat=0\nnos=1\nnaz=0\n"));
}

void TestSettings::failedSaveIsReportedAndTheWindowCloses() {
    setSettingsFilePath(env_->fixture.filePath(QStringLiteral("no/such/folder/Korvalen.ini")));
    TForm1 form;
    form.show();
    QVERIFY(form.close());
    QVERIFY(!form.isVisible());
    QCOMPARE(env_->messages.errors().size(), 1);
    QVERIFY(env_->messages.errors().front().startsWith(
        QStringLiteral("Не удалось сохранить настройки")));
}

void TestSettings::unreadableFileMeansDefaults_data() {
    QTest::addColumn<QString>("kind");
    for (const char* kind :
         {"a folder", "a pipe", "a link to /dev/zero", "no right to read", "over the size limit"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

// A settings file that cannot be read counts as none: the window starts with every switch
// at its default and no message, without waiting on a pipe or reading a device that never
// ends. Closing cannot save over it either: that is said, and it is left as it was.
void TestSettings::unreadableFileMeansDefaults() {
    QFETCH(QString, kind);
    const QString& path = env_->settingsFile;
    const QByteArray pageTwo("[param]\npage=2\n");
    if (kind == "a folder") {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == "a pipe") {
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0644), 0);
    } else if (kind == "a link to /dev/zero") {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    } else if (kind == "no right to read") {
        writeAll(path, pageTwo);
        QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
    } else {
        writeAll(path, pageTwo + QByteArray(IniFile::kMaxBytes, ';'));
    }
    const QString before = whatIsAt(path);
    faults::WithoutRootOverride asAUser;
    {
        TForm1 form;
        QCOMPARE(form.ui->PageControl1->currentWidget(), form.ui->TabSheet1);
        QCOMPARE(env_->messages.errors(), QStringList());
        form.show();
        QVERIFY(form.close());
    }
    QCOMPARE(env_->messages.errors().size(), 1);
    QVERIFY(env_->messages.errors().front().startsWith(
        QStringLiteral("Не удалось сохранить настройки")));
    QCOMPARE(whatIsAt(path), before);
}

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
