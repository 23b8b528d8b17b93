#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TAboutBox;
}

// The About box: the logo, the program's name and version, the makers and two
// addresses that open in the desktop's mail client and browser.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;

    std::unique_ptr<Ui::TAboutBox> ui;

    // Sizes the window to the program's name and centres the button; runs once.
    void FormCreate();
    void Label4Click();
    void Label5Click();

    // Shows a JPEG as the logo. A picture that cannot be decoded leaves the place
    // empty and says why on the error output.
    bool showLogo(const QByteArray& jpeg);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

extern TAboutBox* AboutBox;
