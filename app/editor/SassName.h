#pragma once

#include <QChar>

namespace pelorin {

// Sass identifiers, as the highlighter and the bracket matcher read them:
// ASCII letters, '_', '-' and every non-ASCII character, with ASCII digits
// after the first.
inline bool isNameStart(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u == '-' || u >= 0x80;
}

inline bool isNameChar(QChar c) {
    return isNameStart(c) || (c.unicode() >= '0' && c.unicode() <= '9');
}

}  // namespace pelorin
