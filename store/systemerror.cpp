#include "store/systemerror.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace store {
namespace {

constexpr std::array<std::pair<int, const char*>, 12> kCauses = {{
    {EEXIST, "такой файл или папка уже есть"},
    {EACCES, "нет прав доступа"},
    {EPERM, "нет прав доступа"},
    {ENOTDIR, "это не папка"},
    {EISDIR, "это папка, а не файл"},
    {ENOSPC, "на диске нет места"},
    {EDQUOT, "исчерпана дисковая квота"},
    {EROFS, "файловая система доступна только для чтения"},
    {ENOENT, "нет такого файла или папки"},
    {ENAMETOOLONG, "слишком длинное имя"},
    {ENOMEDIUM, "в приводе нет диска"},
    {EIO, "ошибка чтения: диск повреждён или не читается"},
}};

std::string bracketed(std::string_view text) {
    return "ошибка системы (" + std::string(text) + ")";
}

}  // namespace

std::string systemErrorText(int errnum) {
    for (const auto& [code, words] : kCauses)
        if (code == errnum) return words;
    return bracketed(std::strerror(errnum));
}

std::string systemErrorText(const std::error_code& ec) {
    if (ec.category() == std::generic_category() || ec.category() == std::system_category())
        return systemErrorText(ec.value());
    return bracketed(ec.message());
}

std::string systemErrorText(std::string_view systemText) {
    for (const auto& [code, words] : kCauses)
        if (systemText == std::strerror(code)) return words;
    return bracketed(systemText);
}

}  // namespace store
