// The "Содержимое" menu and window over the commands' catalogue: a folder read into the
// current disk through the menu shows in the window, a stopped or failed read keeps what
// the disk had, the window follows the main window, and a person can work it by keyboard
// and screen reader.
#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <chrono>
#include <fstream>
#include <thread>

#include "app/Unit1.h"
#include "contents/contentsmenu.h"
#include "contents/contentsmodel.h"
#include "contents/contentswindow.h"
#include "contents/filesearchwindow.h"
#include "settings/settingsfile.h"
#include "store/contents.h"
#include "store/contentsstore.h"
#include "store/database.h"
#include "store/statement.h"
#include "tests/commands_fixture.h"
#include "ui_Unit1.h"
#include "widgets/listquery.h"

namespace {

contents::ContentsMenu& contentsMenu(TForm1& form) {
    return *form.findChild<contents::ContentsMenu*>(QStringLiteral("ContentsMenu"));
}

template <typename Control>
Control* control(const QWidget& window, const char* name) {
    auto* found = window.findChild<Control*>(QLatin1String(name));
    if (!found) qFatal("no control %s", name);
    return found;
}

// The tree's rows under parent as shown, cells joined by "|".
QStringList treeRows(contents::ContentsWindow& window, const QModelIndex& parent = {}) {
    auto* model =
        qobject_cast<contents::ContentsModel*>(control<QTreeView>(window, "FilesTree")->model());
    if (model->canFetchMore(parent)) model->fetchMore(parent);
    QStringList rows;
    for (int r = 0; r < model->rowCount(parent); ++r) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << model->index(r, c, parent).data().toString();
        rows << cells.join('|');
    }
    return rows;
}

// A folder to read: a subfolder of two files, a file and a name that is not UTF-8.
void makeFolder(const QString& root) {
    QDir().mkpath(root + "/Фильмы");
    // Paths as bytes: a QString cannot hold a name that is not UTF-8.
    const auto write = [&root](const std::string& name, std::streamsize bytes) {
        std::ofstream(QFile::encodeName(root).toStdString() + name) << std::string(bytes, 'x');
    };
    write("/Фильмы/a.avi", 3000);
    write("/Фильмы/b.txt", 5);
    write("/readme.txt", 10);
    write("/\xff\xfe.bin", 2);
}

// Reads folder into the main window's current disk through the menu.
void readThroughMenu(TForm1& form, const QString& folder) {
    contentsMenu(form).chooseSource = [folder](QWidget*) {
        return std::filesystem::path(QFile::encodeName(folder).toStdString());
    };
    form.ui->ActionReadContents->trigger();
}

contents::ContentsWindow& openWindow(TForm1& form) {
    form.ui->ActionShowContents->trigger();
    contents::ContentsWindow& window = *contentsMenu(form).contentsWindow();
    window.refresh();
    return window;
}

const QStringList kFolderRows{"Фильмы|2,9 КБ||", "readme.txt|10 байт||",
                              "\uFFFD\uFFFD.bin|2 байт||имя не в UTF-8"};

QStringList withoutDates(QStringList rows) {
    for (QString& row : rows) {
        QStringList cells = row.split('|');
        cells[2].clear();
        row = cells.join('|');
    }
    return rows;
}

}  // namespace

class ContentsWindows : public QObject {
    Q_OBJECT

private slots:
    void init() { setSettingsFilePath(folder_.filePath("Korvalen.ini")); }
    // The folder's odd name is beyond QTemporaryDir, which names files as text.
    void cleanup() {
        setSettingsFilePath({});
        std::filesystem::remove_all(QFile::encodeName(folder_.path()).toStdString() + "/disc");
        QFile::remove(folder_.filePath("Korvalen.ini"));
    }
    void aFolderReadThroughTheMenuShowsInTheWindow();
    void aStoppedOrFailedReadKeepsWhatTheDiskHad_data();
    void aStoppedOrFailedReadKeepsWhatTheDiskHad();
    void theWindowFollowsTheCurrentDisk();
    void theWindowServesTheKeyboardAndScreenReaders();
    void findingAFileOpensItsDisk();

private:
    QTemporaryDir folder_;
};

