#include "app/startup.h"

#include <QApplication>
#include <QFont>
#include <cstdio>

#include "app/Unit1.h"
#include "dialogs/Unit2.h"
#include "dialogs/Unit3.h"
#include "dialogs/about.h"
#include "resources/layoutqueries.h"
#include "store/error.h"
#include "widgets/messages.h"

ProgramWindows::ProgramWindows() = default;

// Released in reverse order, the main window last.
ProgramWindows::~ProgramWindows() {
    aboutBox.reset();
    form3.reset();
    form2.reset();
    form1.reset();
}

std::unique_ptr<ProgramWindows> createWindows() {
    auto windows = std::make_unique<ProgramWindows>();
    try {
        windows->form1 = std::make_unique<TForm1>();
        TForm1& main = *windows->form1;
        windows->form2 = std::make_unique<TForm2>(MainWindowQueries{*main.Query5, main.Query4});
        windows->form3 = std::make_unique<TForm3>(MainWindowQueries{*main.Query5, main.Query4});
        windows->aboutBox = std::make_unique<TAboutBox>();
    } catch (const store::Error& e) {
        std::fprintf(stderr, "korvalen: %s\n", e.what());
        std::fflush(stderr);
        windows.reset();
        messages().error(QString::fromStdString(e.what()));
        return nullptr;
    }
    return windows;
}

void setUpApplication() {
    initResources();
    // The layouts are drawn for an 11-pixel MS Sans Serif (or its stand-in).
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    QApplication::setFont(font);
    QApplication::setWindowIcon(programIcon());
}

std::unique_ptr<ProgramWindows> startProgram() {
    setUpApplication();
    std::unique_ptr<ProgramWindows> windows = createWindows();
    if (windows) windows->form1->show();
    return windows;
}

int runProgram() {
    const std::unique_ptr<ProgramWindows> windows = startProgram();
    if (!windows) return 1;
    return QApplication::exec();
}
