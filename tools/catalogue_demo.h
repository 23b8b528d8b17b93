#pragma once

#include <cstdint>
#include <filesystem>

namespace tools {

struct DemoOptions {
    int disks = 300;
    int64_t files = 30000;  // on the disks' contents, all told
    unsigned seed = 1;
};

// Makes dir/base with a realistic Russian demo catalogue. Refuses an existing one.
void makeDemo(const std::filesystem::path& dir, const DemoOptions& options = {});

}  // namespace tools