// The window, open before the read, shows the new contents as soon as they are
// committed; the box saying so comes over the main window with the progress dialog gone.
// Reading again asks first, and "No" reads nothing.
void ContentsWindows::aFolderReadThroughTheMenuShowsInTheWindow() {
    CommandsFixture f;
    makeFolder(folder_.filePath("disc"));
    QVERIFY(CommandsFixture::select(*f.form1().Query5, "Name", "Матрица"));
    contents::ContentsWindow& window = openWindow(f.form1());
    QVERIFY2(control<QLabel>(window, "VolumeFacts")
                 ->text()
                 .startsWith("Содержимое этого диска ещё не прочитано"),
             qPrintable(control<QLabel>(window, "VolumeFacts")->text()));
    QCOMPARE(treeRows(window), QStringList());

    readThroughMenu(f.form1(), folder_.filePath("disc"));
    QCOMPARE(f.boxes.errors(), QStringList());
    QCOMPARE(f.boxes.informations(),
             QStringList("Содержимое диска № 1 «Матрица» прочитано из " + folder_.filePath("disc") +
                         ": папок 1, файлов 4."));
    QCOMPARE(f.boxes.parents, QList<QWidget*>({&f.form1()}));
    QCOMPARE(f.boxes.underProgress, 0);
    QTRY_COMPARE(withoutDates(treeRows(window)), kFolderRows);
    const QStringList inFolder =
        treeRows(window, control<QTreeView>(window, "FilesTree")->model()->index(0, 0));
    QCOMPARE(withoutDates(inFolder), QStringList({"a.avi|2,9 КБ||", "b.txt|5 байт||"}));
    QVERIFY2(QRegularExpression(R"(^a\.avi\|2,9 КБ\|\d\d\.\d\d\.\d{4} \d\d:\d\d\|$)")
                 .match(inFolder[0])
                 .hasMatch(),
             qPrintable(inFolder[0]));
    const QString facts = control<QLabel>(window, "VolumeFacts")->text();
    QVERIFY2(facts.startsWith("Источник: папка " + folder_.filePath("disc")) &&
                 facts.contains("папок 1, файлов 4"),
             qPrintable(facts));

    f.boxes.answers = {false};
    readThroughMenu(f.form1(), folder_.path());
    QCOMPARE(f.boxes.shown.size(), 2);
    QVERIFY(f.boxes.shown[1].startsWith("confirm: Содержимое диска № 1 «Матрица» уже прочитано"));
    QCOMPARE(withoutDates(treeRows(window)), kFolderRows);
}

void ContentsWindows::aStoppedOrFailedReadKeepsWhatTheDiskHad_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("says");
    QTest::newRow("stopped") << "stop"
                             << "information: Чтение остановлено. У диска № 1 «Матрица» "
                                "осталось прежнее содержимое.";
    QTest::newRow("failed") << "fail"
                            << "error: Содержимое диска № 1 «Матрица» не прочитано: Образ "
                               "/нет/такого.iso не найден.\nУ диска осталось прежнее содержимое.";
    QTest::newRow("contents file kept busy")
        << "busy" << "error: Содержимое диска № 1 «Матрица» не прочитано: Не удалось начать запись";
}

// A read that hands part of a tree and is then stopped by the dialog's button, or fails:
// the disk keeps its previous contents, and the box comes with the dialog gone.
void ContentsWindows::aStoppedOrFailedReadKeepsWhatTheDiskHad() {
    QFETCH(QString, how);
    QFETCH(QString, says);
    CommandsFixture f;
    makeFolder(folder_.filePath("disc"));
    QVERIFY(CommandsFixture::select(*f.form1().Query5, "Name", "Матрица"));
    readThroughMenu(f.form1(), folder_.filePath("disc"));
    contents::ContentsWindow& window = openWindow(f.form1());
    QTRY_COMPARE(withoutDates(treeRows(window)), kFolderRows);

    contentsMenu(f.form1()).reader = [how](const std::filesystem::path&,
                                           store::ContentsSink& sink) {
        sink.volume({});
        sink.file(store::kRootFolder, "half.txt", 1, std::nullopt, 0);
        if (how == "fail") throw store::ReadFailed("Образ /нет/такого.iso не найден.");
        while (!sink.stopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        throw store::ReadStopped();
    };
    QTimer pressStop;
    connect(&pressStop, &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QProgressDialog*>(w); dialog && dialog->isVisible())
                dialog->findChild<QAbstractButton*>()->click();
    });
    // Another writer of the contents holds the file: the read's own writing fails and
    // stops the walk, which reports that failure, not a stop.
    const auto other = store::Database::open(f.form1().Query5->query().databaseForRun()->baseDir());
    if (how == "busy") {
        QVERIFY(other->attachContents());
        store::Statement(*other, "BEGIN IMMEDIATE").run();
        store::Statement(*other, "DELETE FROM " + store::contentsTable("disk_tracks") + " WHERE 0").run();
    } else {
        pressStop.start(20);
    }
    f.boxes.shown.clear();
    readThroughMenu(f.form1(), folder_.path());
    pressStop.stop();
    if (how == "busy") store::Statement(*other, "ROLLBACK").run();
    QCOMPARE(f.boxes.shown.size(), 2);
    QVERIFY(f.boxes.shown[0].startsWith("confirm: Содержимое диска № 1 «Матрица» уже прочитано"));
    QVERIFY2(how == "busy" ? f.boxes.shown[1].startsWith(says) : f.boxes.shown[1] == says,
             qPrintable(f.boxes.shown[1]));
    QCOMPARE(f.boxes.underProgress, 0);
    window.refresh();
    QCOMPARE(withoutDates(treeRows(window)), kFolderRows);
}

