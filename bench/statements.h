#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "statements/diskfilter.h"

namespace bench {

// A statement the main window runs on the disk list, with its parameter values in
// binding order.
struct ListStatement {
    std::vector<std::string> lines;
    std::vector<std::pair<std::string, double>> floats;
    std::vector<std::string> narrowed;  // through the copy of the names; empty: none
};

// The disk list as the main window's layout holds it (unfiltered), read from the
// same file the program embeds.
ListStatement diskListLayout();

// The disk list as the window's filter rebuilds it under "Все": the program's own
// builder, the category key 3 and the media-type key 2 for the switches that need one.
ListStatement filterAll(const diskfilter::Switches& switches, std::string_view fragment = {});
// The same under another availability choice.
ListStatement filter(diskfilter::Availability availability, const diskfilter::Switches& switches,
                     std::string_view fragment = {});

}  // namespace bench
