#pragma once

#include <QRect>
#include <optional>

// The contents window's own settings, in Korvalen.ini under a section of their own
// ([contents]); the other sections are not touched.
namespace contents {

// The windows whose places are kept: "Содержимое диска" and "Найти файл".
enum class Window { Contents, FindFile };

// Where the window stood and how large it was; nothing when never saved or not whole.
std::optional<QRect> windowPlace(Window window = Window::Contents);
// Kept quietly: a place that cannot be saved costs the user no box.
void saveWindowPlace(const QRect& place, Window window = Window::Contents);

}  // namespace contents
