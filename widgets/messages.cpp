#include "widgets/messages.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace {

class WidgetMessageBoxes final : public MessageBoxes {
public:
    void information(const QString& text) override {
        QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok);
        box.exec();
    }

    bool confirm(const QString& text) override {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text);
        QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes;
    }

    void error(const QString& text) override {
        QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok);
        box.exec();
    }
};

WidgetMessageBoxes realBoxes;
MessageBoxes* current = nullptr;

}  // namespace

MessageBoxes& messages() {
    return current ? *current : realBoxes;
}

void setMessages(MessageBoxes* boxes) {
    current = boxes;
}

QString applicationTitle() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}
