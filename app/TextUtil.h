#pragma once

#include <QLocale>
#include <QString>

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

}  // namespace pelorin
