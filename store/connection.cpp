#include "store/connection.h"

#include <sqlite3.h>

#include <string>

namespace store {

void ConnectionCloser::operator()(sqlite3* db) const {
    sqlite3_close_v2(db);
}

Connection::Connection(const std::filesystem::path& file, Mode mode) {
    const int flags = SQLITE_OPEN_READWRITE | (mode == Mode::Create ? SQLITE_OPEN_CREATE : 0);
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
    db_.reset(raw);
    if (rc != SQLITE_OK) db_.reset();
}

bool Connection::exec(std::string_view sql) const {
    return db_ && sqlite3_exec(db_.get(), std::string(sql).c_str(), nullptr, nullptr, nullptr) ==
                      SQLITE_OK;
}

}  // namespace store
