// The About box: its logo, its sizing to the program's name, and its two addresses.
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cmath>

#include "dialogs/about.h"
#include "dialogs/desktop.h"
#include "dialogs/jpegimage.h"
#include "resources/layoutqueries.h"
#include "ui_about.h"

namespace {

// A desktop that records what it was handed and opens nothing.
class RecordingDesktop final : public Desktop {
public:
    RecordingDesktop() { setDesktop(this); }
    ~RecordingDesktop() override { setDesktop(nullptr); }
    bool open(const QUrl& address) override {
        opened << address.toString();
        return succeed;
    }
    QStringList opened;
    bool succeed = true;
};

QByteArray logoBytes() {
    initResources();
    QFile file(QStringLiteral(":/logo.jpg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool near(QColor c, int r, int g, int b) {
    return std::abs(c.red() - r) <= 2 && std::abs(c.green() - g) <= 2 &&
           std::abs(c.blue() - b) <= 2;
}

bool hasColour(const QImage& image, QColor colour) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == colour) return true;
    return false;
}

// Runs the box modally and presses its button once it is up; returns the result.
int execAndPressOk(TAboutBox& box) {
    QTimer::singleShot(0, &box, [&box] { QTest::mouseClick(box.ui->Button1, Qt::LeftButton); });
    return box.exec();
}

}  // namespace

class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void logoDecodesToItsColours();
    void brokenPicturesFailWithoutHarm();
    void boxIsLaidOut();
    void layoutSizesGiveTheLaidOutWindow();
    void longerNameWidensTheWindow();
    void secondShowingDoesNotSizeAgain();
    void addressesGoToTheDesktop();
    void failedOpeningChangesNothing();
};

void TestAbout::logoDecodesToItsColours() {
    QString error;
    const auto logo = decodeJpeg(logoBytes(), &error);
    QVERIFY2(logo, qPrintable(error));
    QCOMPARE(logo->size(), QSize(71, 71));
    for (QPoint p : {QPoint(0, 0), QPoint(70, 0), QPoint(0, 70), QPoint(70, 70)})
        QVERIFY2(near(logo->pixelColor(p), 31, 60, 136), qPrintable(logo->pixelColor(p).name()));
    for (QPoint p : {QPoint(35, 11), QPoint(35, 58)})
        QVERIFY2(near(logo->pixelColor(p), 242, 194, 48), qPrintable(logo->pixelColor(p).name()));
    QVERIFY2(near(logo->pixelColor(27, 44), 176, 21, 29),
             qPrintable(logo->pixelColor(27, 44).name()));
}

