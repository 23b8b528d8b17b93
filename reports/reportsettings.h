#pragma once

#include <QRect>
#include <QString>
#include <optional>

// The reports' own settings, in Korvalen.ini beside the main window's, under a section
// of their own ([reports]); the main window's section is not touched.
namespace reports {

// The overdue limit in days (default 30); a missing or bad value reads as the default.
int overdueDays();
// Writes the limit; a file that cannot be written is reported, and the limit still
// holds until the program ends.
void saveOverdueDays(int days);

// Where a report window stood and how large it was (its frame's top left, its size), by
// the window's name; nothing when never saved or not whole.
std::optional<QRect> windowPlace(const QString& window);
// Kept quietly: a place that cannot be saved costs the user no box.
void saveWindowPlace(const QString& window, const QRect& place);

}  // namespace reports
