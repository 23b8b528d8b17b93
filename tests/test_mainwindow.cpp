// The main window: start-up, layout, menus, lists and their models, the filter through
// its controls, and the drawing of lent disks.
#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <set>

#include "app/Unit1.h"
#include "app/startup.h"
#include "dialogs/about.h"
#include "store/database.h"
#include "tests/gui_fixture.h"
#include "tools/catalogue_demo.h"
#include "ui_Unit1.h"
#include "widgets/columndrawdelegate.h"
#include "widgets/listquery.h"
#include "widgets/lookupcombobox.h"
#include "widgets/querymodel.h"

namespace {

std::set<int> listedDisks(TForm1& form) {
    std::set<int> out;
    ListQuery* list = form.Query5;
    list->query().fetchAll();
    const int n = list->query().columnIndex("N");
    for (int row = 0; row < list->query().fetchedRows(); ++row)
        out.insert(int(list->query().fieldAt(row, n).asInteger()));
    return out;
}

// The fixture's description of the disk the list stands on.
QString descriptionOfCurrentDisk(TForm1& form) {
    const int n = form.Query5->text("N").toInt();
    for (const fixture::Disk& d : fixture::disks())
        if (d.n == n) return d.description;
    return {};
}

int rowOfDisk(TForm1& form, int disk) {
    const store::Query& q = form.Query5->query();
    const int n = q.columnIndex("N");
    for (int row = 0; row < q.fetchedRows(); ++row)
        if (q.fieldAt(row, n).asInteger() == disk) return row;
    return -1;
}

// Shows the window and lets the disk grid read the rows it has room for; the small
// catalogue fits whole.
bool showFilled(TForm1& form) {
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) return false;
    return QTest::qWaitFor([&] { return !form.DataSource5->canFetchMore({}); }, 5000);
}

bool isRed(QRgb c) {
    return qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) < 80;
}

int redPixels(const QImage& image, const QRect& area) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (isRed(image.pixel(x, y))) ++count;
    return count;
}

// The window's layout: parent, position and size of a control.
struct Placement {
    const char* name;
    const char* parent;
    QRect geometry;
};

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startCreatesTheWindowsWithOpenLists();
    void startWithoutTablesShowsTheErrorAndEndsWithCode1();
    void windowIsLaidOut();
    void controlsArePlaced_data();
    void controlsArePlaced();
    void gridsAndMenusAreLaidOut();
    void menusFollowThePage();
    void aboutIsShownModally();
    void modelsPassTheModelTester();
    void gridAndListKeepTheCurrentRowInStep();
    void lookupBoxShowsTheRowItsListStandsOn();
    void filterRunsFromItsControls();
    void everyKeyReleaseRebuildsOnce();
    void quoteInNameFragmentIsNoError();
    void bigListOpensWithoutReadingEveryRow();
    void referencePointFollowsTheAlignment();
    void drawFieldWritesRedBoldItalicInsideTheCell();
    void lentRowsAreRedOthersAreNot();

private:
    std::unique_ptr<TForm1> makeForm();

    std::unique_ptr<WindowTestEnvironment> env_;
};

void TestMainWindow::init() {
    env_ = std::make_unique<WindowTestEnvironment>();
}

void TestMainWindow::cleanup() {
    env_.reset();
}

std::unique_ptr<TForm1> TestMainWindow::makeForm() {
    return std::make_unique<TForm1>();
}

void TestMainWindow::startCreatesTheWindowsWithOpenLists() {
    const auto windows = createWindows();
    QVERIFY(windows);
    QCOMPARE(Form1, windows->form1.get());
    QCOMPARE(AboutBox, windows->aboutBox.get());
    QVERIFY(windows->form2 && windows->form3);
    for (ListQuery* q : {Form1->Query1, Form1->Query2, Form1->Query3, Form1->Query5, Form1->Query6,
                         Form1->Query7, Form1->Query8})
        QVERIFY2(q->isOpen(), qPrintable(q->objectName()));
    QVERIFY(!Form1->Query4.isOpen());
    QVERIFY(!Form1->isVisible());
    QVERIFY(env_->messages.errors().isEmpty());
    // The lent-disks list: the two open loans.
    Form1->Query6->query().fetchAll();
    QCOMPARE(Form1->Query6->query().fetchedRows(), 2);
}

