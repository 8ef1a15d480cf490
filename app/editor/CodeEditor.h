#pragma once

#include "Syntax.h"
#include "SyntaxColors.h"
#include "WarningMarks.h"

#include <QFont>
#include <QList>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

#include <utility>

namespace pelorin {

class LineNumberGutter;
class ScssHighlighter;

// A plain-text editor with a line-number gutter, an error mark and warning
// marks. It only
// adds to QPlainTextEdit: every property a caller sets (read-only, tab
// behaviour, font, colours, wrapping) keeps its meaning. It owns the editor's
// extra selections, which carry the error mark and the bracket marks.
//
// Keys it adds: Enter keeps the line's indentation (one level more after '{'),
// a '}' first on its line takes one level off, Ctrl+/ toggles line comments,
// Ctrl+] and Ctrl+[ indent and outdent, Ctrl+Y redoes (editable editors
// only); Ctrl+= or Ctrl++, Ctrl+- and Ctrl+0 (and Ctrl+wheel) zoom; Ctrl+G
// goes to a line. A read-only editor shows its caret while focused, and the
// arrow keys move it and select with Shift, as in an editable one.
class CodeEditor : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit CodeEditor(QWidget* parent = nullptr, const SyntaxColors& colors = SyntaxColors());

    const SyntaxColors& colors() const { return scheme_; }

    // Marks line `line` with a background and the character at `column` with a
    // wavy underline (both 1-based, column in UTF-16 units of that line). A
    // column past the line's end underlines its last character. A line
    // outside the text clears the mark. `message` is the error's text, which
    // goToProblem() and hovering the line show.
    void setErrorMark(int line, int column, const QString& message = QString());
    void clearErrorMark();
    // The marked line as it stands after later edits (1-based), 0 when none.
    int errorLine() const;
    const QString& errorText() const { return errorText_; }

    // Puts the caret at line, column (1-based, clamped into the text) and
    // gives the editor the focus.
    void goToPosition(int line, int column);

    int gutterWidth() const;

    // What the gutter and the warning marks draw by: the first block in view,
    // and a block's rectangle in viewport coordinates.
    QTextBlock firstShownBlock() const { return firstVisibleBlock(); }
    QRectF blockArea(const QTextBlock& block) const {
        return blockBoundingGeometry(block).translated(contentOffset());
    }

    // Shows compiler warnings without the user having to hover: each line
    // with any gets a mark in the gutter and its messages drawn dimmed after
    // the end of its text (several joined); hovering the mark or the dimmed
    // text shows the full texts in a tool tip. Lines are 1-based; a line outside the text shows on the
    // first line. Only painted: the text and its undo history are untouched.
    // Replaces the warnings shown before; an empty list clears them.
    void setWarnings(const QList<EditorWarning>& warnings);
    void clearWarnings() { setWarnings({}); }
    // The lines that show warnings (1-based, ascending, as they stand after
    // later edits), and the full texts shown at one of them.
    QList<int> warningLines() const { return warnings_.lineNumbers(); }
    QStringList warningsAt(int line) const { return warnings_.textsAt(line - 1); }

    // The text as documentText() reads it ('\n' for every line break), kept
    // up to date edit by edit instead of being read whole each time.
    const QString& currentText() const;

    // Makes the document hold `text` by replacing only what lies between the
    // common prefix and suffix of its current text and `text`, in one edit
    // that leaves no undo history (the document's undo stack is cleared). The
    // view keeps its scroll position, and a caret or selection outside the
    // replaced middle stays on the same text. Line breaks in `text` ("\r\n",
    // '\r', U+2028, U+2029) end up as the document's own line breaks, as
    // documentText() shows them; any other text ends up exactly as given.
    void replaceChangedText(const QString& text);

    // Shows a conversion's output in a view that keeps the reader's place.
    // Like replaceChangedText, and a selection that overlapped the replaced
    // part is cleared, or kept on the whole text when it covered all of it.
    // Emptying the view sets its document aside, laid out and highlighted,
    // and shows an empty one: the next non-empty text is shown in it as if
    // the empty interval had not happened, so the scroll position and a
    // selection outside the changed part come back without the whole text
    // being filled in again.
    void showOutput(const QString& text);

    // How the text reads, for its brackets and comment keys. Scss by default.
    void setSyntax(Syntax value);
    Syntax syntax() const { return textSyntax_; }
    // setSyntax, and colours the text as that syntax with the editor's colours.
    // Best called while the document is still empty, so that no whole-document
    // colouring pass runs later.
    void setHighlightedSyntax(Syntax value);

    // Draws tabs `characters` wide in the editor's font, kept after every
    // font change (zoom included). Until called, the tab stop distance is
    // whatever the caller set.
    void setTabStopCharacters(int characters);

    // Zoom in whole points on the font the caller set, which level 0 restores.
    void zoomBy(int steps);
    void resetZoom();

    // Asks for a line number and puts the caret at the start of that line.
    void goToLine();