void TestAbout::brokenPicturesFailWithoutHarm() {
    QString error;
    QVERIFY(!decodeJpeg(QByteArray("not a picture"), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!decodeJpeg(QByteArray(), &error));
    QByteArray cut = logoBytes();
    cut.truncate(cut.size() / 3);
    decodeJpeg(cut, &error);  // libjpeg fills what is missing or fails: either way it returns

    TAboutBox box;
    QVERIFY(!box.showLogo(QByteArray("\xFF\xD8\xFF garbage", 12)));
    QVERIFY(box.ui->Image1->pixmap().isNull());
    QCOMPARE(execAndPressOk(box), int(QDialog::Accepted));
    QVERIFY(box.showLogo(logoBytes()));
    QCOMPARE(box.ui->Image1->size(), QSize(71, 71));
}

void TestAbout::boxIsLaidOut() {
    TAboutBox box;
    QCOMPARE(AboutBox, &box);
    QCOMPARE(box.windowTitle(), QStringLiteral("О программе..."));
    QVERIFY(!(box.windowFlags() & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(box.minimumSize(), box.maximumSize());
    QCOMPARE(box.height(), 171);
    QVERIFY(!box.ui->Image1->pixmap().isNull());
    QCOMPARE(box.ui->Image1->geometry(), QRect(0, 0, 71, 71));
    QCOMPARE(box.ui->Label1->text(), QStringLiteral("Korvalen"));
    QCOMPARE(box.ui->Label2->text(), QStringLiteral("Версия 1.0"));
    QCOMPARE(box.ui->Label1->font().pixelSize(), 24);
    QVERIFY(box.ui->Label1->font().bold());
    QCOMPARE(box.ui->Label5->font().family(), QStringLiteral("Times New Roman"));
    QVERIFY(box.ui->Label4->font().underline() && box.ui->Label5->font().underline());
    for (QLabel* link : {box.ui->Label4, box.ui->Label5})
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(box.ui->Button1->text(), QStringLiteral("Ok"));
    QVERIFY(!box.ui->Button1->isDefault() && !box.ui->Button1->autoDefault());
    // The name in red and the version in blue, as drawn.
    QVERIFY(hasColour(box.ui->Label1->grab().toImage(), QColor(255, 0, 0)));
    QVERIFY(hasColour(box.ui->Label2->grab().toImage(), QColor(0, 0, 255)));
}

// With the name 152 wide at 76, the window is 248 wide and the button, 75 wide, sits
// at 86.5 rounded to the even 86.
void TestAbout::layoutSizesGiveTheLaidOutWindow() {
    TAboutBox box;
    box.ui->Label1->setGeometry(76, 0, 152, 29);
    box.FormCreate();
    QCOMPARE(box.width(), 248);
    QCOMPARE(box.ui->Button1->x(), 86);
    box.ui->Label1->resize(151, 29);  // 247 - 75 = 172: exactly 86
    box.FormCreate();
    QCOMPARE(box.width(), 247);
    QCOMPARE(box.ui->Button1->x(), 86);
    box.ui->Label1->resize(154, 29);  // 250 - 75 = 175: 87.5 rounds to 88
    box.FormCreate();
    QCOMPARE(box.ui->Button1->x(), 88);
}

void TestAbout::longerNameWidensTheWindow() {
    TAboutBox box;
    const int before = box.width();
    box.ui->Label1->setText(QStringLiteral("Korvalen Professional"));
    box.ui->Label1->adjustSize();
    box.FormCreate();
    QVERIFY(box.width() > before);
    QCOMPARE(box.width(), box.ui->Label1->x() + box.ui->Label1->width() + 20);
    QCOMPARE(box.ui->Button1->x(), int(std::nearbyint((box.width() - 75) / 2.0)));
}

void TestAbout::secondShowingDoesNotSizeAgain() {
    TAboutBox box;
    const int width = box.width();
    const QPoint button = box.ui->Button1->pos();
    box.ui->Label1->resize(box.ui->Label1->width() + 50, box.ui->Label1->height());
    QCOMPARE(execAndPressOk(box), int(QDialog::Accepted));
    QCOMPARE(execAndPressOk(box), int(QDialog::Accepted));
    QCOMPARE(box.width(), width);
    QCOMPARE(box.ui->Button1->pos(), button);
}

void TestAbout::addressesGoToTheDesktop() {
    RecordingDesktop desktop;
    TAboutBox box;
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    for (QWidget* quiet :
         {static_cast<QWidget*>(box.ui->Image1), static_cast<QWidget*>(box.ui->Label1),
          static_cast<QWidget*>(box.ui->Label2), static_cast<QWidget*>(box.ui->Label3)})
        QTest::mouseClick(quiet, Qt::LeftButton);
    QVERIFY(desktop.opened.isEmpty());
    QTest::mouseClick(box.ui->Label4, Qt::LeftButton);
    QTest::mouseClick(box.ui->Label5, Qt::LeftButton);
    QCOMPARE(desktop.opened, QStringList({QStringLiteral("mailto:info@example.org"),
                                          QStringLiteral("https://korvalen.example.org/")}));
}

void TestAbout::failedOpeningChangesNothing() {
    RecordingDesktop desktop;
    desktop.succeed = false;
    TAboutBox box;
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QRect geometry = box.geometry();
    QTest::mouseClick(box.ui->Label5, Qt::LeftButton);
    QCOMPARE(desktop.opened.size(), 1);
    QVERIFY(box.isVisible());
    QCOMPARE(box.geometry(), geometry);
}

QTEST_MAIN(TestAbout)
#include "test_about.moc"
