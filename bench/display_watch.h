#pragma once

#include <time.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <utility>

// What the benchmarks on a display watch of a window's thread: how long it was kept from
// its events, when a widget was painted, and keys as a user types them.
namespace bench {

constexpr int kBeatMs = 5;

// Beats of a precise timer on the window's thread: the largest gap is the longest the
// thread was kept from its events. On a busy machine part of a gap is the thread waiting
// for a core: the largest CPU time the thread spent between two beats is its own work.
class Heartbeat {
public:
    Heartbeat() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kBeatMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed(), cpu = threadCpuNs();
            largest_ = std::max(largest_, now - last_);
            largestCpu_ = std::max(largestCpu_, cpu - lastCpu_);
            last_ = now;
            lastCpu_ = cpu;
        });
        clock_.start();
        timer_.start();
    }
    void restart() {
        last_ = clock_.nsecsElapsed();
        lastCpu_ = threadCpuNs();
        largest_ = largestCpu_ = 0;
    }
    double largestMs() const { return std::max(largest_, clock_.nsecsElapsed() - last_) / 1e6; }
    double largestCpuMs() const { return std::max(largestCpu_, threadCpuNs() - lastCpu_) / 1e6; }

private:
    static qint64 threadCpuNs() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
    }

    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0, largest_ = 0, lastCpu_ = 0, largestCpu_ = 0;
};

// Notes a paint of the widget that came while `when` held (always, without one). The
// waiting loop reads `painted` once the paint is done; with a clock, the widget is painted
// here and paintedMs is the clock's reading just after, however long the loop's pass.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* widget, std::function<bool()> when = {},
                        const QElapsedTimer* clock = nullptr)
        : when_(std::move(when)), clock_(clock) {
        widget->installEventFilter(this);
    }
    bool painted = false;
    double paintedMs = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint || painted || (when_ && !when_())) return false;
        painted = true;
        if (!clock_) return false;
        watched->event(event);
        paintedMs = clock_->nsecsElapsed() / 1e6;
        return true;
    }

private:
    std::function<bool()> when_;
    const QElapsedTimer* clock_;
};

// Waits on the event loop until done says so; false when it never did within giveUpMs.
template <class Done>
bool waitFor(const QElapsedTimer& since, int giveUpMs, Done done) {
    while (!done()) {
        if (since.elapsed() > giveUpMs) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, kBeatMs);
    }
    return true;
}

inline void idleFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    waitFor(timer, ms + 1000, [&] { return timer.elapsed() >= ms; });
}

// A key pressed and released with one character, queued to the widget as the window
// system hands keys on (Qt's key code for a letter is its capital's code point).
inline void postKey(QWidget* to, QChar c) {
    const int key = c.toUpper().unicode();
    QCoreApplication::postEvent(to,
                                new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, QString(c)));
    QCoreApplication::postEvent(to,
                                new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, QString(c)));
}

}  // namespace bench
