#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "store/statement.h"

struct sqlite3;

namespace store {

class NameCopy;

// What the candidates function reads: the copy of the names while it is in step with
// the file, else nothing (every disk is then a candidate).
class CandidateSource {
public:
    virtual ~CandidateSource() = default;
    virtual std::shared_ptr<const NameCopy> currentCopy() = 0;
    virtual sqlite3* connection() const = 0;
};

// Registers the candidates function (kCandidatesFunction) on db; it keeps source.
int registerCandidates(sqlite3* db, std::shared_ptr<CandidateSource> source);

StatementHandle prepared(sqlite3* db, const std::string& sql);
// The disk table's key field.
std::string_view keyField();

}  // namespace store
