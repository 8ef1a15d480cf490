#include "TextPosition.h"

namespace pelorin {

QList<TextPosition> mapTrimmedPositions(const QString& untrimmedText, const QList<TextPosition>& positions) {
    QList<TextPosition> results;
    results.reserve(positions.size());
    if (positions.isEmpty())
        return results;
    const QChar* p = untrimmedText.constData();
    const qsizetype n = untrimmedText.size();
    qsizetype begin = 0;
    while (begin < n && p[begin].isSpace())
        ++begin;
    qsizetype end = n;
    while (end > begin && p[end - 1].isSpace())
        --end;

    // The editor's line and line start at the trimmed text's start.
    int firstEditorLine = 1;
    qsizetype firstEditorLineStart = 0;
    for (qsizetype i = 0; i < begin; ++i) {
        if (p[i] == u'\n') {
            ++firstEditorLine;
            firstEditorLineStart = i + 1;
        }
    }
    // Start of each line of the trimmed text; the first skips a byte-order mark as libsass does.
    QList<qsizetype> starts{begin < end && p[begin] == QChar(0xfeff) ? begin + 1 : begin};
    for (qsizetype i = begin; i < end; ++i) {
        if (p[i] == u'\n')
            starts.append(i + 1);
    }

    for (const TextPosition& position : positions) {
        const bool pastEnd = position.line > starts.size();
        const qsizetype index = pastEnd ? starts.size() - 1 : qMax(position.line, 1) - 1;
        const qsizetype lineStart = starts.at(index);
        qsizetype lineEnd = index + 1 < starts.size() ? starts.at(index + 1) - 1 : end;
        qsizetype steps = pastEnd ? n : qsizetype(qMax(position.column, 1)) - 1;
        qsizetype at = lineStart;
        while (steps > 0 && at < lineEnd) {
            at += (p[at].isHighSurrogate() && at + 1 < lineEnd && p[at + 1].isLowSurrogate()) ? 2 : 1;
            --steps;
        }
        const qsizetype editorLineStart = index == 0 ? firstEditorLineStart : starts.at(index);
        results.append({firstEditorLine + int(index), int(at - editorLineStart) + 1});
    }
    return results;
}

TextPosition mapTrimmedPosition(const QString& untrimmedText, int line, int column) {
    return mapTrimmedPositions(untrimmedText, {TextPosition{line, column}}).constFirst();
}

}  // namespace pelorin
