#pragma once

// The reports' own settings, in Korvalen.ini beside the main window's, under a section
// of their own ([reports]); the main window's section is not touched.
namespace reports {

// The overdue limit in days (default 30); a missing or bad value reads as the default.
int overdueDays();
// Writes the limit; a file that cannot be written is reported, and the limit still
// holds until the program ends.
void saveOverdueDays(int days);

}  // namespace reports
