#include "TextPosition.h"

namespace pelorin {

TextPosition mapTrimmedPosition(const QString& untrimmedText, int line, int column) {
    const QChar* p = untrimmedText.constData();
    const qsizetype n = untrimmedText.size();
    qsizetype begin = 0;
    while (begin < n && p[begin].isSpace())
        ++begin;
    qsizetype end = n;
    while (end > begin && p[end - 1].isSpace())
        --end;

    // Start of the wanted line within the trimmed text; a line past the end
    // clamps to the last line with the column past its end. libsass skips a
    // byte-order mark at the start of its text, so first-line columns count
    // from after it.
    qsizetype lineStart = begin < end && p[begin] == QChar(0xfeff) ? begin + 1 : begin;
    bool pastEnd = false;
    for (int l = 1; l < line; ++l) {
        qsizetype next = lineStart;
        while (next < end && p[next] != u'\n')
            ++next;
        if (next >= end) {
            pastEnd = true;
            break;
        }
        lineStart = next + 1;
    }
    qsizetype lineEnd = lineStart;
    while (lineEnd < end && p[lineEnd] != u'\n')
        ++lineEnd;
    // Columns count code points; step over surrogate pairs as one.
    qsizetype steps = pastEnd ? n : qsizetype(qMax(column, 1)) - 1;
    qsizetype at = lineStart;
    while (steps > 0 && at < lineEnd) {
        at += (p[at].isHighSurrogate() && at + 1 < lineEnd && p[at + 1].isLowSurrogate()) ? 2 : 1;
        --steps;
    }

    TextPosition result;
    qsizetype editorLineStart = 0;
    int editorLine = 1;
    for (qsizetype i = 0; i < at; ++i) {
        if (p[i] == u'\n') {
            ++editorLine;
            editorLineStart = i + 1;
        }
    }
    result.line = editorLine;
    result.column = int(at - editorLineStart) + 1;
    return result;
}

}  // namespace pelorin
