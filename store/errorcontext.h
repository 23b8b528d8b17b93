#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "store/error.h"

struct sqlite3;

namespace store {

// What a statement needs of the catalogue it runs on: the connection, and its failures
// told in the catalogue's words (the table files named, the statement quoted). The
// catalogue provides it; a statement never needs the catalogue itself.
class ErrorContext {
public:
    virtual sqlite3* handle() const = 0;
    // An error for a failed SQLite call, its message in Russian; files names the table
    // files the statement touched.
    virtual Error errorFor(int code, const std::vector<std::string>& files,
                           std::string_view statement) const = 0;

protected:
    ~ErrorContext() = default;
};

}  // namespace store