    // Puts the caret at the next problem after it (forward) or the one before
    // it: the marked error and the warnings in text order, wrapping at the
    // ends. The editor takes the focus, a tool tip at the caret shows the
    // problem's whole text, and the accessible description holds that text
    // (so screen readers read it) until the caret moves on. False, and
    // nothing moves, when there is no problem.
    bool goToProblem(bool forward);
    // The same for the first warning of the text, past any error.
    bool goToFirstWarning();

    // Keeps `pixels` free above the text and the gutter, for a bar laid over
    // the editor's top edge; 0 gives the room back.
    void setTopMargin(int pixels);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    void updateGutterWidth();
    void updateGutter(const QRect& rect, int dy);
    void updateCurrentLineNumber();
    // The number of the first block shown and one that no block shown is
    // beyond, while `shown` is the editor's document; else -1, -1.
    std::pair<int, int> visibleBlocks(const QTextDocument* shown) const;
    // Position of line, column in the document, clamped into the text and
    // never between the halves of a surrogate pair.
    QTextCursor cursorAt(int line, int column) const;

    // The editing and view keys above; false for every other key.
    bool handleCommandKey(QKeyEvent* event);
    void updateExtraSelections();
    void updateBracketMarks();
    void updateTabStops();
    void setZoom(int level);
    // replaceChangedText, then the selection put right (see showOutput).
    void replaceKeepingSelection(const QString& text);
    // Shows `shown`, whose text is `text`, with its text known to
    // currentText() and the gutter fitted to it.
    void showDocument(QTextDocument* shown, const QString& text);
    // The document with the text: the shown one, or the one set aside while
    // the view is empty.
    QTextDocument* textDocument() const { return holdingPlace_ && heldDocument_ ? heldDocument_ : document(); }
    QTextDocument* emptyDocument();

    // A place in the text with its problem's full text.
    struct Problem {
        int position = 0;
        QString text;
    };
    // The error and the warnings in text order; only the warnings when asked.
    QList<Problem> problems(bool warningsOnly) const;
    void showProblem(const QList<Problem>& list, qsizetype index);
    // The problem text for the error.
    QString errorProblemText() const;
    // After a move of the caret, the tool tip and the description of a
    // problem go.
    void leaveProblem();

    SyntaxColors scheme_;
    LineNumberGutter* gutter_ = nullptr;
    ScssHighlighter* highlighter_ = nullptr;  // the document's, once setHighlightedSyntax() made it
    int currentLine_ = 0;  // the caret's line (0-based) that the gutter shows
    QTextCursor errorCursor_;  // at the marked line's start; null when none
    int errorColumn_ = 1;
    QString errorText_;
    QList<QTextEdit::ExtraSelection> errorMarks_;
    QList<QTextEdit::ExtraSelection> bracketMarks_;
    Syntax textSyntax_ = Syntax::Scss;
    int tabStopCharacters_ = 0;  // 0: the tab stop distance is the caller's
    int zoom_ = 0;
    bool zooming_ = false;  // the font change under way is a zoom step
    QFont zoomBase_;        // the caller's font, while zoomed
    int wheelDelta_ = 0;    // Ctrl+wheel rotation not yet turned into a step

    // While the view is emptied, the document it showed is set aside whole,
    // with its layout and highlighting, and an empty one is shown; the next
    // text comes back to it where the reader was.
    struct Place {
        QString text;
        int anchor = 0;
        int position = 0;
        int topBlock = 0;
        int topLineOffset = 0;  // visual lines of the top block above the view
        int horizontalScroll = 0;
    };
    bool holdingPlace_ = false;
    Place heldPlace_;
    QTextDocument* heldDocument_ = nullptr;
    QTextDocument* emptyDocument_ = nullptr;  // made when first needed
    int topMargin_ = 0;

    // The problem goToProblem() last went to, while the caret stays there.
    struct ProblemStep {
        quint64 textChanges = 0;
        int position = -1;
        qsizetype index = -1;
        QString text;
    };
    ProblemStep lastProblem_;
    bool showingProblem_ = false;    // the caret is being moved to a problem
    bool describesProblem_ = false;  // the accessible description is a problem's
    QString ownDescription_;         // the description the caller gave, meanwhile
    WarningMarks warnings_{this};

    // What the bracket marks were last computed for.
    struct BracketState {
        const QTextDocument* document = nullptr;
        quint64 textChanges = 0;
        int position = -1;
        Syntax syntax = Syntax::Scss;
        bool operator==(const BracketState& o) const {
            return document == o.document && textChanges == o.textChanges && position == o.position &&
                   syntax == o.syntax;
        }
    };
    quint64 textChanges_ = 0;
    BracketState lastBracketState_;

    // currentText()'s copy of the text of cachedDocument_, valid until an edit
    // it could not follow.
    void followEdit(const QTextDocument* document, int position, int charsRemoved, int charsAdded);
    mutable QString cachedText_;
    mutable QPointer<const QTextDocument> cachedDocument_;
    mutable QMetaObject::Connection cachedEdits_;
    mutable bool cachedTextValid_ = false;
    // While replaceChangedText() edits: the text it is placing.
    const QString* placing_ = nullptr;
};

}  // namespace pelorin
