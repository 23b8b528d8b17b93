#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace store {

// The usual causes a file operation fails for, in the program's own words ("нет прав
// доступа", "на диске нет места", ...); any other keeps the system's text, in brackets.
std::string systemErrorText(int errnum);
std::string systemErrorText(const std::error_code& ec);
// The same for a text the system gave (Qt's error strings, SQLite's): its cause in our
// words where it is one of the usual ones, else the text in brackets.
std::string systemErrorText(std::string_view systemText);

}  // namespace store
