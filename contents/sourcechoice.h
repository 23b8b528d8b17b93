#pragma once

#include <QDialog>
#include <filesystem>
#include <memory>
#include <optional>

namespace Ui {
class ReadSource;
}

namespace contents {

// A source a disk can be read from, as the choice offers it.
struct OfferedSource {
    QString text;  // as the list shows it
    QString path;
};

// The optical discs mounted now (iso9660, udf, cdfs or on an optical drive), then the
// optical drives themselves.
std::vector<OfferedSource> offeredSources();

// "Откуда читать": the mounted discs and drives offered first, or a folder or an image
// file chosen through a file dialog.
class SourceChoice : public QDialog {
    Q_OBJECT
public:
    explicit SourceChoice(QWidget* parent = nullptr);
    ~SourceChoice() override;
    std::optional<std::filesystem::path> chosen() const { return chosen_; }

    // Asks; nothing when the user declined.
    static std::optional<std::filesystem::path> ask(QWidget* parent);

private:
    void chooseFolder();
    void chooseImage();
    void takeListed();
    void take(const QString& path);

    std::unique_ptr<Ui::ReadSource> ui;
    std::vector<OfferedSource> offered_;
    std::optional<std::filesystem::path> chosen_;
};

}  // namespace contents
