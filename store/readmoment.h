#pragma once

#include <functional>

namespace store {

class Database;

// How long a read waits for a catalogue that other programs keep writing: told the
// seconds waited so far, it says whether to go on waiting. When it says no, the last
// refusal is thrown, naming the table file that was refused.
using WaitWhileBusy = std::function<bool(double secondsWaited)>;

// A read transaction that holds every table file of the catalogue at one moment: while
// it lives no writer can commit to any of them, so whatever is read inside it (a copy,
// an export with its row count) is one state of the catalogue.
//
// Getting in waits for writers. A writer that commits to two files may hold the one the
// moment wants next while waiting for one the moment already holds; neither would ever
// get on. So each attempt waits only a short while, then lets go of every file, so the
// writer can finish, and tries again, for as long as wait allows (without wait: once,
// with the connection's usual patience).
class ReadMoment {
public:
    explicit ReadMoment(const Database& db, const WaitWhileBusy& wait = {});
    ~ReadMoment();
    ReadMoment(const ReadMoment&) = delete;
    ReadMoment& operator=(const ReadMoment&) = delete;

private:
    void holdEveryFile() const;
    void end() const;
    const Database& db_;
};

}  // namespace store
