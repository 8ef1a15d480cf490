#pragma once

#include <QList>
#include <QString>

namespace pelorin {

// A place in a text: 1-based line, and 1-based column in UTF-16 units.
struct TextPosition {
    int line = 1;
    int column = 1;
};

// Maps a position the compiler reported in untrimmedText.trimmed() (1-based
// line and column, lines split at '\n', columns counting Unicode code points
// as libsass does) to the same place in untrimmedText itself: the leading
// white space the trim removed shifts the lines and, on the first line, the
// columns; characters outside the Basic Multilingual Plane before the column
// count twice; a byte-order mark (U+FEFF) that starts the trimmed text is not
// counted, as libsass skips it. Lines past the end clamp to the last line,
// columns beyond a line's end to one past its last character; any int values
// are safe.
TextPosition mapTrimmedPosition(const QString& untrimmedText, int line, int column);

// mapTrimmedPosition for many positions at once, in their order: one pass over
// the text to find its lines, then only the columns of each position are
// walked, so a conversion's hundred warnings cost little more than one.
QList<TextPosition> mapTrimmedPositions(const QString& untrimmedText, const QList<TextPosition>& positions);

}  // namespace pelorin
