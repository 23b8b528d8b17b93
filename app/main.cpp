#include <QApplication>
#include <memory>

#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "about.h"
#include "error.h"
#include "messages.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/pictures/korvalen-32.png")));

    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm3> form3;
    std::unique_ptr<TAboutBox> aboutBox;
    try {
        form1 = std::make_unique<TForm1>();
        form2 = std::make_unique<TForm2>();
        form3 = std::make_unique<TForm3>();
        aboutBox = std::make_unique<TAboutBox>();
    } catch (const store::Error& e) {
        messages().error(QString::fromStdString(e.what()));
        return 1;
    }
    form1->show();
    return app.exec();
}
