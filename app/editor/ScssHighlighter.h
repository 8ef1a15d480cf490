#pragma once

#include "Syntax.h"
#include "SyntaxColors.h"

#include <QObject>
#include <QPointer>
#include <QStringView>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>

#include <array>
#include <vector>

namespace pelorin {

// Highlights SCSS, or the plain CSS a conversion produces, in one pass over
// each line with no regular expressions and no allocation of its own, so that
// stylesheets of many thousand lines highlight without a stall.
//
// Each line is read as statements: a statement that reaches '{' is a
// selector, one that starts with a name followed by ':' is a declaration
// (property name, then value), '@' starts an at-rule or control directive and
// '$' a variable declaration. Values show numbers with units, hex colours,
// strings, variables, interpolation and !flags. The state carried to the next
// line says whether a block comment is still open and whether a value
// continues (as in a multi-line map), so an edit re-highlights following
// lines only while those change.
//
// It works as QSyntaxHighlighter does, with the same passes, edit blocks and
// signals, but notes one byte per character of a line instead of a
// QTextCharFormat, and none beyond the coloured start of a long line
// (isLongLine): QSyntaxHighlighter fills and compares a format for every
// character of each line it colours, which for a pasted line of megabytes
// took a tenth of a second per editor.
//
// Attach it before the text arrives: a document that already has text is
// coloured in a queued pass, as an edit block of its own that emits
// contentsChanged (and so the editor's textChanged) once; text set after
// attaching is coloured inside that edit, with no extra signal. Detaching
// (deleting it) takes its colours off in one edit block.
class ScssHighlighter : public QObject {
    Q_OBJECT

public:
    explicit ScssHighlighter(QTextDocument* document, Syntax syntax = Syntax::Scss,
                             const SyntaxColors& colors = SyntaxColors());
    ~ScssHighlighter() override;

    QTextDocument* document() const { return document_; }
    Syntax syntax() const { return highlightSyntax_; }
    // Reads the text as another syntax from now on, and colours it again.
    void setSyntax(Syntax value);

    // Colours the whole text again, or one line (and those after it whose
    // start state it changes), each in an edit block of its own.
    void rehighlight();
    void rehighlightBlock(const QTextBlock& block);

private:
    // The passes QSyntaxHighlighter makes: an edit's lines, then on while a
    // line's end state changed.
    void contentsChanged(int from, int charsRemoved, int charsAdded);
    void rehighlight(QTextCursor& cursor, QTextCursor::MoveOperation operation);
    void reformatBlocks(int from, int charsRemoved, int charsAdded);
    void reformatBlock(const QTextBlock& block);
    // The block's formats from tokens_, kept clear of an input method's
    // pre-edit text.
    void applyFormats();
    void highlightBlock(const QString& text);
    int previousBlockState() const;
    void setCurrentBlockState(int state) { currentBlock_.setUserState(state); }

    enum StateBits {
        InComment = 1,  // the line ends inside /* ... */
        InValue = 2,    // the line ends inside a value or at-rule prelude
    };
    enum class Statement { Selector, Property, Value };

    // Each scanner reads the line from position i and returns where it stopped;
    // those that colour set the formats of what they read.

    // Colours a line that starts in `state` and returns the state it leaves.
    int colourLine(QStringView line, int state);
    // The state a long line (isLongLine) leaves, read without colouring: only
    // whether it leaves a block comment open is followed.
    int plainLineState(QStringView line, int state) const;
    int blockComment(QStringView line, int i, bool& open);
    int lineComment(QStringView line, int i);
    int quotedString(QStringView line, int i);
    int interpolation(QStringView line, int i);
    int variable(QStringView line, int i);
    int atKeyword(QStringView line, int i, int& keywordEnd);
    int flag(QStringView line, int i);
    int number(QStringView line, int i);
    // Scans a value up to ';', '{' or '}' (returned, not consumed) or the end
    // of the line; sets commentOpen when the line ends in a block comment.
    int value(QStringView line, int i, bool& commentOpen);
    // Looks ahead from a statement's first character to decide what it is;
    // end is where the selector or property name ends.
    Statement classify(QStringView line, int i, int& end) const;
    // Colours [from, to) as a selector or property name, keeping
    // interpolation inside it distinct.
    void name(QStringView line, int from, int to, Token token);

    // Notes [from, to) of the current line as `token`; outside what tokens_
    // holds it does nothing.
    void colour(int from, int to, Token token);
    bool isScss() const { return highlightSyntax_ == Syntax::Scss; }

    QPointer<QTextDocument> document_;
    Syntax highlightSyntax_;
    // Indexed by Token.
    std::array<QTextCharFormat, TokenCount> formats_;
    // While a line is coloured: the line, and the Token of each of its
    // characters (NoToken for plain), up to LongLineLength of them.
    static constexpr quint8 NoToken = 0xff;
    QTextBlock currentBlock_;
    std::vector<quint8> tokens_;
    bool rehighlightPending_ = false;  // the queued first pass is yet to come
    bool inReformatBlocks_ = false;    // a pass of its own is under way
};

}  // namespace pelorin
