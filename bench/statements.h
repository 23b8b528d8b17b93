#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bench {

// The disk list as the main window's layout holds it (unfiltered).
std::vector<std::string> diskListLayout();

// The disk list rebuilt by the "all disks" filter: variant 1 to 8 by the three
// switches (category, media type, name fragment), the fragment spliced in as typed.
std::vector<std::string> filterAll(int variant, std::string_view fragment = {});

}  // namespace bench
