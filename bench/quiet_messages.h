#pragma once

#include <QString>
#include <cstdio>

#include "widgets/messages.h"

namespace bench {

// Message boxes for a run without a user: a box would wait for an answer forever,
// so each message goes to the error output and is remembered; questions are
// answered no.
class QuietMessages final : public MessageBoxes {
public:
    QuietMessages() { setMessages(this); }
    ~QuietMessages() override { setMessages(nullptr); }
    QuietMessages(const QuietMessages&) = delete;
    QuietMessages& operator=(const QuietMessages&) = delete;

    void information(const QString& text, QWidget*) override { say(text); }
    bool confirm(const QString& text, QWidget*) override {
        say(text);
        return false;
    }
    void error(const QString& text, QWidget*) override { say(text); }

    bool anySaid() const { return said_; }
    const QString& lastSaid() const { return last_; }
    void forget() {
        said_ = false;
        last_.clear();
    }

private:
    void say(const QString& text) {
        said_ = true;
        last_ = text;
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    }
    bool said_ = false;
    QString last_;
};

}  // namespace bench