void TestMainWindow::startWithoutTablesShowsTheErrorAndEndsWithCode1() {
    QTemporaryDir empty;
    QDir::setCurrent(empty.path());
    store::Database::resetDefault();
    QCOMPARE(runProgram(), 1);
    QCOMPARE(env_->messages.errors().size(), 1);
    QVERIFY(!env_->messages.errors().front().isEmpty());
    QCOMPARE(Form1, nullptr);
    for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY(!w->isVisible());
}

void TestMainWindow::windowIsLaidOut() {
    auto form = makeForm();
    QCOMPARE(form->windowTitle(), QStringLiteral("Korvalen"));
    QCOMPARE(form->minimumSize(), form->maximumSize());
    QCOMPARE(form->centralWidget()->size(), QSize(766, 564));
    QCOMPARE(form->ui->PageControl1->geometry(), QRect(0, 0, 766, 564));
    QCOMPARE(form->font().pixelSize(), 11);
    QVERIFY(!(form->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(form->ui->PageControl1->tabText(0), QStringLiteral("Работа с данными"));
    QCOMPARE(form->ui->PageControl1->tabText(1), QStringLiteral("Работа со справочниками"));
    QCOMPARE(form->ui->PageControl1->currentWidget(), form->ui->TabSheet1);

    const QList<QSize> sizes = form->windowIcon().availableSizes();
    for (int side : {16, 24, 32, 48, 64, 72, 128})
        QVERIFY2(sizes.contains(QSize(side, side)), qPrintable(QString::number(side)));

    // Tab order of the data page, within each parent.
    const QList<QWidget*> chain = {
        form->ui->DBGrid4,      form->ui->DBMemo1,           form->ui->DBGrid5,
        form->ui->CheckBox1,    form->ui->CheckBox2,         form->ui->CheckBox4,
        form->ui->Edit4,        form->ui->DBLookupComboBox1, form->ui->DBLookupComboBox2,
        form->ui->RadioButton1, form->ui->BitBtn1,           form->ui->BitBtn2,
        form->ui->BitBtn3,      form->ui->BitBtn4,           form->ui->BitBtn5};
    for (int i = 0; i + 1 < chain.size(); ++i) {
        QWidget* next = chain[i]->nextInFocusChain();
        // Radio buttons share one stop; skip the two that follow the first.
        while (next == form->ui->RadioButton2 || next == form->ui->RadioButton3 ||
               next->focusPolicy() == Qt::NoFocus || next->focusProxy() || !next->isEnabled() ||
               qobject_cast<QAbstractScrollArea*>(next->parentWidget()) ||
               qobject_cast<QHeaderView*>(next))
            next = next->nextInFocusChain();
        QCOMPARE(next->objectName(), chain[i + 1]->objectName());
    }

    // Every control has a name for assistive technology: caption, buddy or its own.
    for (QWidget* w :
         {static_cast<QWidget*>(form->ui->DBGrid4), static_cast<QWidget*>(form->ui->DBMemo1),
          static_cast<QWidget*>(form->ui->DBGrid5), static_cast<QWidget*>(form->ui->Edit4),
          static_cast<QWidget*>(form->ui->DBGrid1), static_cast<QWidget*>(form->ui->DBGrid2),
          static_cast<QWidget*>(form->ui->DBGrid3), static_cast<QWidget*>(form->ui->Edit1),
          static_cast<QWidget*>(form->ui->Edit2), static_cast<QWidget*>(form->ui->Edit3),
          static_cast<QWidget*>(form->ui->DBLookupComboBox1),
          static_cast<QWidget*>(form->ui->DBLookupComboBox2)})
        QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
    QCOMPARE(form->ui->DBGrid4->accessibleName(), QStringLiteral("Список дисков"));
    QCOMPARE(form->ui->Edit1->accessibleName(), form->ui->Edit1->toolTip());
}

void TestMainWindow::controlsArePlaced_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    const Placement table[] = {
        {"DBGrid4", "TabSheet1", {8, 16, 401, 217}},
        {"DBMemo1", "TabSheet1", {416, 16, 329, 217}},
        {"DBGrid5", "TabSheet1", {8, 400, 737, 129}},
        {"Label1", "TabSheet1", {8, 384, 82, 13}},
        {"GroupBox4", "TabSheet1", {8, 280, 529, 105}},
        {"CheckBox1", "GroupBox4", {8, 16, 97, 17}},
        {"CheckBox2", "GroupBox4", {8, 40, 97, 17}},
        {"CheckBox4", "GroupBox4", {8, 60, 129, 17}},
        {"Edit4", "GroupBox4", {144, 56, 377, 21}},
        {"DBLookupComboBox1", "GroupBox4", {144, 8, 377, 21}},
        {"DBLookupComboBox2", "GroupBox4", {144, 32, 377, 21}},
        {"RadioGroup1", "TabSheet1", {552, 280, 185, 105}},
        {"RadioButton1", "TabSheet1", {560, 296, 113, 17}},
        {"RadioButton2", "TabSheet1", {560, 320, 113, 17}},
        {"RadioButton3", "TabSheet1", {560, 344, 113, 17}},
        {"BitBtn1", "TabSheet1", {552, 248, 105, 25}},
        {"BitBtn2", "TabSheet1", {424, 248, 97, 25}},
        {"BitBtn3", "TabSheet1", {8, 248, 113, 25}},
        {"BitBtn4", "TabSheet1", {144, 248, 137, 25}},
        {"BitBtn5", "TabSheet1", {296, 248, 105, 25}},
        {"GroupBox1", "TabSheet2", {8, 16, 377, 241}},
        {"DBGrid1", "GroupBox1", {16, 16, 345, 120}},
        {"Edit1", "GroupBox1", {16, 144, 345, 21}},
        {"ButtonDeleteKategory", "GroupBox1", {120, 208, 137, 25}},
        {"ButtonRenameKategory", "GroupBox1", {216, 176, 145, 25}},
        {"ButtonAddKategory", "GroupBox1", {16, 176, 139, 25}},
        {"GroupBox2", "TabSheet2", {400, 16, 345, 241}},
        {"DBGrid2", "GroupBox2", {8, 16, 320, 120}},
        {"Edit2", "GroupBox2", {8, 144, 321, 21}},
        {"ButtonAddType", "GroupBox2", {8, 176, 137, 25}},
        {"ButtonRenameType", "GroupBox2", {192, 176, 137, 25}},
        {"ButtonDeleteType", "GroupBox2", {88, 208, 129, 25}},
        {"GroupBox3", "TabSheet2", {8, 256, 737, 281}},
        {"DBGrid3", "GroupBox3", {8, 16, 320, 257}},
        {"Edit3", "GroupBox3", {336, 16, 393, 21}},
        {"ButtonAddDolgnik", "GroupBox3", {336, 48, 137, 25}},
        {"ButtonRenameDolgnik", "GroupBox3", {336, 80, 137, 25}},
        {"ButtonDeleteDolgnik", "GroupBox3", {336, 112, 139, 25}},
    };
    for (const Placement& p : table)
        QTest::newRow(p.name) << QString::fromLatin1(p.name) << QString::fromLatin1(p.parent)
                              << p.geometry;
}

void TestMainWindow::controlsArePlaced() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    auto form = makeForm();
    auto* w = form->findChild<QWidget*>(name);
    QVERIFY(w);
    QCOMPARE(w->parentWidget()->objectName(), parent);
    QCOMPARE(w->geometry(), geometry);
}

