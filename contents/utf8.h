#pragma once

#include <string_view>

namespace contents {

// Whether bytes are well-formed UTF-8 (no overlong leads, nothing past U+10FFFF): names on
// disks are bytes, and only these are shown as they are.
inline bool isUtf8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const int follow = lead < 0x80                  ? 0
                           : lead >= 0xC2 && lead < 0xE0 ? 1
                           : lead >= 0xE0 && lead < 0xF0 ? 2
                           : lead >= 0xF0 && lead < 0xF5 ? 3
                                                         : -1;
        if (follow < 0 || i + follow >= bytes.size()) return false;
        for (int k = 1; k <= follow; ++k)
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
        i += follow + 1;
    }
    return true;
}

}  // namespace contents
