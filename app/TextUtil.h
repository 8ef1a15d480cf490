#pragma once

#include <QLocale>
#include <QString>

class QPlainTextEdit;
class QTextDocument;

namespace pelorin {

// Elapsed milliseconds as the status line's seconds: the tick count as a
// single-precision value divided by 1000, in general format with seven
// significant digits and the locale's decimal separator, never digit grouping
// (0 -> "0", 15 -> "0.015", 1500 -> "1.5").
QString secondsText(qint32 elapsedMs, const QLocale& locale = QLocale());

// The document's text with line breaks as '\n'. Unlike toPlainText() it keeps
// no-break spaces, which can matter inside CSS strings.
QString documentText(const QTextDocument& document);

// Makes the editor's document hold `text` by replacing only what lies between
// the common prefix and suffix of its current text and `text`, in one edit
// that leaves no undo history (the document's undo stack is cleared). The view
// keeps its scroll position, and a caret or selection outside the replaced
// middle stays on the same text. Line breaks in `text` ("\r\n", '\r', U+2028,
// U+2029) end up as the document's own line breaks, as documentText() shows
// them; any other text ends up exactly as given.
void replaceChangedText(QPlainTextEdit& editor, const QString& text);

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
// count twice. Lines past the end clamp to the last line, columns to one past
// the line's end; any int values are safe.
TextPosition mapTrimmedPosition(const QString& untrimmedText, int line, int column);

}  // namespace pelorin
