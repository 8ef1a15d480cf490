#pragma once

#include "SyntaxColors.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QTextCursor>

namespace pelorin {

class LineNumberGutter;

// A plain-text editor with a line-number gutter and an error mark. It only
// adds to QPlainTextEdit: every property a caller sets (read-only, tab
// behaviour, font, colours, wrapping) keeps its meaning. It owns the editor's
// extra selections, which carry the error mark.
class CodeEditor : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit CodeEditor(QWidget* parent = nullptr, const SyntaxColors& colors = SyntaxColors());

    const SyntaxColors& colors() const { return scheme; }

    // Marks line `line` with a background and the character at `column` with a
    // wavy underline (both 1-based, column in UTF-16 units of that line). A
    // column past the line's end underlines its last character. A line
    // outside the text clears the mark.
    void setErrorMark(int line, int column);
    void clearErrorMark();
    // The marked line as it stands after later edits (1-based), 0 when none.
    int errorLine() const;

    // Puts the caret at line, column (1-based, clamped into the text) and
    // gives the editor the focus.
    void goToPosition(int line, int column);

    int gutterWidth() const;

    // Makes the document hold `text` by replacing only what lies between the
    // common prefix and suffix of its current text and `text`, in one edit
    // that leaves no undo history (the document's undo stack is cleared). The
    // view keeps its scroll position, and a caret or selection outside the
    // replaced middle stays on the same text. Line breaks in `text` ("\r\n",
    // '\r', U+2028, U+2029) end up as the document's own line breaks, as
    // documentText() shows them; any other text ends up exactly as given.
    void replaceChangedText(const QString& text);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    friend class LineNumberGutter;

    void updateGutterWidth();
    void updateGutter(const QRect& rect, int dy);
    // Position of line, column in the document, clamped into the text and
    // never between the halves of a surrogate pair.
    QTextCursor cursorAt(int line, int column) const;

    SyntaxColors scheme;
    LineNumberGutter* gutter = nullptr;
    QTextCursor errorCursor;  // at the marked line's start; null when none
    // The text replaceChangedText() left in placedDocument, valid until any
    // other edit of that document.
    QString placedText;
    QPointer<const QTextDocument> placedDocument;
    bool placedTextValid = false;
    bool placing = false;
};

}  // namespace pelorin
