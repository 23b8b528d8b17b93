#pragma once

#include <stdexcept>
#include <string>

namespace store {

// Every failure of the store reaches the caller as one of these, with a message
// in Russian that names the table file or the statement.
class Error : public std::runtime_error {
public:
    enum class Kind {
        Missing,
        NotCatalogue,
        Statement,
        ReadOnly,
        Locked,
        DiskFull,
        KeysExhausted,  // a table's keys have reached the highest number
        NotFound,       // a write by key found no row: another program deleted it
        Io,
        Stopped,  // the caller's progress said stop
        Other
    };

    Error(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

}  // namespace store
