// korvalen-launcher: starts Korvalen from the desktop's menu in the user's catalogue
// folder. Korvalen opens the base folder of the folder it is started in and never makes
// one, so on the first launch, when that folder has no base yet, the launcher makes it
// with korvalen-base (an empty catalogue, or the demo when the user picks it in a small
// dialog where there is a screen), says where, and then starts Korvalen there.
//
// The catalogue folder is the one named on the first line of
// $XDG_CONFIG_HOME/korvalen/folder (~/.config/korvalen/folder), when that file exists,
// and otherwise $XDG_DATA_HOME/korvalen (~/.local/share/korvalen). A named folder that
// is missing (a drive not mounted) is never made anew in silence: the user's catalogue
// may be there once the drive is back.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <cstdio>
#include <optional>

namespace {

// An XDG base folder: the variable when it holds an absolute path, else its default
// under the home folder.
QString xdgFolder(const char* variable, const QString& underHome) {
    const QString value = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(value) ? value : QDir::home().filePath(underHome);
}

QString choiceFile() {
    return xdgFolder("XDG_CONFIG_HOME", QStringLiteral(".config")) +
           QStringLiteral("/korvalen/folder");
}

// The folder the user chose, if any, exactly as written on the file's first line (names
// may begin or end in blanks); "~/" at its start means the home folder.
std::optional<QString> chosenFolder() {
    const QFileInfo info(choiceFile());
    if (!info.isFile() || info.size() > 64 * 1024) return std::nullopt;
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QByteArray line = file.readLine();
    if (line.endsWith('\n')) line.chop(1);
    QString name = QString::fromUtf8(line);
    if (name.startsWith(QStringLiteral("~/"))) name = QDir::home().filePath(name.mid(2));
    if (name.isEmpty()) return std::nullopt;
    return QDir::home().absoluteFilePath(name);
}

QString defaultFolder() {
    return xdgFolder("XDG_DATA_HOME", QStringLiteral(".local/share")) + QStringLiteral("/korvalen");
}

// A name the folder file can hold: one line.
bool fitsOneLine(const QString& folder) {
    return !folder.contains(QLatin1Char('\n')) && !folder.contains(QLatin1Char('\r'));
}

bool rememberFolder(const QString& folder) {
    QDir().mkpath(QFileInfo(choiceFile()).path());
    QFile file(choiceFile());
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(folder.toUtf8() + '\n') > 0;
}

bool hasCatalogue(const QString& folder) {
    return QFileInfo(QDir(folder).filePath(QStringLiteral("base"))).isDir();
}

// A program installed beside the launcher.
QString besideMe(const QString& name) {
    const QFileInfo me(QStringLiteral("/proc/self/exe"));
    return QDir(QFileInfo(me.canonicalFilePath()).path()).filePath(name);
}

// Runs korvalen-base create or demo on folder; the tool's words when it fails. A
// catalogue that another launch made there meanwhile (the tool makes one at a time and
// then refuses) is as good as one made here.
std::optional<QString> makeCatalogue(const QString& verb, const QString& folder) {
    QDir().mkpath(folder);
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(besideMe(QStringLiteral("korvalen-base")), {verb, folder});
    if ((!tool.waitForFinished(-1) || tool.exitStatus() != QProcess::NormalExit ||
         tool.exitCode() != 0) &&
        !hasCatalogue(folder)) {
        const QString said = QString::fromUtf8(tool.readAll()).trimmed();
        return said.isEmpty() ? tool.errorString() : said;
    }
    return std::nullopt;
}

void tellNotMade(const QString& folder, const QString& why) {
    QMessageBox::critical(nullptr, QStringLiteral("Korvalen"),
                          QStringLiteral("Не удалось создать каталог в папке %1:\n%2")
                              .arg(QDir::toNativeSeparators(folder), why));
}

void say(const QString& text) {
    std::printf("korvalen-launcher: %s\n", qUtf8Printable(text));
    std::fflush(stdout);
}

// Another folder, chosen in the file dialog and remembered; none when the user gave up
// or the name cannot be remembered.
std::optional<QString> pickFolder(const QString& from) {
    const QString picked =
        QFileDialog::getExistingDirectory(nullptr, QStringLiteral("Папка каталога Korvalen"), from);
    if (picked.isEmpty()) return std::nullopt;
    if (!fitsOneLine(picked)) {
        QMessageBox::warning(nullptr, QStringLiteral("Korvalen"),
                             QStringLiteral("В имени папки\n%1\nесть перевод строки: такую папку "
                                            "Korvalen запомнить не может. Выберите другую или "
                                            "переименуйте эту.")
                                 .arg(QDir::toNativeSeparators(picked)));
        return std::nullopt;
    }
    if (!rememberFolder(picked)) {
        QMessageBox::warning(nullptr, QStringLiteral("Korvalen"),
                             QStringLiteral("Не удалось запомнить папку в файле %1.")
                                 .arg(QDir::toNativeSeparators(choiceFile())));
        return std::nullopt;
    }
    return picked;
}

enum class FirstStart { Empty, Demo, OtherFolder, Cancel };

FirstStart askFirstStart(const QString& folder) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Korvalen"),
                    QStringLiteral("Каталога дисков ещё нет. Korvalen создаст его в папке\n%1\n\n"
                                   "Создать пустой каталог или демонстрационный, с примерами "
                                   "дисков и должников? Можно выбрать и другую папку, например "
                                   "ту, где каталог уже есть.")
                        .arg(QDir::toNativeSeparators(folder)));
    QPushButton* empty = box.addButton(QStringLiteral("Пустой каталог"), QMessageBox::AcceptRole);
    QPushButton* demo = box.addButton(QStringLiteral("Демонстрационный"), QMessageBox::AcceptRole);
    QPushButton* other = box.addButton(QStringLiteral("Другая папка…"), QMessageBox::ActionRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
    box.setDefaultButton(empty);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == empty) return FirstStart::Empty;
    if (box.clickedButton() == demo) return FirstStart::Demo;
    if (box.clickedButton() == other) return FirstStart::OtherFolder;
    return FirstStart::Cancel;
}

