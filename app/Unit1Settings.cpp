// The settings file of the main window: the open page and the filter switches.
#include <QDir>
#include <QRadioButton>
#include <QSignalBlocker>

#include "app/Unit1.h"
#include "settings/inifile.h"
#include "settings/settingsfile.h"
#include "ui_Unit1.h"
#include "widgets/messages.h"

namespace {

const QString kSection = QStringLiteral("param");

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
