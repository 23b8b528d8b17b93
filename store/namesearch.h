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
size_t find(Path path, std::string_view haystack, std::string_view needle, size_t from);

}  // namespace store::namesearch
