#pragma once

#include <QLocale>
#include <QString>

namespace pelorin {

// Elapsed milliseconds as the status line's seconds: the tick count as a
// single-precision value divided by 1000, in general format with seven
// significant digits and the locale's decimal separator, never digit grouping
// (0 -> "0", 15 -> "0.015", 1500 -> "1.5").
QString secondsText(qint32 elapsedMs, const QLocale& locale = QLocale());

// The status line after a conversion: "Compiled in <secondsText> seconds".
QString compiledInText(qint32 elapsedMs);

}  // namespace pelorin