// The window shows the main window's current disk as it moves, a disk not yet read
// saying so, and no disk at all when the list has none.
void ContentsWindows::theWindowFollowsTheCurrentDisk() {
    CommandsFixture f;
    makeFolder(folder_.filePath("disc"));
    QVERIFY(CommandsFixture::select(*f.form1().Query5, "Name", "Матрица"));
    readThroughMenu(f.form1(), folder_.filePath("disc"));
    contents::ContentsWindow& window = openWindow(f.form1());
    QTRY_COMPARE(window.shownDisk(), std::optional<int64_t>(1));
    QCOMPARE(withoutDates(treeRows(window)), kFolderRows);
    QCOMPARE(control<QLabel>(window, "CurrentDiskLabel")->text(), "Диск № 1 «Матрица»");

    QVERIFY(CommandsFixture::select(*f.form1().Query5, "Name", "Abbey Road"));
    QTRY_COMPARE(window.shownDisk(), std::optional<int64_t>(2));
    QCOMPARE(treeRows(window), QStringList());
    QVERIFY(control<QLabel>(window, "VolumeFacts")
                ->text()
                .startsWith("Содержимое этого диска ещё не прочитано"));

    QVERIFY(CommandsFixture::select(*f.form1().Query5, "Name", "Матрица"));
    QTRY_COMPARE(window.shownDisk(), std::optional<int64_t>(1));
    QCOMPARE(withoutDates(treeRows(window)), kFolderRows);

    f.form1().Query5->close();
    QTRY_COMPARE(window.shownDisk(), std::nullopt);
    QCOMPARE(control<QLabel>(window, "CurrentDiskLabel")->text(),
             "В списке дисков нет текущего диска.");
    QCOMPARE(f.boxes.errors(), QStringList());
}

// A window to AT-SPI whose labels read as they show, an Alt letter of its own for each
// control, Tab round every control and out of the tree, Shift+Tab the same way back; its
// place kept as left.
void ContentsWindows::theWindowServesTheKeyboardAndScreenReaders() {
    CommandsFixture f;
    f.form1().show();
    makeFolder(folder_.filePath("disc"));
    QVERIFY(CommandsFixture::select(*f.form1().Query5, "Name", "Матрица"));
    readThroughMenu(f.form1(), folder_.filePath("disc"));
    contents::ContentsWindow& window = openWindow(f.form1());
    const QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&window);
    QCOMPARE(accessible->role(), QAccessible::Window);
    QCOMPARE(accessible->text(QAccessible::Name), "Содержимое диска");
    QStringList letters;
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        QVERIFY2(!label->text().isEmpty(), qPrintable(label->objectName()));
        QCOMPARE(QAccessible::queryAccessibleInterface(const_cast<QLabel*>(label))
                     ->text(QAccessible::Name),
                 QString(label->text()).remove('&'));
        if (label->buddy()) letters << QKeySequence::mnemonic(label->text()).toString().toLower();
    }
    for (const QAbstractButton* button : window.findChildren<QAbstractButton*>())
        letters << QKeySequence::mnemonic(button->text()).toString().toLower();
    QVERIFY2(!letters.contains(QString()), qPrintable(letters.join(' ')));
    QCOMPARE(QSet<QString>(letters.begin(), letters.end()).size(), letters.size());

    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QWidget* first = control<QWidget>(window, "FilesTree");
    first->setFocus();
    const auto goRound = [&](Qt::KeyboardModifiers modifiers) {
        QList<QWidget*> passed{first};
        for (int i = 0; i < 20 && (passed.size() == 1 || passed.last() != first); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
            passed << QApplication::focusWidget();
        }
        return passed;
    };
    const QList<QWidget*> forward = goRound(Qt::NoModifier);
    QCOMPARE(forward, QList<QWidget*>({first, control<QWidget>(window, "ReadButton"),
                                       control<QWidget>(window, "CloseButton"), first}));
    QList<QWidget*> backward = goRound(Qt::ShiftModifier);
    std::reverse(backward.begin(), backward.end());
    QCOMPARE(backward, forward);

    // Its place is kept in a section of its own.
    window.resize(640, 420);
    window.close();
    const QSettings ini(settingsFilePath(), QSettings::IniFormat);
    QCOMPARE(ini.value("contents/window_width").toInt(), 640);
    QCOMPARE(ini.value("contents/window_height").toInt(), 420);
}

