#pragma once

#include <QString>
#include <string_view>

// A text box lays every line out whole: a line of a million characters takes seconds,
// one of a hundred million gigabytes and then Qt's layout crashes. A text too long for
// that is shown only in part: its beginning, each line cut short, under a first line that
// says so. The excerpt is for showing only; the text itself is never changed by it.
struct TextExcerpt {
    QString text;           // what the box shows
    bool whole = true;      // false: a beginning under the mark
    qint64 characters = 0;  // of the whole text, as the user counts them
};

// A description as stored (UTF-8), whole when a text box lays it out quickly, else its
// beginning under a mark that names its length and ends with the note.
TextExcerpt excerptOf(std::string_view utf8, const QString& note = {});