// The first launch with a screen: the user picks what to make, or another folder. The
// folder to start in, or nothing when the user gave up or the catalogue could not be made.
std::optional<QString> firstStartWithDialog(QString folder) {
    while (!hasCatalogue(folder)) {
        const FirstStart choice = askFirstStart(folder);
        if (choice == FirstStart::Cancel) return std::nullopt;
        if (choice == FirstStart::OtherFolder) {
            if (const auto picked = pickFolder(folder)) folder = *picked;
            continue;
        }
        const QString verb =
            choice == FirstStart::Demo ? QStringLiteral("demo") : QStringLiteral("create");
        if (const auto failure = makeCatalogue(verb, folder)) {
            tellNotMade(folder, *failure);
            return std::nullopt;
        }
        say(QStringLiteral("каталог создан в папке ") + folder);
    }
    return folder;
}

// The first launch without a screen: an empty catalogue, and where it is.
std::optional<QString> firstStartQuietly(const QString& folder) {
    if (const auto failure = makeCatalogue(QStringLiteral("create"), folder)) {
        say(QStringLiteral("не удалось создать каталог в папке ") + folder + ": " + *failure);
        return std::nullopt;
    }
    say(QStringLiteral("создан пустой каталог в папке ") + folder);
    return folder;
}

enum class Missing { LookAgain, OtherFolder, MakeEmpty, Cancel };

Missing askMissing(const QString& folder) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Korvalen"),
                    QStringLiteral("Папка каталога не найдена:\n%1\n\nЕсли она на диске, "
                                   "который сейчас не подключён, подключите его и поищите снова. "
                                   "Можно выбрать другую папку или создать в этой пустой каталог.")
                        .arg(QDir::toNativeSeparators(folder)));
    QPushButton* again = box.addButton(QStringLiteral("Искать снова"), QMessageBox::AcceptRole);
    QPushButton* other = box.addButton(QStringLiteral("Другая папка…"), QMessageBox::ActionRole);
    QPushButton* empty =
        box.addButton(QStringLiteral("Создать пустой каталог здесь"), QMessageBox::ActionRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
    box.setDefaultButton(again);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == again) return Missing::LookAgain;
    if (box.clickedButton() == other) return Missing::OtherFolder;
    if (box.clickedButton() == empty) return Missing::MakeEmpty;
    return Missing::Cancel;
}

// The folder the user named is missing: they look for it again, choose another or make
// an empty catalogue there. The folder to go on with, or nothing.
std::optional<QString> missingWithDialog(QString folder) {
    while (!QFileInfo(folder).isDir()) {
        switch (askMissing(folder)) {
            case Missing::LookAgain:
                break;
            case Missing::OtherFolder:
                if (const auto picked = pickFolder(folder)) folder = *picked;
                break;
            case Missing::MakeEmpty:
                if (const auto failure = makeCatalogue(QStringLiteral("create"), folder)) {
                    tellNotMade(folder, *failure);
                    return std::nullopt;
                }
                say(QStringLiteral("создан пустой каталог в папке ") + folder);
                break;
            case Missing::Cancel:
                return std::nullopt;
        }
    }
    return folder;
}

bool hasScreen() {
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<QString> chosen = chosenFolder();
    std::optional<QString> folder = chosen.value_or(defaultFolder());
    // Dialogs only where there is a screen, and only when there is something to ask.
    std::optional<QApplication> app;
    const auto dialogs = [&] {
        if (!app) app.emplace(argc, argv);
    };
    if (chosen && !QFileInfo(*chosen).isDir()) {
        if (!hasScreen()) {
            say(QStringLiteral("папка каталога ") + *chosen +
                QStringLiteral(" не найдена (она названа в ") + choiceFile() +
                QStringLiteral(
                    "). Подключите диск, на котором она лежит, или назовите в этом файле "
                    "другую папку."));
            return 1;
        }
        dialogs();
        folder = missingWithDialog(*chosen);
        if (!folder) return 1;
    }
    if (!hasCatalogue(*folder) && hasScreen()) {
        dialogs();
        folder = firstStartWithDialog(*folder);
    } else if (!hasCatalogue(*folder)) {
        folder = firstStartQuietly(*folder);
    }
    if (!folder) return 1;
    if (::chdir(QFile::encodeName(*folder).constData()) != 0) {
        say(QStringLiteral("нет доступа к папке ") + *folder);
        return 1;
    }
    const QByteArray program = QFile::encodeName(besideMe(QStringLiteral("korvalen")));
    char* const arguments[] = {const_cast<char*>("korvalen"), nullptr};
    ::execv(program.constData(), arguments);
    say(QStringLiteral("не удалось запустить ") + QString::fromLocal8Bit(program));
    return 1;
}
