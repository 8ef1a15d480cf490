#pragma once

#include <QtGlobal>

namespace pelorin {

// The length, in UTF-16 units of a line's text without its line break, beyond
// which the editors treat a line as long: the highlighter colours only its
// first LongLineLength units and leaves the rest plain (colouring a minified
// stylesheet's one huge line would cost tens of milliseconds on every update,
// and each coloured run is one more format range to draw) and LongLineWrap wraps
// it anywhere (the word-boundary search is quadratic on a line without break
// opportunities).
inline constexpr int LongLineLength = 10000;

inline bool isLongLine(qsizetype textLength) {
    return textLength > LongLineLength;
}

}  // namespace pelorin
