#pragma once

#include <cstddef>
#include <string_view>

namespace store::namesearch {

// How a needle is sought in a run of names: with the processor's 32-byte vector
// instructions where it has them, else byte by byte.
enum class Path { Plain, Vector };

// True when this processor runs the vector path.
bool vectorAvailable();
// The path used unless one is asked for: Vector where available.
Path fastest();

// Where needle (not empty) next occurs in haystack at or after from; npos if nowhere.
// Where holes is given (as long as needle), a needle byte whose hole byte is not 0
// stands for any byte; the first and last are never holes.
size_t find(Path path, std::string_view haystack, std::string_view needle, size_t from,
            std::string_view holes = {});

// Where the next byte from 0xC0 to 0xFE lies at or after from; npos if nowhere. In a
// copy's names such a byte starts a character of more than one byte.
size_t findWide(Path path, std::string_view haystack, size_t from);

}  // namespace store::namesearch
