#include "reports/savefile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QProgressDialog>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <optional>
#include <streambuf>
#include <thread>
#include <vector>

#include "settings/settingsfile.h"
#include "store/backup.h"
#include "store/catalogue.h"
#include "store/database.h"
#include "store/error.h"
#include "store/partfile.h"
#include "store/query.h"
#include "store/readmoment.h"
#include "store/systemerror.h"
#include "widgets/messages.h"

namespace reports {
namespace {

// An output stream's buffer over a Qt device: a failed write puts the stream in error, and
// so does goOn saying stop, asked after every megabyte (one row may hold hundreds).
class DeviceBuffer final : public std::streambuf {
public:
    DeviceBuffer(QIODevice& device, std::function<bool()> goOn)
        : device_(device), goOn_(std::move(goOn)) {
        reset();
    }

protected:
    int overflow(int c) override {
        if (!flush()) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return flush() ? 0 : -1; }

private:
    void reset() { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
    bool flush() {
        const qint64 size = pptr() - pbase();
        const bool written = size == 0 || device_.write(pbase(), size) == size;
        reset();
        sinceAsked_ += size;
        if (sinceAsked_ >= kAskEvery) {
            sinceAsked_ = 0;
            if (goOn_ && !goOn_()) return false;
        }
        return written;
    }
    static constexpr qint64 kAskEvery = 1 << 20;
    QIODevice& device_;
    std::function<bool()> goOn_;
    qint64 sinceAsked_ = 0;
    std::array<char, 1 << 16> buffer_;
};

// A modal progress dialog that long work reports to; cancelling it asks the work to stop.
class Progress {
public:
    Progress(QWidget* parent, const QString& title, const QString& text)
        : dialog_(text, QStringLiteral("Отмена"), 0, kSteps, parent), text_(text) {
        dialog_.setWindowTitle(title);
        dialog_.setWindowModality(Qt::ApplicationModal);
        dialog_.setMinimumDuration(300);
        dialog_.setAutoReset(false);
        dialog_.setAutoClose(false);
        dialog_.setValue(0);
    }
    // Asked at every row: the dialog is brought up to date, and a press of "Отмена"
    // seen, a few times a second.
    bool report(long long done, long long total) {
        if (done < total && shown_.isValid() && shown_.elapsed() < kShowEveryMs)
            return !dialog_.wasCanceled();
        shown_.start();
        show(done, total);
        return stillWanted();
    }
    // The dialog brought up to date, from the event loop (work on another thread).
    void show(long long done, long long total) {
        const long long step = total > 0 ? std::min<long long>(done * kSteps / total, kSteps) : 0;
        dialog_.setValue(static_cast<int>(step));
    }
    bool stillWanted() {
        QCoreApplication::processEvents();
        return !dialog_.wasCanceled();
    }
    // While another program keeps the catalogue busy: says so, and waits on until the
    // user cancels.
    store::WaitWhileBusy waitForCatalogue() {
        return [this](double waited) {
            dialog_.setLabelText(QStringLiteral("Каталог занят другой программой, ждём…"));
            if (waited * 1000 >= dialog_.minimumDuration()) dialog_.show();
            QCoreApplication::processEvents();
            return !dialog_.wasCanceled();
        };
    }
    // The same for work on another thread, said from the event loop; the dialog shows
    // itself after its minimum duration.
    void catalogueBusy() {
        dialog_.setLabelText(QStringLiteral("Каталог занят другой программой, ждём…"));
    }
    // The work's own words again, once the catalogue let it in.
    void working() { dialog_.setLabelText(text_); }
    bool cancelled() const { return dialog_.wasCanceled(); }

private:
    static constexpr int kSteps = 1000;
    static constexpr int kShowEveryMs = 50;
    QProgressDialog dialog_;
    QString text_;
    QElapsedTimer shown_;
};

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

QString nativePath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

Format formatOf(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("html") || suffix == QLatin1String("htm")) return Format::Html;
    return suffix == QLatin1String("fods") ? Format::Ods : Format::Csv;
}

const QString kCsvFilter = QStringLiteral("Таблица CSV (*.csv)");
const QString kHtmlFilter = QStringLiteral("Страница HTML (*.html *.htm)");
const QString kOdsFilter = QStringLiteral("Таблица OpenDocument (*.fods)");

// The part file that an export to path writes, and what killed writes left beside it
// (removed); nothing, after telling the user, when path may not be written.
std::optional<store::PartPath> partFor(QWidget* parent, const std::filesystem::path& baseDir,
                                       const QString& path,
                                       std::vector<std::filesystem::path>& leftovers) {
    // A link is written through, as cp does: the link stays and names the new file.
    const std::filesystem::path target = store::throughLinks(path.toStdString());
    try {
        store::refuseExportOver(baseDir, path.toStdString(), settingsFilePath().toStdString());
        leftovers = store::removeKilledParts(target);
        return std::optional<store::PartPath>(std::in_place, target, store::PartPath::Kind::File);
    } catch (const store::Error& e) {
        messages().error(fromStd(e.what()) + QStringLiteral("\nФайл не записан."), parent);
        return std::nullopt;
    }
}

void tellWritten(QWidget* parent, long long rows, const QString& path,
                 const std::vector<std::filesystem::path>& leftovers) {
    QString said = QStringLiteral("Записано строк: %1 в файл %2.").arg(rows).arg(nativePath(path));
    for (const auto& leftover : leftovers)
        said += QStringLiteral("\nУдалён остаток прерванной записи: %1.")
                    .arg(nativePath(QString::fromStdString(leftover.string())));
    messages().information(said, parent);
}

struct WorkOutcome {
    int64_t rows = 0;
    bool stopped = false;  // by the user, or by the program quitting
    std::optional<QString> error;
};

// Runs work on a thread of its own writing to file, which it alone uses meanwhile; this
// thread keeps progress drawn and passes a cancel on.
WorkOutcome runOnWorker(Progress& progress, QIODevice& file, const ExportWork& work,
                        Format format) {
    std::atomic<bool> stop{false}, busy{false}, finished{false};
    std::atomic<int64_t> done{0}, total{0};
    WorkOutcome outcome;
    QEventLoop loop;
    std::thread worker([&] {
        DeviceBuffer buffer(file, [&] { return !stop; });
        std::ostream out(&buffer);
        const WorkerHooks hooks{[&](int64_t written, int64_t expected) {
                                    busy = false;
                                    done = written;
                                    total = expected;
                                    return !stop;
                                },
                                [&] { return stop.load(); },
                                [&](double) {
                                    busy = true;
                                    return !stop;
                                }};
        try {
            outcome.rows = work(format, out, hooks);
        } catch (const ExportStopped&) {
            outcome.stopped = true;
        } catch (const std::exception& e) {
            outcome.error = fromStd(e.what());
        }
        finished = true;
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    QTimer shown;
    bool saidBusy = false;
    QObject::connect(&shown, &QTimer::timeout, &loop, [&] {
        if (busy != saidBusy) {
            saidBusy = busy;
            if (saidBusy)
                progress.catalogueBusy();
            else
                progress.working();
        }
        progress.show(done, total);
        if (progress.cancelled()) stop = true;
    });
    shown.start(50);
    loop.exec();
    shown.stop();  // the boxes after it run event loops of their own, the dialog gone
    // Left early only when the program quits: the work is not waited out.
    if (!finished) stop = true;
    worker.join();
    if (stop) outcome.stopped = true;
    return outcome;
}

// The file name the user chose, its ending made to match the format chosen; empty when
// cancelled.
QString askExportPath(QWidget* parent, const QString& title, const QString& suggestedName) {
    QString chosen = kCsvFilter;
    QString path = QFileDialog::getSaveFileName(
        parent, title, QDir::home().filePath(suggestedName + QStringLiteral(".csv")),
        QStringList{kCsvFilter, kOdsFilter, kHtmlFilter}.join(QStringLiteral(";;")), &chosen);
    if (path.isEmpty()) return path;
    // A plain .ods is a zip archive that this flat XML is not.
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("ods")) path.insert(path.size() - 3, QLatin1Char('f'));
    if (suffix.isEmpty())
        path += chosen == kHtmlFilter  ? QStringLiteral(".html")
                : chosen == kOdsFilter ? QStringLiteral(".fods")
                                       : QStringLiteral(".csv");
    return path;
}

// A save into a part file beside the chosen one, handed over only when whole; a failure's
// box comes with the progress dialog gone, which would otherwise stand over it.
class PartFileSave {
public:
    PartFileSave(QWidget* parent, const std::filesystem::path& baseDir, const QString& path)
        : parent_(parent), path_(path), part_(partFor(parent, baseDir, path, leftovers_)) {}

    // False (the user told why) when the file cannot be begun.
    bool begin() {
        if (!part_) return false;
        file_.setFileName(QString::fromStdString(part_->path().string()));
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) return fail(fileError());
        progress_.emplace(parent_, QStringLiteral("Сохранение"),
                          QStringLiteral("Сохранение в файл %1...").arg(nativePath(path_)));
        return true;
    }
    Progress& progress() { return *progress_; }
    QFile& file() { return file_; }

    // A write that failed: the file's own error when it has one, else `why`.
    bool failWriting(const QString& why) {
        return fail(file_.error() != QFileDevice::NoError ? fileError() : why);
    }
    bool finish(long long rows) {
        file_.close();
        if (file_.error() != QFileDevice::NoError) return fail(fileError());
        try {
            part_->handOver();
        } catch (const store::Error& e) {
            return fail(fromStd(e.what()));
        }
        progress_.reset();
        tellWritten(parent_, rows, path_, leftovers_);
        return true;
    }

private:
    bool fail(const QString& why) {
        progress_.reset();
        messages().error(QStringLiteral("Не удалось записать файл %1: %2\nФайл не записан.")
                             .arg(nativePath(path_), why),
                         parent_);
        return false;
    }
    QString fileError() const {
        return fromStd(store::systemErrorText(file_.errorString().toStdString()));
    }

    QWidget* parent_;
    QString path_;
    std::vector<std::filesystem::path> leftovers_;
    std::optional<store::PartPath> part_;
    std::optional<Progress> progress_;
    QFile file_;
};

}  // namespace

bool exportToPath(QWidget* parent, store::Query& source, const ExportTable& table,
                  const QString& path, const QString& filter) {
    const auto db = source.database() ? source.database() : store::Database::defaultDatabase();
    PartFileSave save(parent, db->baseDir(), path);
    if (!save.begin()) return false;
    Progress& progress = save.progress();
    DeviceBuffer buffer(save.file(), [&] { return progress.stillWanted(); });
    std::ostream out(&buffer);
    long long rows = 0;
    try {
        // The row count and the rows of one moment, whoever else writes meanwhile.
        const store::ReadMoment moment(*source.databaseForRun(), progress.waitForCatalogue());
        progress.working();
        rows = exportRows(source, table, formatOf(path), out,
                          [&](int64_t done, int64_t total) { return progress.report(done, total); },
                          {filter.toStdString()});
    } catch (const ExportStopped&) {
        return false;  // the part goes with it
    } catch (const store::Error& e) {
        if (progress.cancelled()) return false;
        return save.failWriting(fromStd(e.what()));
    }
    return save.finish(rows);
}

void exportWithDialog(QWidget* parent, store::Query& source, const ExportTable& table,
                      const QString& suggestedName, const QString& filter) {
    const QString path = askExportPath(
        parent,
        QStringLiteral("Сохранить отобранный список (%1): %2").arg(fromStd(table.title), filter),
        suggestedName);
    if (!path.isEmpty()) exportToPath(parent, source, table, path, filter);
}

bool exportOnWorker(QWidget* parent, const std::filesystem::path& baseDir, const ExportWork& work,
                    const QString& path) {
    PartFileSave save(parent, baseDir, path);
    if (!save.begin()) return false;
    const WorkOutcome outcome = runOnWorker(save.progress(), save.file(), work, formatOf(path));
    if (outcome.stopped || save.progress().cancelled()) return false;  // the part goes with it
    if (outcome.error) return save.failWriting(*outcome.error);
    return save.finish(outcome.rows);
}

void exportOnWorkerWithDialog(QWidget* parent, const std::filesystem::path& baseDir,
                              const ExportWork& work, const QString& title,
                              const QString& suggestedName) {
    const QString path = askExportPath(parent, title, suggestedName);
    if (!path.isEmpty()) exportOnWorker(parent, baseDir, work, path);
}

bool backupTo(QWidget* parent, const QString& folder) {
    const std::filesystem::path dest = folder.toStdString();
    const std::filesystem::path copy = dest / std::string(store::kBaseFolder);
    // Gone before any box, which it would otherwise stand over at its last value.
    std::optional<Progress> progress;
    progress.emplace(parent, QStringLiteral("Резервная копия"),
                     QStringLiteral("Копирование каталога в %1...")
                         .arg(nativePath(QString::fromStdString(copy.string()))));
    try {
        const auto source = store::Database::defaultDatabase()->baseDir().parent_path();
        const auto problems = store::backupCatalogue(
            source, dest,
            [&](long long done, long long total) {
                progress->working();
                return progress->report(done, total);
            },
            progress->waitForCatalogue());
        progress.reset();
        if (!problems.empty()) {
            QStringList lines;
            for (const auto& p : problems) lines << fromStd(p);
            messages().error(
                QStringLiteral("Копия каталога записана в %1, но проверка нашла ошибки:\n%2")
                    .arg(nativePath(QString::fromStdString(copy.string())),
                         lines.join(QLatin1Char('\n'))),
                parent);
            return false;
        }
    } catch (const store::Error& e) {
        const bool cancelled = progress && progress->cancelled();
        progress.reset();
        if (e.kind() != store::Error::Kind::Stopped && !cancelled)
            messages().error(fromStd(e.what()) + QStringLiteral("\nКопия не записана."), parent);
        return false;
    }
    messages().information(
        QStringLiteral("Копия каталога записана в %1 и проверена.\n"
                       "Чтобы работать с копией, запустите Korvalen в папке %2 "
                       "или скопируйте папку base на место прежней.")
            .arg(nativePath(QString::fromStdString(copy.string())), nativePath(folder)),
        parent);
    return true;
}

void backupWithDialog(QWidget* parent) {
    const QString folder = QFileDialog::getExistingDirectory(
        parent, QStringLiteral("Папка для резервной копии каталога"), QDir::homePath());
    if (!folder.isEmpty()) backupTo(parent, folder);
}

}  // namespace reports
