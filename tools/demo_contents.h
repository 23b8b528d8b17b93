#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace store {
class Database;
}

namespace tools {

// What a demo disk holds, as its category suggests.
enum class DemoShape { Video, Audio, Installer, Photos, Documents, Recordings, Backup };

struct DemoDisk {
    int64_t key;
    std::string name;
    DemoShape shape;
};

// Gives the disks believable contents, about files in all (an audio CD: tracks), straight
// into the sixth file; every fifth disk is left unread, as in a catalogue kept by hand, and
// a large demo gives about a hundred files to a share of its disks, spread over them.
void fillDemoContents(const store::Database& db, const std::vector<DemoDisk>& disks, int64_t files,
                      unsigned seed);

}  // namespace tools
