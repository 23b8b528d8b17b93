#include "app/Unit1.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QKeyEvent>
#include <QMenuBar>

#include "contents/contentsmenu.h"
#include "dialogs/about.h"
#include "reports/reportsmenu.h"
#include "resources/layoutqueries.h"
#include "statements/diskfilter.h"
#include "ui_Unit1.h"
#include "widgets/columndrawdelegate.h"
#include "widgets/guarded.h"
#include "widgets/listquery.h"
#include "widgets/longtext.h"
#include "widgets/lookupcombobox.h"
#include "widgets/querymodel.h"

TForm1* Form1 = nullptr;

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), ui(std::make_unique<Ui::TForm1>()) {
    Form1 = this;
    try {
        initResources();
        ui->setupUi(this);
        setUpWindow();
        createQueries();
        openListQueries();
        wireHandlers();
        FormCreate();
    } catch (...) {
        Form1 = nullptr;  // no window without its tables
        throw;
    }
}

TForm1::~TForm1() {
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::setUpWindow() {
    applyLayoutFonts(this);
    setWindowIcon(programIcon());
    // Fixed border with system menu and minimise only; placed where it was laid out.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    centralWidget()->setFixedSize(ui->PageControl1->size());
    setFixedSize(ui->PageControl1->width(),
                 ui->PageControl1->height() + menuBar()->sizeHint().height());
    move(200, 142);
}

void TForm1::createQueries() {
    auto make = [this](const char* name) {
        return createLayoutListQuery(QStringLiteral("Unit1"), QString::fromLatin1(name), this);
    };
    Query1 = make("Query1");
    Query2 = make("Query2");
    Query3 = make("Query3");
    Query5 = make("Query5");
    Query6 = make("Query6");
    Query7 = make("Query7");
    Query8 = make("Query8");
    Query5->query().setReadOn(
        diskfilter::readOnAfterKey(Query5->query().lines(), /*hasCondition=*/false),
        std::string(diskfilter::kKeyColumn));
    std::vector<std::string> lines;
    for (const QString& l : layoutQueryLines(QStringLiteral("Unit1"), QStringLiteral("Query4")))
        lines.push_back(l.toStdString());
    Query4.setSql(std::move(lines));

    for (ListQuery* reference : {Query1, Query2, Query3}) reference->setFetchAll(true);
    DataSource1 = new QueryModel(Query1, {{QStringLiteral("Категория"), {}, 0}}, this);
    DataSource2 = new QueryModel(Query2, {{QStringLiteral("Носитель"), {}, 0}}, this);
    DataSource3 = new QueryModel(Query3, {{QStringLiteral("Должник"), {}, 0}}, this);
    DataSource5 = new QueryModel(Query5,
                                 {{QStringLiteral("Name"), QStringLiteral("Наименование"), 170},
                                  {QStringLiteral("Name_1"), QStringLiteral("Категория"), 95},
                                  {QStringLiteral("Tip"), QStringLiteral("Носитель"), 100}},
                                 this);
    DataSource6 =
        new QueryModel(Query6,
                       {{QStringLiteral("NomCD"), QStringLiteral("Номер диска"), 75},
                        {QStringLiteral("Name"), QStringLiteral("Наименование диска"), 300},
                        {QStringLiteral("Name_1"), QStringLiteral("Категория"), 80},
                        {QStringLiteral("Tip"), QStringLiteral("Носитель"), 80},
                        {QStringLiteral("Dolgnik"), QStringLiteral("Должник"), 113},
                        {QStringLiteral("DatN"), QStringLiteral("Дата"), 68}},
                       this);
    DataSource1->bindView(ui->DBGrid1);
    DataSource2->bindView(ui->DBGrid2);
    DataSource3->bindView(ui->DBGrid3);
    DataSource5->bindView(ui->DBGrid4);
    DataSource6->bindView(ui->DBGrid5);
    ui->DBLookupComboBox1->bind(Query8, QStringLiteral("Name"));
    ui->DBLookupComboBox2->bind(Query7, QStringLiteral("Tip"));

    // The description pane follows the disk list's current row; a description too long
    // to lay out shows its beginning.
    auto showDescription = [this] {
        ui->DBMemo1->setPlainText(excerptOf(Query5->isOpen()
                                                ? Query5->utf8(QStringLiteral("Opisan"))
                                                : std::string_view())
                                      .text);
    };
    connect(Query5, &ListQuery::currentRowChanged, this, showDescription);
    connect(Query5, &ListQuery::closed, this, showDescription);
}

void TForm1::openListQueries() {
    for (ListQuery* q : {Query1, Query2, Query3, Query5, Query6, Query7, Query8}) q->open();
}

namespace {

template <class Handler>
void onClick(TForm1* form, QAbstractButton* button, QAction* action, Handler handler) {
    auto run = [form, handler] { guarded([&] { (form->*handler)(); }); };
    if (button) QObject::connect(button, &QAbstractButton::clicked, form, run);
    if (action) QObject::connect(action, &QAction::triggered, form, run);
}

}  // namespace

void TForm1::wireHandlers() {
    onClick(this, ui->BitBtn1, ui->N8, &TForm1::Button1Click);
    onClick(this, ui->BitBtn2, ui->N7, &TForm1::Button2Click);
    onClick(this, ui->BitBtn3, ui->N3, &TForm1::Button3Click);
    onClick(this, ui->BitBtn4, ui->N4, &TForm1::Button5Click);
    onClick(this, ui->BitBtn5, ui->N5, &TForm1::Button4Click);
    onClick(this, ui->ButtonAddKategory, ui->N9, &TForm1::ButtonAddKategoryClick);
    onClick(this, ui->ButtonRenameKategory, ui->N10, &TForm1::ButtonRenameKategoryClick);
    onClick(this, ui->ButtonDeleteKategory, ui->N11, &TForm1::ButtonDeleteKategoryClick);
    onClick(this, ui->ButtonAddType, ui->N13, &TForm1::ButtonAddTypeClick);
    onClick(this, ui->ButtonRenameType, ui->N14, &TForm1::ButtonRenameTypeClick);
    onClick(this, ui->ButtonDeleteType, ui->N15, &TForm1::ButtonDeleteTypeClick);
    onClick(this, ui->ButtonAddDolgnik, ui->N16, &TForm1::ButtonAddDolgnikClick);
    onClick(this, ui->ButtonRenameDolgnik, ui->N17, &TForm1::ButtonRenameDolgnikClick);
    onClick(this, ui->ButtonDeleteDolgnik, ui->N19, &TForm1::ButtonDeleteDolgnikClick);
    onClick(this, nullptr, ui->N20, &TForm1::N20Click);
    onClick(this, nullptr, ui->N21, &TForm1::N21Click);
    new ReportsMenu({*this, *Query5, *ui->ActionLoanHistory, *ui->ActionWhoHasWhat,
                     *ui->ActionExportDisks, *ui->ActionBackup,
                     [this] { return diskFilterText(); }});
    new contents::ContentsMenu({*this, *Query5, *ui->ActionReadContents, *ui->ActionShowContents,
                                *ui->ActionFindFile, [this] {
                                    ui->CheckBox1->setChecked(false);
                                    ui->CheckBox2->setChecked(false);
                                    ui->CheckBox4->setChecked(false);
                                    ui->RadioButton1->setChecked(true);
                                }});

    // Filter switches run their handler whenever their state changes, by the user or
    // from code; a radio button only when it becomes selected.
    auto onToggle = [this](QAbstractButton* box, void (TForm1::*handler)(), bool onlyWhenChecked) {
        connect(box, &QAbstractButton::toggled, this, [=, this](bool checked) {
            if (checked || !onlyWhenChecked) guarded([&] { (this->*handler)(); });
        });
    };
    onToggle(ui->CheckBox1, &TForm1::CheckBox1Click, false);
    onToggle(ui->CheckBox2, &TForm1::CheckBox2Click, false);
    onToggle(ui->CheckBox4, &TForm1::CheckBox4Click, false);
    onToggle(ui->RadioButton1, &TForm1::RadioButton1Click, true);
    onToggle(ui->RadioButton2, &TForm1::RadioButton2Click, true);
    onToggle(ui->RadioButton3, &TForm1::RadioButton3Click, true);
    connect(ui->DBLookupComboBox1, &LookupComboBox::clicked, this,
            [this] { guarded([&] { DBLookupComboBox1Click(); }); });
    connect(ui->DBLookupComboBox2, &LookupComboBox::clicked, this,
            [this] { guarded([&] { DBLookupComboBox2Click(); }); });
    ui->Edit4->installEventFilter(this);

    // Only the user's page change runs the handler; code blocks the signal.
    connect(ui->PageControl1, &QTabWidget::currentChanged, this,
            [this] { guarded([&] { PageControl1Change(); }); });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->Edit4) {
        if (event->type() == QEvent::MouseButtonRelease) guarded([&] { Edit4Click(); });
        // A held key repeats its press, not its release: one key up per key.
        if (event->type() == QEvent::KeyRelease && !static_cast<QKeyEvent*>(event)->isAutoRepeat())
            guarded([&] { Edit4KeyUp(); });
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::FormCreate() {
    openListQueries();  // those already open stay as they are
    if (!qobject_cast<ColumnDrawDelegate*>(ui->DBGrid4->itemDelegate())) {
        ui->DBGrid4->setItemDelegate(new ColumnDrawDelegate(
            [this](GridCanvas& canvas, const QStyleOptionViewItem& cell, const QModelIndex& index) {
                DBGrid4DrawColumnCell(ui->DBGrid4, canvas, cell, index);
            },
            ui->DBGrid4));
    }
    restoreSettings();
    enableMenusForPage();
}

// "Диски" works on the data page, "Справочники" on the reference-book page.
void TForm1::enableMenusForPage() {
    const bool dataPage = ui->PageControl1->currentWidget() == ui->TabSheet1;
    ui->N1->menuAction()->setEnabled(dataPage);
    ui->N2->menuAction()->setEnabled(!dataPage);
}

void TForm1::PageControl1Change() {
    enableMenusForPage();
}

// The window never refuses to close; saving the settings comes first.
void TForm1::FormCloseQuery(bool& CanClose) {
    saveSettings();
    CanClose = true;
}

void TForm1::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    guarded([&] { FormCloseQuery(canClose); });
    event->setAccepted(canClose);
}

void TForm1::N20Click() {
    if (AboutBox) AboutBox->exec();
}

void TForm1::N21Click() {
    close();
}
