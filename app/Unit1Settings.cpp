// The settings file of the main window: the open page and the filter switches.
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStandardPaths>

#include "app/Unit1.h"
#include "app/inifile.h"
#include "ui_Unit1.h"
#include "widgets/messages.h"

namespace {

const QString kSection = QStringLiteral("param");
QString settingsPathOverride;

// Whether this process may make files in folder, as the kernel decides for its writes: a
// read-only mount counts, and so does root's override when a test has dropped it.
bool userMayWrite(const QString& folder) {
    return faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK | X_OK, AT_EACCESS) == 0;
}

QRadioButton* availabilityButton(Ui::TForm1& ui, int nal) {
    switch (nal) {
        case 1:
            return ui.RadioButton1;
        case 2:
            return ui.RadioButton2;
        case 3:
            return ui.RadioButton3;
        default:
            return nullptr;
    }
}

}  // namespace

QString settingsFilePathFor(const QString& programFolder, const QString& configFolder) {
    const QString name = QStringLiteral("Korvalen.ini");
    if (userMayWrite(programFolder)) return QDir(programFolder).filePath(name);
    return QDir(configFolder).filePath(QStringLiteral("korvalen/") + name);
}

QString settingsFilePath() {
    if (!settingsPathOverride.isEmpty()) return settingsPathOverride;
    return settingsFilePathFor(
        QCoreApplication::applicationDirPath(),
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

void setSettingsFilePath(const QString& path) {
    settingsPathOverride = path;
}

// ~/.config/korvalen may not be there yet on a new account (the executable's folder is
// there anyway); a path a test sets is taken as it is.
IniFile settingsFile() {
    return IniFile(settingsFilePath(), settingsPathOverride.isEmpty());
}

// Restores through the controls themselves, so every switch that changes runs its
// click handler and rebuilds the disk list: availability first, then the boxes. A file
// that cannot be read counts as none: every switch keeps its default, without a word.
void TForm1::restoreSettings() {
    IniFile ini = settingsFile();
    ini.load();
    const int page = ini.integer(kSection, QStringLiteral("page"), 1);
    const int nal = ini.integer(kSection, QStringLiteral("nal"), 1);
    const bool kat = ini.integer(kSection, QStringLiteral("kat"), 0) != 0;
    const bool nos = ini.integer(kSection, QStringLiteral("nos"), 0) != 0;
    const bool naz = ini.integer(kSection, QStringLiteral("naz"), 0) != 0;

    if (page == 1 || page == 2) {
        const QSignalBlocker codeChange(ui->PageControl1);  // runs no page-change handler
        ui->PageControl1->setCurrentIndex(page - 1);
    }
    if (QRadioButton* button = availabilityButton(*ui, nal)) button->setChecked(true);
    ui->CheckBox1->setChecked(kat);
    ui->CheckBox2->setChecked(nos);
    ui->CheckBox4->setChecked(naz);
}

// A file that cannot be written costs only the settings: the user is told, and the
// window closes all the same. One that cannot be read is left alone rather than
// replaced by five keys.
void TForm1::saveSettings() {
    IniFile ini = settingsFile();
    bool saved = ini.load();
    if (saved) {
        const int nal = ui->RadioButton1->isChecked() ? 1 : ui->RadioButton2->isChecked() ? 2 : 3;
        ini.setInteger(kSection, QStringLiteral("page"),
                       ui->PageControl1->currentWidget() == ui->TabSheet2 ? 2 : 1);
        ini.setInteger(kSection, QStringLiteral("nal"), nal);
        ini.setInteger(kSection, QStringLiteral("kat"), ui->CheckBox1->isChecked() ? 1 : 0);
        ini.setInteger(kSection, QStringLiteral("nos"), ui->CheckBox2->isChecked() ? 1 : 0);
        ini.setInteger(kSection, QStringLiteral("naz"), ui->CheckBox4->isChecked() ? 1 : 0);
        saved = ini.save();
    }
    if (!saved)
        messages().error(QStringLiteral("Не удалось сохранить настройки в файл %1: %2.\n"
                                        "Окно будет закрыто, настройки не сохранены.")
                             .arg(QDir::toNativeSeparators(ini.path()), ini.errorString()));
}