// "Найти файл...": rows as the user types, their count after them; Enter on a disk the main
// window's filter hides asks, clears the filter, makes the disk current and opens its
// contents.
void ContentsWindows::findingAFileOpensItsDisk() {
    CommandsFixture f;
    makeFolder(folder_.filePath("disc"));
    QVERIFY(CommandsFixture::select(*f.form1().Query5, "Name", "Матрица"));
    readThroughMenu(f.form1(), folder_.filePath("disc"));
    f.form1().ui->RadioButton2->setChecked(true);  // "в наличии": the lent Матрица hidden
    f.form1().ui->ActionFindFile->trigger();
    contents::FileSearchWindow& window = *contentsMenu(f.form1()).fileSearchWindow();
    QVERIFY(window.isVisible());
    QVERIFY(control<QLabel>(window, "HintLabel")->text().contains("% и _ — обычные знаки"));
    auto* edit = control<QLineEdit>(window, "FragmentEdit");
    auto* table = control<QTableWidget>(window, "FoundTable");
    QVERIFY(!edit->accessibleName().isEmpty() && !table->accessibleName().isEmpty());
    QTest::keyClicks(edit, "TXT");
    const auto rows = [table] {
        QStringList out;
        for (int r = 0; r < table->rowCount(); ++r)
            out << table->item(r, 0)->text() + "|" + table->item(r, 1)->text() + "|" +
                       table->item(r, 4)->text() + "|" + table->item(r, 6)->text();
        out.sort();
        return out;
    };
    QTRY_COMPARE(control<QLabel>(window, "CountLabel")->text(), QStringLiteral("Найдено: 2"));
    QCOMPARE(rows(), QStringList({"b.txt|/Фильмы|1|Иванов Сергей", "readme.txt|/|1|Иванов Сергей"}));

    // Tab goes from the list to "Сохранить...", which writes every match with the
    // narrowing named; its box stands over this window, the progress gone.
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto* save = control<QPushButton>(window, "SaveButton");
    QCOMPARE(save->accessibleName(), QString(save->text()).remove('&'));
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), save);
    const QTemporaryDir out;
    QVERIFY(window.saveFound(out.filePath("found.csv")));
    QCOMPARE(f.boxes.parents.last(), &window);
    QCOMPARE(f.boxes.underProgress, 0);
    QFile csv(out.filePath("found.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(csv.readAll()).split("\r\n", Qt::SkipEmptyParts);
    QCOMPARE(lines.takeFirst(), "Имя,Папка,Размер,Изменён,Диск №,Диск,На руках");
    for (QString& line : lines)
        line.remove(QRegularExpression(",\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d"));
    lines.sort();
    QCOMPARE(lines, QStringList({"b.txt,/Фильмы,5,1,Матрица,Иванов Сергей",
                                 "readme.txt,/,10,1,Матрица,Иванов Сергей"}));
    auto* category = control<QComboBox>(window, "CategoryBox");
    category->setCurrentIndex(1);
    QVERIFY(window.saveFound(out.filePath("found.html")));
    QFile html(out.filePath("found.html"));
    QVERIFY(html.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(html.readAll())
                .contains("Отбор: имя содержит «TXT»; категория: " + category->currentText()));
    category->setCurrentIndex(0);
    QTRY_COMPARE(table->rowCount(), 2);

    // Enter opens the disk's contents at the file found, its folder opened, the keyboard on it.
    const auto listed = table->findItems("b.txt", Qt::MatchExactly);
    QCOMPARE(listed.size(), 1);
    table->setCurrentItem(listed[0]);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(f.boxes.shown.filter("confirm: "),
             QStringList({"confirm: Диск № 1 «Матрица» скрыт фильтром главного окна. Снять "
                          "фильтр и показать его?"}));
    QVERIFY(f.form1().ui->RadioButton1->isChecked());
    QCOMPARE(f.form1().Query5->integer("N"), int64_t{1});
    contents::ContentsWindow& opened = *contentsMenu(f.form1()).contentsWindow();
    QVERIFY(opened.isVisible());
    auto* tree = control<QTreeView>(opened, "FilesTree");
    QStringList path;
    for (QModelIndex at = tree->currentIndex(); at.isValid(); at = at.parent()) {
        QVERIFY(at == tree->currentIndex() || tree->isExpanded(at));
        path.prepend(at.data().toString());
    }
    QCOMPARE(path.join('/'), "Фильмы/b.txt");
    QCOMPARE(opened.focusWidget(), tree);

    // Its place is kept beside the contents window's.
    window.resize(700, 400);
    window.close();
    const QSettings ini(settingsFilePath(), QSettings::IniFormat);
    QCOMPARE(ini.value("contents/find_window_width").toInt(), 700);
    QCOMPARE(ini.value("contents/find_window_height").toInt(), 400);
}

QTEST_MAIN(ContentsWindows)
#include "test_contentswindows.moc"
