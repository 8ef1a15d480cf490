#pragma once

#include "Syntax.h"
#include "SyntaxColors.h"

#include <QStringView>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include <array>

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
// Attach it before the text arrives: QSyntaxHighlighter colours a document
// that already has text in a queued pass, as an edit block of its own that
// emits contentsChanged (and so the editor's textChanged) once; text set
// after attaching is coloured inside that edit, with no extra signal.
class ScssHighlighter : public QSyntaxHighlighter {
    Q_OBJECT

public:
    explicit ScssHighlighter(QTextDocument* document, Syntax syntax = Syntax::Scss,
                             const SyntaxColors& colors = SyntaxColors());

    Syntax syntax() const { return highlightSyntax_; }
    // Reads the text as another syntax from now on, and colours it again.
    void setSyntax(Syntax value);

protected:
    void highlightBlock(const QString& text) override;

private:
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

    void colour(int from, int to, Token token) { setFormat(from, to - from, formats_[std::size_t(token)]); }
    bool isScss() const { return highlightSyntax_ == Syntax::Scss; }

    Syntax highlightSyntax_;
    // Indexed by Token.
    std::array<QTextCharFormat, TokenCount> formats_;
};

}  // namespace pelorin
