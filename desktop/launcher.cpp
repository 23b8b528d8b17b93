// korvalen-launcher: starts Korvalen from the desktop's menu in the user's catalogue
// folder. Korvalen opens the base folder of the folder it is started in and never makes
// one, so on the first launch, when that folder has no base yet, the launcher makes it
// with korvalen-base (an empty catalogue, or the demo when the user picks it in a small
// dialog where there is a screen), says where, and then starts Korvalen there.
//
// The catalogue folder is the one named on the first line of
// $XDG_CONFIG_HOME/korvalen/folder (~/.config/korvalen/folder), when that file exists,
// and otherwise $XDG_DATA_HOME/korvalen (~/.local/share/korvalen).
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

// The folder the user chose, if any: "~/" at its start means the home folder.
std::optional<QString> chosenFolder() {
    const QFileInfo info(choiceFile());
    if (!info.isFile() || info.size() > 64 * 1024) return std::nullopt;
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QString line = QString::fromUtf8(file.readLine()).trimmed();
    if (line.startsWith(QStringLiteral("~/"))) line = QDir::home().filePath(line.mid(2));
    if (line.isEmpty()) return std::nullopt;
    return QDir::cleanPath(QDir::home().absoluteFilePath(line));
}

QString catalogueFolder() {
    return chosenFolder().value_or(xdgFolder("XDG_DATA_HOME", QStringLiteral(".local/share")) +
                                   QStringLiteral("/korvalen"));
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

// Runs korvalen-base create or demo on folder; the tool's words when it fails.
std::optional<QString> makeCatalogue(const QString& verb, const QString& folder) {
    QDir().mkpath(folder);
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(besideMe(QStringLiteral("korvalen-base")), {verb, folder});
    if (!tool.waitForFinished(-1) || tool.exitStatus() != QProcess::NormalExit ||
        tool.exitCode() != 0) {
        const QString said = QString::fromUtf8(tool.readAll()).trimmed();
        return said.isEmpty() ? tool.errorString() : said;
    }
    return std::nullopt;
}

void say(const QString& text) {
    std::printf("korvalen-launcher: %s\n", qUtf8Printable(text));
    std::fflush(stdout);
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
std::optional<QString> firstStartWithDialog(int& argc, char** argv, QString folder) {
    QApplication app(argc, argv);
    while (!hasCatalogue(folder)) {
        const FirstStart choice = askFirstStart(folder);
        if (choice == FirstStart::Cancel) return std::nullopt;
        if (choice == FirstStart::OtherFolder) {
            const QString picked = QFileDialog::getExistingDirectory(
                nullptr, QStringLiteral("Папка каталога Korvalen"), folder);
            if (!picked.isEmpty() && rememberFolder(picked)) folder = picked;
            continue;
        }
        const QString verb =
            choice == FirstStart::Demo ? QStringLiteral("demo") : QStringLiteral("create");
        if (const auto failure = makeCatalogue(verb, folder)) {
            QMessageBox::critical(nullptr, QStringLiteral("Korvalen"),
                                  QStringLiteral("Не удалось создать каталог в папке %1:\n%2")
                                      .arg(QDir::toNativeSeparators(folder), *failure));
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

bool hasScreen() {
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<QString> folder = catalogueFolder();
    if (!hasCatalogue(*folder))
        folder =
            hasScreen() ? firstStartWithDialog(argc, argv, *folder) : firstStartQuietly(*folder);
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
