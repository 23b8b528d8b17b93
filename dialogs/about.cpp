#include "dialogs/about.h"

#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "dialogs/desktop.h"
#include "dialogs/jpegimage.h"
#include "resources/layoutqueries.h"
#include "ui_about.h"

TAboutBox* AboutBox = nullptr;

namespace {

constexpr int kWidthPastName = 20;

QByteArray resourceBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The part of a label's text after its caption: "E-mail: a@b" -> "a@b".
QString addressOf(const QString& text) {
    return text.section(QLatin1Char(' '), -1);
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TAboutBox>()) {
    AboutBox = this;
    initResources();
    ui->setupUi(this);
    applyLayoutFonts(this);
    // A dialog border with no buttons in the title bar.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    move(290, 188);
    showLogo(resourceBytes(QStringLiteral(":/logo.jpg")));
    // The name sizes itself to its text; the other texts are never cut short.
    ui->Label1->adjustSize();
    for (QLabel* label : {ui->Label3, ui->Label4, ui->Label5})
        label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
    ui->Label4->installEventFilter(this);
    ui->Label5->installEventFilter(this);
    FormCreate();
}

TAboutBox::~TAboutBox() {
    if (AboutBox == this) AboutBox = nullptr;
}

bool TAboutBox::showLogo(const QByteArray& jpeg) {
    QString why;
    const std::optional<QImage> logo = decodeJpeg(jpeg, &why);
    if (!logo) {
        ui->Image1->clear();
        std::fprintf(stderr, "korvalen: логотип не показан: %s\n", why.toLocal8Bit().constData());
        return false;
    }
    ui->Image1->setPixmap(QPixmap::fromImage(*logo));
    ui->Image1->resize(logo->size());
    return true;
}

// The outer width follows the name; the button is centred on it, halves rounding to
// the even neighbour. The window carries no frame of its own before it is shown, so
// its width stands for the outer width.
void TAboutBox::FormCreate() {
    const int width = ui->Label1->x() + ui->Label1->width() + kWidthPastName;
    setFixedSize(width, height());
    const double left = (width - ui->Button1->width()) / 2.0;
    ui->Button1->move(static_cast<int>(std::nearbyint(left)), ui->Button1->y());
}

void TAboutBox::Label4Click() {
    desktop().open(QUrl(QStringLiteral("mailto:") + addressOf(ui->Label4->text())));
}

void TAboutBox::Label5Click() {
    desktop().open(QUrl(ui->Label5->text()));
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == ui->Label4) Label4Click();
        if (watched == ui->Label5) Label5Click();
    }
    return QDialog::eventFilter(watched, event);
}

// The box has no cancel button: Escape does not close it.
void TAboutBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
