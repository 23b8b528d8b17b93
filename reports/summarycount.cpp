#include "reports/summarycount.h"

#include <chrono>

#include "store/database.h"
#include "store/error.h"
#include "store/query.h"

namespace {

// How soon a count that other programs' writes kept out is tried again.
constexpr std::chrono::milliseconds kRetry{250};

}  // namespace

SummaryCount::SummaryCount(QObject* parent) : QObject(parent) {}

SummaryCount::~SummaryCount() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
        if (db_) db_->interrupt();
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void SummaryCount::start(const std::filesystem::path& baseDir, const loans::Filter& filter,
                         const loans::Reckoning& reckoning) {
    if (label_) label_->setText(QStringLiteral("Подсчёт..."));
    {
        const std::lock_guard lock(mutex_);
        next_ = Request{++latest_, baseDir, filter, reckoning};
        if (db_) db_->interrupt();
        if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    }
    wake_.notify_all();
}

void SummaryCount::showIn(QLabel* label, std::function<QString(const loans::Summary&)> describe) {
    connect(this, &SummaryCount::counted, label,
            [label, describe = std::move(describe)](const loans::Summary& s) {
                label->setText(describe(s));
            });
    connect(this, &SummaryCount::waiting, label,
            [label] { label->setText(QStringLiteral("Каталог занят другой программой, ждём…")); });
    connect(this, &SummaryCount::failed, label, [label](const QString& message) {
        label->setText(QStringLiteral("Итог не подсчитан: %1").arg(message));
    });
    label_ = label;
}

void SummaryCount::cancel() {
    const std::lock_guard lock(mutex_);
    ++latest_;
    next_.reset();
    if (db_) db_->interrupt();
}

template <class Signal>
void SummaryCount::answer(uint64_t id, Signal&& signal) {
    QMetaObject::invokeMethod(
        this,
        [this, id, signal = std::forward<Signal>(signal)] {
            if (!stale(id)) signal();
        },
        Qt::QueuedConnection);
}

void SummaryCount::run() {
    for (;;) {
        Request request;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || next_; });
            if (stop_) return;
            request = std::move(*next_);
            next_.reset();
        }
        while (!count(request)) {
            std::unique_lock lock(mutex_);
            if (wake_.wait_for(lock, kRetry, [this] { return stop_ || next_; })) break;
        }
    }
}

bool SummaryCount::count(const Request& request) {
    try {
        std::shared_ptr<store::Database> db;
        {
            const std::lock_guard lock(mutex_);
            db = db_;
        }
        if (!db || db->baseDir() != request.baseDir) {
            db = store::Database::openForReading(request.baseDir);
            const std::lock_guard lock(mutex_);
            db_ = db;
        }
        if (stale(request.id)) return true;
        store::Query summary(loans::summaryLines(request.filter), db);
        loans::bind(summary, request.filter, request.reckoning);
        const loans::Summary s = loans::readSummary(summary);
        answer(request.id, [this, s] { emit counted(s); });
    } catch (const store::Error& e) {
        if (stale(request.id)) return true;
        if (e.kind() == store::Error::Kind::Locked) {
            answer(request.id, [this] { emit waiting(); });
            return false;
        }
        answer(request.id,
               [this, message = QString::fromStdString(e.what())] { emit failed(message); });
    }
    return true;
}
