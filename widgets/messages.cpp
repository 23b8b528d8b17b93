#include "widgets/messages.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace {

QWidget* inFrontOf(QWidget* parent) {
    return parent ? parent->window() : QApplication::activeWindow();
}

class WidgetMessageBoxes final : public MessageBoxes {
public:
    void information(const QString& text, QWidget* parent) override {
        QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok,
                        inFrontOf(parent));
        box.exec();
    }

    bool confirm(const QString& text, QWidget* parent) override {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text,
                        QMessageBox::NoButton, inFrontOf(parent));
        QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes;
    }

    void error(const QString& text, QWidget* parent) override {
        QMessageBox box(QMessageBox::Critical, applicationTitle(), text, QMessageBox::Ok,
                        inFrontOf(parent));
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
