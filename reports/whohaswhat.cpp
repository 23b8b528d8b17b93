#include "reports/whohaswhat.h"

#include <QDir>
#include <QFileDialog>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QSaveFile>
#include <QShortcut>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "commands/changes.h"
#include "reports/loanmodel.h"
#include "reports/reportsettings.h"
#include "reports/summarycount.h"
#include "reports/tablewriter.h"
#include "store/database.h"
#include "store/rowreader.h"
#include "ui_WhoHasWhat.h"
#include "widgets/guarded.h"
#include "widgets/listquery.h"
#include "widgets/messages.h"

namespace {

QString escaped(const std::string& text) {
    return QString::fromStdString(reports::htmlEscaped(text));
}

// A4 portrait until the user picks otherwise in the print or preview dialog.
void usualPage(QPagedPaintDevice& device) {
    device.setPageSize(QPageSize(QPageSize::A4));
    device.setPageOrientation(QPageLayout::Portrait);
}

}  // namespace

WhoHasWhatWindow::WhoHasWhatWindow(QWidget* parent)
    : ReportWindow(QStringLiteral("who_has_what"), parent), ui(std::make_unique<Ui::WhoHasWhat>()) {
    ui->setupUi(this);
    OpenLoans = new ListQuery(this);
    OpenLoans->setObjectName(QStringLiteral("OpenLoans"));
    QStringList lines;
    for (const auto& l : loans::openLoanLines()) lines << QString::fromStdString(l);
    OpenLoans->setLines(lines);
    OpenLoansSource =
        new LoanModel(OpenLoans,
                      {{QStringLiteral("Dolgnik"), QStringLiteral("Должник"), 170},
                       {QStringLiteral("NomCD"), QStringLiteral("№ диска"), 60},
                       {QStringLiteral("DiskName"), QStringLiteral("Наименование диска"), 230},
                       {QStringLiteral("DatN"), QStringLiteral("Выдан"), 80},
                       {QStringLiteral("Days"), QStringLiteral("Дней"), 50},
                       {QStringLiteral("Overdue"), QStringLiteral("Отметка"), 90}},
                      this);
    OpenLoansSource->bindView(ui->OpenLoansGrid);
    summary_ = new SummaryCount(this);
    summary_->showIn(ui->SummaryLabel, [this](const loans::Summary& s) {
        return QStringLiteral("На руках дисков: %1, из них просрочено (дольше %2 дн.): %3")
            .arg(s.open)
            .arg(reckoning().overdueDays)
            .arg(s.overdue);
    });
    auto run = [this](void (WhoHasWhatWindow::*command)()) {
        return [this, command] { guarded([&] { (this->*command)(); }); };
    };
    connect(ui->PreviewButton, &QPushButton::clicked, this, run(&WhoHasWhatWindow::preview));
    connect(ui->PrintButton, &QPushButton::clicked, this, run(&WhoHasWhatWindow::print));
    connect(ui->PdfButton, &QPushButton::clicked, this, run(&WhoHasWhatWindow::askPdf));
    connect(ui->CloseButton, &QPushButton::clicked, this, &QWidget::close);
    new QShortcut(QKeySequence::Cancel, this, this, &QWidget::close);  // Escape closes
    connect(&command::Changes::instance(), &command::Changes::written, this,
            [this](const command::Tables& tables) {
                if (isVisible() && changesLoanRows(tables)) guarded([&] { refresh(); });
            });
    settle();
}

WhoHasWhatWindow::~WhoHasWhatWindow() = default;

loans::Reckoning WhoHasWhatWindow::reckoning() const {
    return {today_.value_or(store::Date::today()), reports::overdueDays()};
}

void WhoHasWhatWindow::refresh() {
    const loans::Reckoning r = reckoning();
    OpenLoans->close();
    loans::bind(OpenLoans->query(), {}, r);
    OpenLoans->open();
    loans::Filter open;
    open.openOnly = true;
    summary_->start(OpenLoans->query().databaseForRun()->baseDir(), open, r);
}

