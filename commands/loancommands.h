#pragma once

#include <cstdint>
#include <functional>

#include "store/query.h"

namespace command {

// Closes today, in a unit of its own, an open loan whose disk was deleted (such a loan
// can never be taken back), once confirmed says yes. A disk still in the catalogue is
// refused with a box saying how to take it back. True when the loan was closed.
bool closeLoanOfDeletedDisk(store::Query& query, int64_t loanKey, int64_t diskKey,
                            const std::function<bool()>& confirmed);

}  // namespace command
