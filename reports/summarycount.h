#pragma once

#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "reports/loanstatements.h"

namespace store {
class Database;
}

// A loan summary counted on a thread of its own over its own read-only connection to the
// catalogue, so the window's thread never waits for a pass over every loan; the loans are
// cut in two, the second half counted at once on a second thread and connection. Only
// the latest request is answered: one still counting when another comes is stopped.
class SummaryCount : public QObject {
    Q_OBJECT
public:
    explicit SummaryCount(QObject* parent = nullptr);
    ~SummaryCount() override;  // stops the count under way and waits for its thread

    void start(const std::filesystem::path& baseDir, const loans::Filter& filter,
               const loans::Reckoning& reckoning);
    // Answers no request made so far.
    void cancel();
    // Shows each count in label, as describe words it, and meanwhile what is under way.
    void showIn(QLabel* label, std::function<QString(const loans::Summary&)> describe);

signals:
    void counted(const loans::Summary& summary);
    // Another program keeps the catalogue busy: the count is tried again shortly.
    void waiting();
    void failed(const QString& message);

private:
    struct Request {
        uint64_t id;
        std::filesystem::path baseDir;
        loans::Filter filter;
        loans::Reckoning reckoning;
    };
    void run();
    bool count(const Request& request);  // false: try again
    template <class Signal>
    void answer(uint64_t id, Signal&& signal);
    bool stale(uint64_t id) const { return id != latest_; }
    // The connections of the parts, opened once for a catalogue.
    std::vector<std::shared_ptr<store::Database>> connections(
        const std::filesystem::path& baseDir);
    void interruptAll();  // under mutex_

    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Request> next_;
    bool stop_ = false;
    std::vector<std::shared_ptr<store::Database>> dbs_;  // one per part; set under mutex_
    std::atomic<uint64_t> latest_{0};
    std::thread thread_;
    QPointer<QLabel> label_;
};