QString WhoHasWhatWindow::documentHtml() {
    const loans::Reckoning r = reckoning();
    loans::bind(OpenLoans->query(), {}, r);
    store::RowReader rows(OpenLoans->query());
    const int debtor = rows.columnIndex("Dolgnik"), debtorKey = rows.columnIndex("DebtorKey"),
              disk = rows.columnIndex("NomCD"), name = rows.columnIndex("DiskName"),
              out = rows.columnIndex("DatN"), days = rows.columnIndex("Days"),
              overdue = rows.columnIndex("Overdue");
    QString html =
        QStringLiteral("<h1>Кто что взял на %1</h1><p>Просрочен — на руках дольше %2 дн.</p>")
            .arg(QString::fromStdString(r.today.display()))
            .arg(r.overdueDays);
    std::optional<int64_t> group;
    auto closeGroup = [&] {
        if (group) html += QStringLiteral("</table>");
    };
    while (rows.next()) {
        if (!group || *group != rows.integer(debtorKey)) {
            closeGroup();
            group = rows.integer(debtorKey);
            // Columns as wide as their content; the header row again on every page.
            html += QStringLiteral(
                        "<h2>%1</h2><table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" "
                        "style=\"border-collapse: collapse; border-style: solid; "
                        "border-color: #000000;\">"
                        "<thead><tr><th>№ диска</th><th>Наименование диска</th><th>Выдан</th>"
                        "<th>Дней</th><th>Отметка</th></tr></thead>")
                        .arg(escaped(rows.text(debtor)));
        }
        const bool late = !rows.text(overdue).empty();
        const QString cell =
            late ? QStringLiteral("<td><font color=\"#b00000\"><b>%1</b></font></td>")
                 : QStringLiteral("<td>%1</td>");
        html += QStringLiteral("<tr>");
        for (int column : {disk, name, out, days, overdue})
            html += cell.arg(escaped(rows.text(column)));
        html += QStringLiteral("</tr>");
    }
    closeGroup();
    if (!group) html += QStringLiteral("<p>Все диски на месте.</p>");
    return html;
}

void WhoHasWhatWindow::printOn(QPagedPaintDevice& device) {
    QTextDocument document;
    // Sizes in points: the screen's font is set in pixels, which a 1200-dpi page shrinks
    // to specks.
    QFont font = document.defaultFont();
    font.setPointSizeF(10.5);
    document.setDefaultFont(font);
    document.setDefaultStyleSheet(QStringLiteral("th { background-color: #e8e8e8; }"));
    document.setHtml(documentHtml());
    // Headings by the same measure: the HTML's own sizes scale the body's twofold.
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level != 1 && level != 2) continue;
        QTextCursor cursor(block);
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        QTextCharFormat format = cursor.charFormat();
        format.clearProperty(QTextFormat::FontSizeAdjustment);
        format.setFontPointSize(level == 1 ? 15 : 12);
        cursor.setCharFormat(format);
        QTextBlockFormat space;  // a debtor's heading apart from the table above it
        space.setTopMargin(level == 2 ? 10 : 0);
        cursor.mergeBlockFormat(space);
    }
    // Unpaginated, print() lays the document out on the device's page and numbers the
    // pages.
    document.print(&device);
}

void WhoHasWhatWindow::preview() {
    QPrinter printer(QPrinter::HighResolution);
    usualPage(printer);
    QPrintPreviewDialog dialog(&printer, this);
    dialog.setWindowTitle(QStringLiteral("Кто что взял: предварительный просмотр"));
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* p) { guarded([&] { printOn(*p); }); });
    dialog.exec();
}

void WhoHasWhatWindow::print() {
    QPrinter printer(QPrinter::HighResolution);
    usualPage(printer);
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(QStringLiteral("Печать: кто что взял"));
    if (dialog.exec() == QDialog::Accepted) printOn(printer);
}

void WhoHasWhatWindow::askPdf() {
    QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить в PDF"),
                                     QDir::home().filePath(QStringLiteral("Кто что взял.pdf")),
                                     QStringLiteral("Документ PDF (*.pdf)"));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".pdf");
    saveAsPdf(path);
}

bool WhoHasWhatWindow::saveAsPdf(const QString& path) {
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly);
    if (written) {
        {
            QPdfWriter writer(&file);
            writer.setTitle(QStringLiteral("Кто что взял"));
            usualPage(writer);
            printOn(writer);
        }
        written = file.commit();
    }
    if (!written)
        messages().error(QStringLiteral("Не удалось записать файл %1: %2\nФайл не записан.")
                             .arg(QDir::toNativeSeparators(path), file.errorString()),
                         this);
    return written;
}

void WhoHasWhatWindow::showEvent(QShowEvent* event) {
    ReportWindow::showEvent(event);
    guarded([&] { refresh(); });
}

void WhoHasWhatWindow::hideEvent(QHideEvent* event) {
    summary_->cancel();
    OpenLoans->close();
    ReportWindow::hideEvent(event);
}
