#include "contents/sourcechoice.h"

#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QUrl>

#include "ui_ReadSource.h"

namespace contents {
namespace {

bool onOpticalDisc(const QStorageInfo& volume) {
    static const QList<QByteArray> discFileSystems{"iso9660", "udf", "cdfs"};
    return discFileSystems.contains(volume.fileSystemType().toLower()) ||
           volume.device().startsWith("/dev/sr");
}

QStringList opticalDrives() {
    QStringList drives;
    const QDir dev(QStringLiteral("/dev"));
    for (const QString& name : dev.entryList({QStringLiteral("sr*")}, QDir::System, QDir::Name))
        drives << dev.filePath(name);
    const QString cdrom = dev.filePath(QStringLiteral("cdrom"));
    if (QFileInfo::exists(cdrom) && !drives.contains(QFileInfo(cdrom).canonicalFilePath()))
        drives << cdrom;
    return drives;
}

}  // namespace

std::vector<OfferedSource> offeredSources() {
    std::vector<OfferedSource> sources;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady() || !onOpticalDisc(volume)) continue;
        const QString label =
            volume.name().isEmpty() ? QStringLiteral("без метки") : "«" + volume.name() + "»";
        sources.push_back({QStringLiteral("Диск %1 в %2 (%3)")
                               .arg(label, volume.rootPath(),
                                    QString::fromLatin1(volume.fileSystemType())),
                           volume.rootPath()});
    }
    for (const QString& drive : opticalDrives())
        sources.push_back({QStringLiteral("Привод %1").arg(drive), drive});
    return sources;
}

SourceChoice::SourceChoice(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::ReadSource>()), offered_(offeredSources()) {
    ui->setupUi(this);
    for (const OfferedSource& source : offered_) ui->SourceList->addItem(source.text);
    const bool any = !offered_.empty();
    ui->SourceList->setEnabled(any);
    ui->NoneLabel->setVisible(!any);
    if (any) ui->SourceList->setCurrentRow(0);
    ui->ReadButton->setEnabled(any);
    connect(ui->SourceList, &QListWidget::itemActivated, this, &SourceChoice::takeListed);
    connect(ui->ReadButton, &QPushButton::clicked, this, &SourceChoice::takeListed);
    connect(ui->FolderButton, &QPushButton::clicked, this, &SourceChoice::chooseFolder);
    connect(ui->ImageButton, &QPushButton::clicked, this, &SourceChoice::chooseImage);
    connect(ui->CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    (any ? static_cast<QWidget*>(ui->SourceList) : ui->FolderButton)->setFocus();
}

SourceChoice::~SourceChoice() = default;

void SourceChoice::take(const QString& path) {
    if (path.isEmpty()) return;
    chosen_ = std::filesystem::path(QFile::encodeName(path).toStdString());
    accept();
}

void SourceChoice::takeListed() {
    const int row = ui->SourceList->currentRow();
    if (row >= 0 && row < static_cast<int>(offered_.size())) take(offered_[row].path);
}

// The mounted discs stand first in the dialog's side bar, and it opens on the first.
void SourceChoice::chooseFolder() {
    QList<QUrl> places;
    for (const OfferedSource& source : offered_)
        if (!source.path.startsWith(QStringLiteral("/dev/"))) places << QUrl::fromLocalFile(source.path);
    const QString start = places.isEmpty() ? QDir::homePath() : places.front().toLocalFile();
    places << QUrl::fromLocalFile(QDir::homePath()) << QUrl::fromLocalFile(QDir::rootPath());
    QFileDialog dialog(this, QStringLiteral("Папка или смонтированный диск"), start);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setOption(QFileDialog::DontUseNativeDialog);  // the side bar is the program's
    dialog.setSidebarUrls(places);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        take(dialog.selectedFiles().front());
}

void SourceChoice::chooseImage() {
    take(QFileDialog::getOpenFileName(
        this, QStringLiteral("Образ диска"), QDir::homePath(),
        QStringLiteral("Образы дисков (*.iso *.img *.cue *.ISO *.IMG *.CUE);;Все файлы (*)")));
}

std::optional<std::filesystem::path> SourceChoice::ask(QWidget* parent) {
    SourceChoice choice(parent);
    if (choice.exec() != QDialog::Accepted) return std::nullopt;
    return choice.chosen();
}

}  // namespace contents
