#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

struct sqlite3;

namespace store {

struct ConnectionCloser {
    void operator()(sqlite3* db) const;
};
using ConnectionHandle = std::unique_ptr<sqlite3, ConnectionCloser>;

// One SQLite file opened as it is, with none of the catalogue's checks, functions or
// attached files: what another program's connection to a table file would be. The
// tools and the tests write or hold a file through it behind the catalogue's back.
class Connection {
public:
    enum class Mode { ReadWrite, Create };

    // A file that cannot be opened leaves a connection on which every exec fails.
    explicit Connection(const std::filesystem::path& file, Mode mode = Mode::ReadWrite);
    bool isOpen() const { return db_ != nullptr; }
    // Runs SQLite's own SQL, several statements allowed; false when any fails.
    bool exec(std::string_view sql) const;
    sqlite3* handle() const { return db_.get(); }

private:
    ConnectionHandle db_;
};

}  // namespace store
