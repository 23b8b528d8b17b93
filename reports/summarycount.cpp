#include "reports/summarycount.h"

#include <chrono>
#include <algorithm>
#include <future>

#ifdef __linux__
#include <pthread.h>
#include <sched.h>
#endif

#include "store/database.h"
#include "store/error.h"
#include "store/query.h"

namespace {

// How soon a count that other programs' writes kept out is tried again.
constexpr std::chrono::milliseconds kRetry{250};
// Two threads: the machines the program runs on have two cores at least, and two threads
// get their share of a busy machine twice over. The loans are cut in more ranges than
// that and dealt in turn, so that each thread gets its share of the dear ones (the open
// loans, looked up on their disks), which lie together in a span of the table.
constexpr int kParts = 2;
constexpr int kRanges = 16;

// The counting threads yield to the window's thread whenever it wakes: with two of them
// on two cores, the window would otherwise wait for a time slice to paint.
void yieldToTheWindow() {
#ifdef __linux__
    const sched_param none{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &none);
#endif
}

}  // namespace

SummaryCount::SummaryCount(QObject* parent) : QObject(parent) {}

SummaryCount::~SummaryCount() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
        interruptAll();
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
        interruptAll();
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
    interruptAll();
}

void SummaryCount::interruptAll() {
    for (const auto& db : dbs_) db->interrupt();
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
    yieldToTheWindow();
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

std::vector<std::shared_ptr<store::Database>> SummaryCount::connections(
    const std::filesystem::path& baseDir) {
    std::vector<std::shared_ptr<store::Database>> dbs;
    {
        const std::lock_guard lock(mutex_);
        dbs = dbs_;
    }
    if (!dbs.empty() && dbs.front()->baseDir() == baseDir) return dbs;
    dbs.clear();
    for (int i = 0; i < kParts; ++i) dbs.push_back(store::Database::openForReading(baseDir));
    const std::lock_guard lock(mutex_);
    dbs_ = dbs;
    return dbs;
}

bool SummaryCount::count(const Request& request) {
    try {
        const auto dbs = connections(request.baseDir);
        if (stale(request.id)) return true;
        const auto ranges = loans::splitLoans(dbs.front(), kRanges);
        const auto part = [&](size_t i) {
            std::vector<loans::LoanRange> dealt;
            for (size_t r = i; r < ranges.size(); r += dbs.size()) dealt.push_back(ranges[r]);
            return loans::countSummaryPart(dbs[i], request.filter, request.reckoning, dealt);
        };
        // The later parts on threads of their own while this one counts the first; each
        // future waits for its thread even when the first part throws.
        std::vector<std::future<loans::SummaryPart>> later;
        for (size_t i = 1; i < std::min(dbs.size(), ranges.size()); ++i)
            later.push_back(std::async(std::launch::async, [&part, i] {
                yieldToTheWindow();
                return part(i);
            }));
        std::vector<loans::SummaryPart> parts{part(0)};
        for (auto& f : later) parts.push_back(f.get());
        const loans::Summary s = loans::combine(parts);
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
