#include "TextUtil.h"

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>

namespace pelorin {

QString secondsText(qint32 elapsedMs, const QLocale& locale) {
    const float seconds = static_cast<float>(static_cast<double>(static_cast<float>(elapsedMs)) / 1000.0);
    QLocale format = locale;
    format.setNumberOptions(format.numberOptions() | QLocale::OmitGroupSeparator);
    return format.toString(static_cast<double>(seconds), 'g', 7);
}

QString documentText(const QTextDocument& document) {
    QString text = document.toRawText();
    for (QChar& c : text) {
        switch (c.unicode()) {
        case QChar::ParagraphSeparator:
        case QChar::LineSeparator:
        case 0xfdd0:  // frame start marker
        case 0xfdd1:  // frame end marker
            c = u'\n';
            break;
        default:
            break;
        }
    }
    return text;
}

namespace {

// The text as the document stores it and documentText() returns it: every
// line break a QTextCursor insertion turns into a block separator becomes '\n'.
QString withDocumentLineBreaks(const QString& text) {
    QString result;
    result.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        switch (c) {
        case u'\r':
            if (i + 1 < n && text.at(i + 1) == u'\n')
                ++i;
            result.append(u'\n');
            break;
        case QChar::ParagraphSeparator:
        case QChar::LineSeparator:
        case 0xfdd0:
        case 0xfdd1:
            result.append(u'\n');
            break;
        default:
            result.append(QChar(c));
            break;
        }
    }
    return result;
}

}  // namespace

void replaceChangedText(QPlainTextEdit& editor, const QString& text) {
    QTextDocument& document = *editor.document();
    const QString current = documentText(document);
    const QString wanted = withDocumentLineBreaks(text);
    const qsizetype currentSize = current.size();
    const qsizetype wantedSize = wanted.size();
    const qsizetype shorter = qMin(currentSize, wantedSize);

    qsizetype prefix = 0;
    while (prefix < shorter && current.at(prefix) == wanted.at(prefix))
        ++prefix;
    if (prefix == currentSize && prefix == wantedSize)
        return;
    // Never keep half of a surrogate pair.
    if (prefix > 0 && current.at(prefix - 1).isHighSurrogate())
        --prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix && current.at(currentSize - 1 - suffix) == wanted.at(wantedSize - 1 - suffix))
        ++suffix;
    if (suffix > 0 && current.at(currentSize - suffix).isLowSurrogate())
        --suffix;

    const bool undo = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    QTextCursor cursor(&document);
    cursor.setPosition(int(prefix));
    cursor.setPosition(int(currentSize - suffix), QTextCursor::KeepAnchor);
    cursor.insertText(wanted.mid(prefix, wantedSize - suffix - prefix));
    document.setUndoRedoEnabled(undo);
}

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
    // clamps to the last line with the column past its end.
    qsizetype lineStart = begin;
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
