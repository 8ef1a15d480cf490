#pragma once

#include <QString>

class QTextDocument;

namespace pelorin {

// True for every character a QTextDocument stores as a line break: the block
// separator (U+2029), the line separator (U+2028) and the frame markers.
// '\r' is not among them; normalizedLineBreaks() folds it first.
bool isDocumentLineBreak(char16_t c);

// The document's text with line breaks as '\n'. Unlike toPlainText() it keeps
// no-break spaces, which can matter inside CSS strings.
QString documentText(const QTextDocument& document);

// The text of positions [from, from + length) of the document, read the same way.
QString documentText(const QTextDocument& document, int from, int length);

// `text` as a document stores it and documentText() returns it: "\r\n", a lone
// '\r' and every document line break become '\n'; nothing else changes.
QString normalizedLineBreaks(const QString& text);

// Whether normalizedLineBreaks() would change anything in `text`.
bool holdsBreakToNormalize(QStringView text);

}  // namespace pelorin
