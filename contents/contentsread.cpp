#include "contents/contentsread.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

#include "contents/contentsmodel.h"
#include "store/contentspipe.h"
#include "store/database.h"
#include "store/error.h"

namespace contents {
namespace {

// How often the dialog shows the counts: often enough to look alive, rarely enough to
// cost the read nothing.
constexpr int kShowEveryMs = 100;

// What the read's thread and the window's thread share.
struct Shared {
    std::atomic<bool> stop{false};
    std::atomic<int64_t> folders{0};
    std::atomic<int64_t> files{0};
    std::atomic<int64_t> tracks{0};
    std::atomic<bool> done{false};
};

// Hands the reader's finds on to the store's writer, counting them for the dialog and
// passing on the user's stop.
class CountingSink final : public store::ContentsSink {
public:
    CountingSink(store::BackgroundContentsWriter& writer, Shared& shared)
        : writer_(writer), shared_(shared) {}
    void volume(const store::VolumeFacts& facts) override { writer_.volume(facts); }
    store::FolderId folder(store::FolderId parent, std::string_view name,
                           std::optional<int64_t> modified, unsigned marks) override {
        const store::FolderId id = writer_.folder(parent, name, modified, marks);
        shared_.folders.fetch_add(1, std::memory_order_relaxed);
        return id;
    }
    void file(store::FolderId parent, std::string_view name, std::optional<int64_t> size,
              std::optional<int64_t> modified, unsigned marks) override {
        writer_.file(parent, name, size, modified, marks);
        shared_.files.fetch_add(1, std::memory_order_relaxed);
    }
    void track(const store::Track& track) override {
        writer_.track(track);
        shared_.tracks.fetch_add(1, std::memory_order_relaxed);
    }
    bool stopRequested() const override {
        return shared_.stop.load(std::memory_order_relaxed) || writer_.stopRequested();
    }

private:
    store::BackgroundContentsWriter& writer_;
    Shared& shared_;
};

ReadResult runRead(const std::filesystem::path& baseDir, int64_t disk,
                   const std::filesystem::path& source, const SourceReader& reader,
                   Shared& shared) {
    ReadResult result;
    try {
        const auto db = store::Database::open(baseDir);
        store::BackgroundContentsWriter writer(*db, disk);
        CountingSink sink(writer, shared);
        store::readThrough(writer, [&] { reader(source, sink); });
        // A stop asked for after the last entry still keeps the previous contents.
        if (shared.stop) throw store::ReadStopped();
        writer.commit();
        result.outcome = ReadOutcome::Done;
    } catch (const store::ReadStopped&) {
        result.outcome = ReadOutcome::Stopped;
    } catch (const std::exception& e) {
        result.outcome = ReadOutcome::Failed;
        result.message = QString::fromUtf8(e.what());
    }
    result.folders = shared.folders;
    result.files = shared.files + shared.tracks;
    return result;
}

// Stays up until the read's thread has ended, whatever the user presses: a stop asked for
// shows as such, and the windows behind stay out of reach until the read is over.
class ReadProgressDialog final : public QProgressDialog {
public:
    explicit ReadProgressDialog(QWidget* parent) : QProgressDialog(parent) {
        QObject::disconnect(this, SIGNAL(canceled()), this, SLOT(cancel()));
    }
    void reject() override { emit canceled(); }

protected:
    void closeEvent(QCloseEvent* event) override {
        emit canceled();
        event->ignore();
    }
};

QString countsText(const Shared& shared) {
    QString text = QStringLiteral("Прочитано папок: %1, файлов: %2")
                       .arg(count(shared.folders), count(shared.files));
    if (const int64_t tracks = shared.tracks)
        text += QStringLiteral(", дорожек: %1").arg(count(tracks));
    return text;
}

}  // namespace

ReadResult readWithProgress(QWidget* parent, const std::filesystem::path& baseDir, int64_t disk,
                            const std::filesystem::path& source, const SourceReader& reader) {
    Shared shared;
    auto dialog = std::make_unique<ReadProgressDialog>(parent);
    dialog->setObjectName(QStringLiteral("ReadProgress"));
    dialog->setWindowTitle(QStringLiteral("Чтение содержимого диска"));
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setCancelButtonText(QStringLiteral("&Остановить"));
    dialog->setRange(0, 0);  // how much is left is not known until the end
    dialog->setMinimumDuration(0);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    dialog->setMinimumWidth(380);
    dialog->setLabelText(countsText(shared));
    QObject::connect(dialog.get(), &QProgressDialog::canceled, dialog.get(), [&] {
        shared.stop = true;
        dialog->setLabelText(QStringLiteral("Останавливаем чтение..."));
    });
    QTimer counts;
    QObject::connect(&counts, &QTimer::timeout, dialog.get(), [&] {
        if (!shared.stop) dialog->setLabelText(countsText(shared));
    });
    counts.start(kShowEveryMs);
    dialog->show();

    QEventLoop loop;
    ReadResult result;
    std::thread worker([&] {
        result = runRead(baseDir, disk, source, reader, shared);
        shared.done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    if (!shared.done) shared.stop = true;  // the program is quitting
    worker.join();
    counts.stop();
    dialog.reset();  // gone before any box speaks of the result
    return result;
}

}  // namespace contents
