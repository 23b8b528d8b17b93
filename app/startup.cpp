#include "app/startup.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>
#include <algorithm>
#include <cstdio>

#include "app/Unit1.h"
#include "dialogs/Unit2.h"
#include "dialogs/Unit3.h"
#include "dialogs/about.h"
#include "resources/layoutqueries.h"
#include "store/database.h"
#include "store/error.h"
#include "widgets/messages.h"

namespace {

// The catalogue tool that came with this executable: beside it when installed, in the
// build's tools folder when run from the build.
QString catalogueToolCommand() {
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString& candidate : {here.filePath(QStringLiteral("korvalen-base")),
                                     here.filePath(QStringLiteral("../tools/korvalen-base"))}) {
        const QFileInfo tool(candidate);
        if (tool.isFile() && tool.isExecutable()) return QDir::cleanPath(tool.absoluteFilePath());
    }
    return QStringLiteral("korvalen-base");
}

QString shellWord(const QString& word) {
    static const QString plain = QStringLiteral("/._-+=:,@%");
    const bool quoted = std::any_of(word.begin(), word.end(), [](QChar c) {
        return !(c.isLetterOrNumber() || plain.contains(c));
    });
    if (!quoted) return word;
    QString escaped = word;
    escaped.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

// Without a base folder there is nothing to open; the message says where it was looked
// for, why there, and the command that makes one.
QString startMessage(const store::Error& e) {
    const QDir here = QDir::current();
    if (e.kind() != store::Error::Kind::Missing || QFileInfo(here.filePath("base")).isDir())
        return QString::fromStdString(e.what());
    const QString folder = QDir::toNativeSeparators(here.absolutePath());
    return QStringLiteral(
               "Не найдена папка каталога %1.\n"
               "Korvalen открывает каталог в папке base той папки, из которой он запущен "
               "(сейчас это %2).\n"
               "Создайте каталог командой:\n%3 create %4\n"
               "или запустите Korvalen из папки, в которой есть каталог.")
        .arg(QDir::toNativeSeparators(here.filePath(QStringLiteral("base"))), folder,
             shellWord(catalogueToolCommand()), shellWord(folder));
}

}  // namespace

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
        const QString message = startMessage(e);
        std::fprintf(stderr, "korvalen: %s\n", message.toUtf8().constData());
        std::fflush(stderr);
        windows.reset();
        messages().error(message);
        return nullptr;
    }
    return windows;
}

bool loadQtTranslation() {
    static QTranslator* translation = nullptr;
    if (translation) return true;
    auto loaded = std::make_unique<QTranslator>(qApp);
    if (!loaded->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                      QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(loaded.get()))
        return false;
    translation = loaded.release();
    return true;
}

void setUpApplication() {
    initResources();
    loadQtTranslation();
    // The layouts are drawn for an 11-pixel MS Sans Serif (or its stand-in).
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    QApplication::setFont(font);
    QApplication::setWindowIcon(programIcon());
}

namespace {

// The copy of the disk names that the name filter is narrowed by loads on a thread of
// the store's once the main window is up; the filter scans the table until it is ready.
void startNameCopy() {
    try {
        store::Database::defaultDatabase()->startNameCopy();
    } catch (const store::Error&) {
        // without the catalogue there is nothing to copy; the next statement says why
    }
}

}  // namespace

std::unique_ptr<ProgramWindows> startProgram() {
    setUpApplication();
    std::unique_ptr<ProgramWindows> windows = createWindows();
    if (windows) {
        windows->form1->show();
        QTimer::singleShot(0, windows->form1.get(), startNameCopy);
    }
    return windows;
}

int runProgram() {
    const std::unique_ptr<ProgramWindows> windows = startProgram();
    if (!windows) return 1;
    return QApplication::exec();
}