void TestMainWindow::gridsAndMenusAreLaidOut() {
    auto form = makeForm();
    auto columns = [](QTableView* grid) {
        QStringList out;
        for (int c = 0; c < grid->model()->columnCount(); ++c)
            out << grid->model()->headerData(c, Qt::Horizontal).toString() + QLatin1Char(' ') +
                       QString::number(grid->columnWidth(c));
        return out;
    };
    QCOMPARE(columns(form->ui->DBGrid4),
             QStringList({"Наименование 170", "Категория 95", "Носитель 100"}));
    QCOMPARE(columns(form->ui->DBGrid5),
             QStringList({"Номер диска 75", "Наименование диска 300", "Категория 80", "Носитель 80",
                          "Должник 113", "Дата 68"}));
    QCOMPARE(form->ui->DBGrid1->model()->headerData(0, Qt::Horizontal).toString(),
             QStringLiteral("Категория"));
    QCOMPARE(form->ui->DBGrid2->model()->headerData(0, Qt::Horizontal).toString(),
             QStringLiteral("Носитель"));
    QCOMPARE(form->ui->DBGrid3->model()->headerData(0, Qt::Horizontal).toString(),
             QStringLiteral("Должник"));
    for (QTableView* grid : {form->ui->DBGrid1, form->ui->DBGrid2, form->ui->DBGrid3,
                             form->ui->DBGrid4, form->ui->DBGrid5}) {
        QVERIFY(!grid->verticalHeader()->isHidden());
        QVERIFY(grid->verticalHeader()->width() <= 12);
        QCOMPARE(grid->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
        QVERIFY(!grid->wordWrap());
        QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
    }
    QCOMPARE(form->ui->DBGrid4->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(form->ui->DBGrid5->selectionBehavior(), QAbstractItemView::SelectItems);

    // The menu bar: four drop-downs and two commands, items in order with separators,
    // each command with the picture of its button.
    QStringList bar;
    for (QAction* a : form->ui->MainMenu1->actions()) bar << a->text();
    QCOMPARE(bar, QStringList({"Диски", "Справочники", "&Отчёты", "&Содержимое", "О программе...",
                              "Выход"}));
    auto items = [](QMenu* menu) {
        QStringList out;
        for (QAction* a : menu->actions())
            out << (a->isSeparator() ? QStringLiteral("-") : QString()) + a->objectName();
        return out;
    };
    QCOMPARE(items(form->ui->N1), QStringList({"N3", "N4", "N5", "-N6", "N7", "N8"}));
    QCOMPARE(items(form->ui->N2), QStringList({"N9", "N10", "N11", "-N12", "N13", "N14", "N15",
                                               "-N18", "N16", "N17", "N19"}));
    QCOMPARE(items(form->ui->MenuContents),
             QStringList({"ActionReadContents", "ActionShowContents", "ActionFindFile"}));
    const std::pair<QAction*, QPushButton*> pictures[] = {
        {form->ui->N3, form->ui->BitBtn3},
        {form->ui->N4, form->ui->BitBtn4},
        {form->ui->N5, form->ui->BitBtn5},
        {form->ui->N7, form->ui->BitBtn2},
        {form->ui->N8, form->ui->BitBtn1},
        {form->ui->N9, form->ui->ButtonAddKategory},
        {form->ui->N10, form->ui->ButtonRenameKategory},
        {form->ui->N11, form->ui->ButtonDeleteKategory},
        {form->ui->N13, form->ui->ButtonAddType},
        {form->ui->N14, form->ui->ButtonRenameType},
        {form->ui->N15, form->ui->ButtonDeleteType},
        {form->ui->N16, form->ui->ButtonAddDolgnik},
        {form->ui->N17, form->ui->ButtonRenameDolgnik},
        {form->ui->N19, form->ui->ButtonDeleteDolgnik},
    };
    for (const auto& [action, button] : pictures) {
        QCOMPARE(action->text(), button->text());
        QCOMPARE(action->icon().pixmap(16).toImage(), button->icon().pixmap(16).toImage());
    }
}

void TestMainWindow::menusFollowThePage() {
    auto form = makeForm();
    QAction* disks = form->ui->N1->menuAction();
    QAction* books = form->ui->N2->menuAction();
    QVERIFY(disks->isEnabled() && !books->isEnabled());
    form->ui->PageControl1->tabBar()->setCurrentIndex(1);  // as a click on the tab
    QVERIFY(!disks->isEnabled() && books->isEnabled());
    form->ui->PageControl1->tabBar()->setCurrentIndex(0);
    QVERIFY(disks->isEnabled() && !books->isEnabled());
    QVERIFY(form->ui->N20->isEnabled() && form->ui->N21->isEnabled());
}

void TestMainWindow::aboutIsShownModally() {
    const auto windows = createWindows();
    QVERIFY(windows);
    bool wasModal = false;
    QTimer::singleShot(0, [&] {
        wasModal = AboutBox->isVisible() && QApplication::activeModalWidget() == AboutBox;
        AboutBox->accept();
    });
    Form1->N20Click();
    QVERIFY(wasModal);
    QVERIFY(!AboutBox->isVisible());
}

void TestMainWindow::modelsPassTheModelTester() {
    const QTemporaryDir dir;
    tools::makeDemo(dir.path().toStdString(), {.disks = 500, .seed = 7});
    QDir::setCurrent(dir.path());
    store::Database::resetDefault();
    auto form = makeForm();
    for (QueryModel* model : {form->DataSource1, form->DataSource2, form->DataSource3,
                              form->DataSource5, form->DataSource6}) {
        QAbstractItemModelTester tester(model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        while (model->canFetchMore({})) model->fetchMore({});
        model->query()->reopen();
    }
    QAbstractItemModelTester tester(form->DataSource5,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    form->ui->CheckBox4->setChecked(true);
    form->ui->RadioButton3->setChecked(true);
}

void TestMainWindow::gridAndListKeepTheCurrentRowInStep() {
    auto form = makeForm();
    QVERIFY(showFilled(*form));
    QTableView* grid = form->ui->DBGrid4;
    grid->setCurrentIndex(grid->model()->index(3, 1));
    QCOMPARE(grid->currentIndex().row(), 3);
    QCOMPARE(form->Query5->currentRow(), 3);
    QCOMPARE(form->ui->DBMemo1->toPlainText(), descriptionOfCurrentDisk(*form));
    form->Query5->setCurrentRow(4);
    QCOMPARE(grid->currentIndex().row(), 4);
    QCOMPARE(form->ui->DBMemo1->toPlainText(), descriptionOfCurrentDisk(*form));
    form->Query5->reopen();
    QCOMPARE(grid->currentIndex().row(), 0);
}

// A lookup box always shows the row its list query stands on: the first one before
// any choice (the one the filter uses), the chosen one after, and the first one again
// when the chosen name is gone.
void TestMainWindow::lookupBoxShowsTheRowItsListStandsOn() {
    auto form = makeForm();
    LookupComboBox* box = form->ui->DBLookupComboBox1;
    QCOMPARE(form->Query8->text("Name"), QStringLiteral("Документы"));
    QCOMPARE(box->currentText(), QStringLiteral("Документы"));
    QCOMPARE(form->ui->DBLookupComboBox2->currentText(), QStringLiteral("Blu-ray"));

    box->choose(box->findText(QStringLiteral("Фильмы")));
    QCOMPARE(form->Query8->text("Name"), QStringLiteral("Фильмы"));
    form->Query8->reopen();
    QCOMPARE(form->Query8->text("Name"), QStringLiteral("Фильмы"));
    QCOMPARE(box->currentText(), QStringLiteral("Фильмы"));

    store::Database::defaultDatabase()->execRaw(
        "UPDATE sprkategoy_db.SprKategoy SET Name = 'Кино' WHERE Num = 1");
    form->Query8->reopen();
    QCOMPARE(form->Query8->currentRow(), 0);
    QCOMPARE(box->currentText(), form->Query8->text("Name"));
}

void TestMainWindow::filterRunsFromItsControls() {
    auto form = makeForm();
    QCOMPARE(listedDisks(*form), (std::set<int>{1, 2, 3, 4, 6, 7, 8}));
    // "Категория" before any choice: the first category by name, Документы.
    form->ui->CheckBox1->setChecked(true);
    QCOMPARE(listedDisks(*form), (std::set<int>{7, 8}));
    LookupComboBox* categories = form->ui->DBLookupComboBox1;
    categories->choose(categories->findText(QStringLiteral("музыка")));
    QCOMPARE(listedDisks(*form), (std::set<int>{2, 6}));
    form->ui->RadioButton2->setChecked(true);
    QCOMPARE(listedDisks(*form), (std::set<int>{2}));
    form->ui->RadioButton3->setChecked(true);
    QCOMPARE(listedDisks(*form), (std::set<int>{6}));
    form->ui->CheckBox1->setChecked(false);
    form->ui->CheckBox2->setChecked(true);
    LookupComboBox* media = form->ui->DBLookupComboBox2;
    media->choose(media->findText(QStringLiteral("DVD-R")));
    QCOMPARE(listedDisks(*form), (std::set<int>{1}));
    QVERIFY(env_->messages.errors().isEmpty());
}

void TestMainWindow::everyKeyReleaseRebuildsOnce() {
    auto form = makeForm();
    QVERIFY(showFilled(*form));
    form->ui->CheckBox4->setChecked(true);
    QSignalSpy runs(form->Query5, &ListQuery::opened);
    // A rebuild is one reset of the grid's model, not one on closing and one on opening.
    QSignalSpy resets(form->DataSource5, &QAbstractItemModel::modelReset);
    QTest::keyClicks(form->ui->Edit4, QStringLiteral("road"));
    QCOMPARE(runs.count(), 4);
    QCOMPARE(resets.count(), 4);
    QCOMPARE(listedDisks(*form), (std::set<int>{2, 8}));
    QTest::keyClick(form->ui->Edit4, Qt::Key_Left);  // changes nothing, runs again
    QCOMPARE(runs.count(), 5);
    QTest::mouseClick(form->ui->Edit4, Qt::LeftButton);
    QCOMPARE(runs.count(), 6);
}

// A quote in the name fragment used to end the literal early: every key release
// raised an error and emptied the list.
void TestMainWindow::quoteInNameFragmentIsNoError() {
    auto form = makeForm();
    QVERIFY(showFilled(*form));
    form->ui->CheckBox4->setChecked(true);
    QTest::keyClicks(form->ui->Edit4, QStringLiteral("k'n'"));
    QVERIFY(env_->messages.errors().isEmpty());
    QCOMPARE(listedDisks(*form), std::set<int>{6});
    QCOMPARE(form->ui->DBMemo1->toPlainText(), QStringLiteral("Сборник."));
}

// The disk list reads rows only as the grid shows them, also after a rebuild.
void TestMainWindow::bigListOpensWithoutReadingEveryRow() {
    const QTemporaryDir dir;
    const int disks = 20000;
    tools::makeDemo(dir.path().toStdString(), {.disks = disks, .seed = 3});
    QDir::setCurrent(dir.path());
    store::Database::resetDefault();
    auto form = makeForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    const store::Query& list = form->Query5->query();
    // The grid reads what it has room for (13 rows), in batches.
    QTRY_VERIFY(list.fetchedRows() >= 13);
    QVERIFY(list.fetchedRows() < 1000);
    form->ui->CheckBox4->setChecked(true);
    QTest::keyClicks(form->ui->Edit4, QStringLiteral("s"));
    QTRY_VERIFY(list.fetchedRows() >= 13);
    QVERIFY(list.fetchedRows() < 1000);
    QVERIFY(list.canFetchMore());
}

void TestMainWindow::referencePointFollowsTheAlignment() {
    const QRect cell(10, 20, 91, 17);  // left 10, right edge 101
    QCOMPARE(fieldReferencePoint(cell, Qt::AlignLeft), QPoint(12, 22));
    QCOMPARE(fieldReferencePoint(cell, Qt::AlignRight), QPoint(99, 22));
    QCOMPARE(fieldReferencePoint(cell, Qt::AlignHCenter), QPoint(55, 22));
    QCOMPARE(fieldReferencePoint(QRect(-11, 0, 10, 5), Qt::AlignHCenter).x(), -6);  // toward zero
    QCOMPARE(fieldTextLeft(55, Qt::AlignHCenter, 31), 40);
    QCOMPARE(fieldTextLeft(99, Qt::AlignRight, 30), 69);
    QCOMPARE(fieldTextLeft(12, Qt::AlignLeft, 30), 12);
}

void TestMainWindow::drawFieldWritesRedBoldItalicInsideTheCell() {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    font.setUnderline(true);
    const QRect cell(10, 10, 60, 17);
    const QString text = QStringLiteral("Очень длинное название диска");

    QImage drawn(100, 40, QImage::Format_RGB32);
    drawn.fill(Qt::white);
    {
        QPainter painter(&drawn);
        GridCanvas canvas{&painter, QBrush(QColor(0, 0, 128))};
        TForm1::DrawField(text, cell, Qt::AlignLeft, font, canvas);
    }
    // The same text drawn by hand: red, bold, italic and still underlined, at the
    // reference point, over the brush, cut at the cell's edges.
    QImage expected(100, 40, QImage::Format_RGB32);
    expected.fill(Qt::white);
    {
        QPainter painter(&expected);
        painter.fillRect(cell, QColor(0, 0, 128));
        painter.setClipRect(cell);
        QFont bold = font;
        bold.setBold(true);
        bold.setItalic(true);
        painter.setFont(bold);
        painter.setPen(QColor(255, 0, 0));
        painter.drawText(QPoint(12, 12 + painter.fontMetrics().ascent()), text);
    }
    QCOMPARE(drawn, expected);
    QVERIFY(redPixels(drawn, cell) > 0);
    QCOMPARE(redPixels(drawn, drawn.rect()), redPixels(drawn, cell));
}

void TestMainWindow::lentRowsAreRedOthersAreNot() {
    auto form = makeForm();
    QVERIFY(showFilled(*form));
    QTableView* grid = form->ui->DBGrid4;
    grid->setCurrentIndex(grid->model()->index(rowOfDisk(*form, 2), 0));  // not lent, selected
    const QImage shot = grid->viewport()->grab().toImage();
    auto rowArea = [&](int disk) {
        const int row = rowOfDisk(*form, disk);
        return QRect(0, grid->rowViewportPosition(row), grid->viewport()->width(),
                     grid->rowHeight(row)) &
               shot.rect();
    };
    for (int lent : {1, 6}) {
        const QRect area = rowArea(lent);
        for (int column = 0; column < 3; ++column) {
            const QRect cell = area & QRect(grid->columnViewportPosition(column), 0,
                                            grid->columnWidth(column), shot.height());
            QVERIFY2(redPixels(shot, cell) > 0,
                     qPrintable(QStringLiteral("disk %1 column %2").arg(lent).arg(column)));
        }
    }
    for (int available : {2, 3, 4, 7, 8}) QCOMPARE(redPixels(shot, rowArea(available)), 0);
    // The lent-disks grid is drawn as it is.
    const QImage loans = form->ui->DBGrid5->viewport()->grab().toImage();
    QCOMPARE(redPixels(loans, loans.rect()), 0);
}

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
