#pragma once

#include <QMainWindow>
#include <memory>

#include "statements/diskfilter.h"
#include "store/query.h"

namespace Ui {
class TForm1;
}
class ListQuery;
class QueryModel;
class QCloseEvent;
class QRadioButton;
class QPainter;
class QStyleOptionViewItem;
class QTableView;
class QModelIndex;
struct GridCanvas;

// The main window: the data page (disk list, description, lending, lent disks) and
// the reference-book page.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // Builds the layout, opens the list queries and runs FormCreate. Throws
    // store::Error when a table cannot be opened.
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    std::unique_ptr<Ui::TForm1> ui;

    // List queries and the models that show them (the data sources).
    ListQuery* Query1;    // categories, DBGrid1
    ListQuery* Query2;    // media types, DBGrid2
    ListQuery* Query3;    // debtors, DBGrid3
    ListQuery* Query5;    // the disk list, DBGrid4 and DBMemo1
    ListQuery* Query6;    // disks now lent out, DBGrid5
    ListQuery* Query7;    // media types of the filter, DBLookupComboBox2
    ListQuery* Query8;    // categories of the filter, DBLookupComboBox1
    store::Query Query4;  // the command query: every change and in-use count runs here
    QueryModel* DataSource1;
    QueryModel* DataSource2;
    QueryModel* DataSource3;
    QueryModel* DataSource5;
    QueryModel* DataSource6;

    // Window handlers.
    void FormCreate();
    void PageControl1Change();
    void FormCloseQuery(bool& CanClose);
    void N20Click();
    void N21Click();

    // Lent disks in the disk list: red, bold and italic over the default drawing.
    void DBGrid4DrawColumnCell(QTableView* Sender, GridCanvas& Canvas,
                               const QStyleOptionViewItem& Cell, const QModelIndex& Column);
    static void DrawField(const QString& Text, const QRect& Rect, Qt::Alignment Alignment,
                          const QFont& Font, GridCanvas& Canvas);

    // The disk list filter.
    void CheckBox1Click();
    void CheckBox2Click();
    void CheckBox4Click();
    void DBLookupComboBox1Click();
    void DBLookupComboBox2Click();
    void Edit4Click();
    void Edit4KeyUp();
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton3Click();
    void Query5SQLAll();
    void Query5SQLNal();
    void Query5SQLRuk();

    // Disk and lending commands.
    void Button1Click();  // take back
    void Button2Click();  // lend
    void Button3Click();  // add disk
    void Button4Click();  // delete disk
    void Button5Click();  // edit disk

    // Reference-book commands.
    void ButtonAddKategoryClick();
    void ButtonRenameKategoryClick();
    void ButtonDeleteKategoryClick();
    void ButtonAddTypeClick();
    void ButtonRenameTypeClick();
    void ButtonDeleteTypeClick();
    void ButtonAddDolgnikClick();
    void ButtonRenameDolgnikClick();
    void ButtonDeleteDolgnikClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setUpWindow();
    void createQueries();
    void openListQueries();
    void wireHandlers();
    void rebuildDiskList();
    void buildDiskList(const QRadioButton* own, diskfilter::Availability availability);
    // The disk list's filter as its controls show it, said above a saved list.
    QString diskFilterText() const;
    void restoreSettings();
    void saveSettings();
    void enableMenusForPage();
};

// The program's windows, one instance each, created at start in this order.
extern TForm1* Form1;
