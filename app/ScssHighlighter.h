#pragma once

#include "SyntaxColors.h"

#include <QSyntaxHighlighter>
#include <QTextCharFormat>

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
    enum class Mode {
        Scss,  // adds // comments, $variables and #{...} interpolation
        Css,
    };

    explicit ScssHighlighter(QTextDocument* document, Mode mode = Mode::Scss,
                             const SyntaxColors& colors = SyntaxColors());

    Mode mode() const { return highlightMode; }

    // Lines longer than this stay plain; only whether they leave a block
    // comment open is followed. QSyntaxHighlighter keeps a format per
    // character, so colouring a minified stylesheet's one huge line would
    // cost tens of milliseconds on every update.
    static constexpr int MaxLineLength = 10000;

protected:
    void highlightBlock(const QString& text) override;

private:
    enum StateBits {
        InComment = 1,  // the line ends inside /* ... */
        InValue = 2,    // the line ends inside a value or at-rule prelude
    };
    enum class Statement { Selector, Property, Value };

    // The state a too-long line leaves, without colouring it.
    int plainLineState(const QChar* p, int n, int state) const;
    int blockComment(const QChar* p, int n, int i, bool& open);
    int lineComment(int i, int n);
    int quotedString(const QChar* p, int n, int i);
    int interpolation(const QChar* p, int n, int i);
    int variable(const QChar* p, int n, int i);
    int atKeyword(const QChar* p, int n, int i, int& keywordEnd);
    int flag(const QChar* p, int n, int i);
    int number(const QChar* p, int n, int i);
    // Scans a value up to ';', '{' or '}' (returned, not consumed) or the end
    // of the line; sets commentOpen when the line ends in a block comment.
    int value(const QChar* p, int n, int i, bool& commentOpen);
    // Looks ahead from a statement's first character to decide what it is;
    // end is where the selector or property name ends.
    Statement classify(const QChar* p, int n, int i, int& end) const;
    // Colours [from, to) as a selector or property name, keeping
    // interpolation inside it distinct.
    void name(const QChar* p, int from, int to, const QTextCharFormat& format);

    bool isScss() const { return highlightMode == Mode::Scss; }

    Mode highlightMode;
    QTextCharFormat commentFormat;
    QTextCharFormat stringFormat;
    QTextCharFormat variableFormat;
    QTextCharFormat atRuleFormat;
    QTextCharFormat selectorFormat;
    QTextCharFormat propertyFormat;
    QTextCharFormat numberFormat;
    QTextCharFormat hexColorFormat;
    QTextCharFormat flagFormat;
    QTextCharFormat interpolationFormat;
};

}  // namespace pelorin
