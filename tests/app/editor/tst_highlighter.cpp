#include "LongLine.h"
#include "ScssHighlighter.h"
#include "SyntaxColors.h"
#include "DocumentText.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QtTest>

using pelorin::ScssHighlighter;
using pelorin::SyntaxColors;
using Mode = pelorin::Syntax;

Q_DECLARE_METATYPE(pelorin::Syntax)

namespace {

// The colour a token class is drawn in; an invalid colour for plain text.
QColor tokenColor(const QString& token) {
    if (token == "plain")
        return QColor();
    for (const pelorin::TokenColor& row : SyntaxColors().tokens) {
        if (token == row.name)
            return row.color;
    }
    qFatal("unknown token class %s", qPrintable(token));
}

// Foreground the highlighter gave the character at a document position.
QColor colorAt(const QTextDocument& doc, int position) {
    const QTextBlock block = doc.findBlock(position);
    const int column = position - block.position();
    for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
        if (column >= range.start && column < range.start + range.length)
            return range.format.hasProperty(QTextFormat::ForegroundBrush) ? range.format.foreground().color()
                                                                          : QColor();
    }
    return QColor();
}

// Name of the token class for a colour, for readable failures.
QString tokenName(const QColor& color) {
    for (const pelorin::TokenColor& row : SyntaxColors().tokens) {
        if (row.color == color)
            return row.name;
    }
    return color.isValid() ? color.name() : QString("plain");
}

}  // namespace

class TstHighlighter : public QObject {
    Q_OBJECT

private slots:
    // Each row: a text, a unique piece of it and the class every character of
    // that piece is drawn as.
    void tokens_data() {
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("piece");
        QTest::addColumn<QString>("token");
        const Mode scss = Mode::Scss;
        const Mode css = Mode::Css;

        // clang-format off
        QTest::newRow("line comment") << scss << "a { b: c; } // note" << "// note" << "comment";
        QTest::newRow("line comment after a value") << scss << "a { b: 1px // note\n}" << "// note" << "comment";
        QTest::newRow("block comment") << scss << "/* x */ a { }" << "/* x */" << "comment";
        QTest::newRow("code after a block comment") << scss << "/* x */ a { }" << "a" << "selector";
        QTest::newRow("block comment in a value") << scss << "a { b: 1px /* n */ 2px; }" << "/* n */" << "comment";
        QTest::newRow("url keeps //") << scss << "a { b: url(http://x.y/z.png); }" << "http://x.y/z.png" << "string";
        QTest::newRow("double-quoted string") << scss << "@import \"base\";" << "\"base\"" << "string";
        QTest::newRow("single-quoted string") << scss << "a { content: 'x;y'; }" << "'x;y'" << "string";
        QTest::newRow("escaped quote") << scss << "a { content: \"x\\\"y\"; }" << "\"x\\\"y\"" << "string";
        QTest::newRow("string around interpolation") << scss << "$s: \"hi #{$x} there\";" << "\"hi " << "string";
        QTest::newRow("interpolation in a string") << scss << "$s: \"hi #{$x} there\";" << "#{" << "interpolation";
        QTest::newRow("variable in interpolation") << scss << "$s: \"hi #{$x} there\";" << "$x" << "variable";
        QTest::newRow("string after interpolation") << scss << "$s: \"hi #{$x} there\";" << " there\"" << "string";
        QTest::newRow("variable declaration") << scss << "$primary-color: #333 !default;" << "$primary-color" << "variable";
        QTest::newRow("variable in a value") << scss << "a { color: $link_2; }" << "$link_2" << "variable";
        QTest::newRow("!default") << scss << "$a: 1 !default;" << "!default" << "flag";
        QTest::newRow("!global") << scss << "@if true { $a: 2 !global; }" << "!global" << "flag";
        QTest::newRow("!important") << scss << "a { color: red !important; }" << "!important" << "flag";
        QTest::newRow("! important") << css << "a { color: red ! important; }" << "! important" << "flag";
        QTest::newRow("interpolated selector") << scss << ".icon-#{$name} { }" << ".icon-" << "selector";
        QTest::newRow("interpolation in a selector") << scss << ".icon-#{$name} { }" << "#{" << "interpolation";
        QTest::newRow("variable in a selector") << scss << ".icon-#{$name} { }" << "$name" << "variable";
        QTest::newRow("interpolated property") << scss << "a { #{$side}-width: 1px; }" << "-width" << "property";
        QTest::newRow("@mixin") << scss << "@mixin button($a) { }" << "@mixin" << "atRule";
        QTest::newRow("@include") << scss << "a { @include button(1px); }" << "@include" << "atRule";
        QTest::newRow("@content") << scss << "@mixin m { @content; }" << "@content" << "atRule";
        QTest::newRow("@if") << scss << "@if $a == 1 { } @else if $a { } @else { }" << "@if" << "atRule";
        QTest::newRow("@else if") << scss << "@if $a == 1 { } @else if $a { } @else { }" << "@else if" << "atRule";
        QTest::newRow("@each") << scss << "@each $key, $value in $map { }" << "@each" << "atRule";
        QTest::newRow("@each variables") << scss << "@each $key, $value in $map { }" << "$value" << "variable";
        QTest::newRow("@for") << scss << "@for $i from 1 through 3 { }" << "@for" << "atRule";
        QTest::newRow("@for bound") << scss << "@for $i from 1 through 3 { }" << "3" << "number";
        QTest::newRow("@while") << scss << "@while $i > 0 { }" << "@while" << "atRule";
        QTest::newRow("@function") << scss << "@function double($n) { @return $n * 2; }" << "@function" << "atRule";
        QTest::newRow("@return") << scss << "@function double($n) { @return $n * 2; }" << "@return" << "atRule";
        QTest::newRow("@media") << scss << "@media (min-width: 768px) { }" << "@media" << "atRule";
        QTest::newRow("@media length") << scss << "@media (min-width: 768px) { }" << "768px" << "number";
        QTest::newRow("@use") << scss << "@use \"sass:math\";" << "@use" << "atRule";
        QTest::newRow("@extend") << scss << "a { @extend %message-shared; }" << "@extend" << "atRule";
        QTest::newRow("@extend target") << scss << "a { @extend %message-shared; }" << "%message-shared" << "selector";
        QTest::newRow("type selector") << scss << "h1 { }" << "h1" << "selector";
        QTest::newRow("selector list") << scss << "a > b, .c #d:hover { }" << "a > b, .c #d:hover" << "selector";
        QTest::newRow("parent selector") << scss << "a { &:hover { } }" << "&:hover" << "selector";
        QTest::newRow("parent suffix") << scss << "a { &-title { } }" << "&-title" << "selector";
        QTest::newRow("placeholder") << scss << "%btn { }" << "%btn" << "selector";
        QTest::newRow("attribute selector") << scss << "input[type=text] { }" << "input[type=text]" << "selector";
        QTest::newRow("selector list over lines") << scss << "ul li a:hover,\nb { }" << "ul li a:hover," << "selector";
        QTest::newRow("keyframe selector") << css << "@keyframes k { 50% { top: 0; } }" << "50%" << "selector";
        QTest::newRow("property") << scss << "a {\n  color: red;\n}" << "color" << "property";
        QTest::newRow("property value is plain") << scss << "a {\n  color: red;\n}" << "red" << "plain";
        QTest::newRow("vendor property") << scss << "a { -webkit-box-shadow: none; }" << "-webkit-box-shadow" << "property";
        QTest::newRow("nested property") << scss << "a { font: { family: x; } }" << "font" << "property";
        QTest::newRow("property inside nested property") << scss << "a { font: { family: x; } }" << "family" << "property";
        QTest::newRow("unit") << scss << "a { b: 1.5em; }" << "1.5em" << "number";
        QTest::newRow("leading dot") << scss << "a { b: .5s; }" << ".5s" << "number";
        QTest::newRow("negative") << scss << "a { b: -2px; }" << "-2px" << "number";
        QTest::newRow("percent") << scss << "a { b: 100%; }" << "100%" << "number";
        QTest::newRow("name with digits is no number") << scss << "a { grid-area: col-2; }" << "col-2" << "plain";
        QTest::newRow("short hex colour") << scss << "a { color: #fff; }" << "#fff" << "hexColor";
        QTest::newRow("long hex colour") << scss << "a { color: #e1a1c1; }" << "#e1a1c1" << "hexColor";
        QTest::newRow("hex with alpha") << scss << "a { color: #e1a1c180; }" << "#e1a1c180" << "hexColor";
        QTest::newRow("five hex digits") << scss << "a { color: #abcde; }" << "#abcde" << "plain";
        QTest::newRow("map key over lines") << scss << "$map: (\n  primary: #333,\n  'sm': 576px\n);" << "primary" << "plain";
        QTest::newRow("map value over lines") << scss << "$map: (\n  primary: #333,\n  'sm': 576px\n);" << "576px" << "number";
        QTest::newRow("value continued") << scss << "a {\n  transition: a 1s,\n    bb 2s;\n  top: 0;\n}" << "bb" << "plain";
        QTest::newRow("after a continued value") << scss << "a {\n  transition: a 1s,\n    bb 2s;\n  top: 0;\n}" << "top" << "property";
        QTest::newRow("CSS selector") << css << "a.b:hover {\n  margin: 0 1px;\n}" << "a.b:hover" << "selector";
        QTest::newRow("CSS property") << css << "a.b:hover {\n  margin: 0 1px;\n}" << "margin" << "property";
        QTest::newRow("CSS number") << css << "a.b:hover {\n  margin: 0 1px;\n}" << "1px" << "number";
        QTest::newRow("compressed selector") << css << "a{color:red}b:hover{margin:0 1px}" << "b:hover" << "selector";
        QTest::newRow("compressed property") << css << "a{color:red}b:hover{margin:0 1px}" << "margin" << "property";
        QTest::newRow("compressed number") << css << "a{color:red}b:hover{margin:0 1px}" << "1px" << "number";
        QTest::newRow("CSS comment") << css << "/* x */\na { }" << "/* x */" << "comment";
        QTest::newRow("CSS has no $ variables") << css << "a { b: $x; }" << "$x" << "plain";
        QTest::newRow("CSS has no // comments") << css << "a { b: c; } //x" << "//x" << "plain";
        QTest::newRow("CSS string") << css << "a { content: \"#{x}\"; }" << "\"#{x}\"" << "string";
        QTest::newRow("CSS @charset") << css << "@charset \"UTF-8\";" << "@charset" << "atRule";
        // clang-format on
    }
    void tokens() {
        QFETCH(Mode, mode);
        QFETCH(QString, text);
        QFETCH(QString, piece);
        QFETCH(QString, token);
        const int at = int(text.indexOf(piece));
        QVERIFY2(at >= 0 && text.indexOf(piece, at + 1) < 0, "the piece must occur once");
        QTextDocument doc;
        doc.setPlainText(text);
        ScssHighlighter highlighter(&doc, mode);
        highlighter.rehighlight();
        const QColor want = tokenColor(token);
        for (int i = at; i < at + piece.size(); ++i) {
            if (text.at(i).isSpace())
                continue;
            const QColor got = colorAt(doc, i);
            QVERIFY2(got == want, qPrintable(QString("character %1 ('%2'): %3, expected %4")
                                                 .arg(i - at)
                                                 .arg(text.at(i))
                                                 .arg(tokenName(got), token)));
        }
    }

    // A block comment spans lines, and opening or closing it re-colours the
    // lines after it.
    void blockCommentAcrossLines() {
        QPlainTextEdit editor;  // a document with a layout reports its edits
        QTextDocument& doc = *editor.document();
        doc.setPlainText("a { b: c; }\n/*.one\n$x: 1px;\nthree */ h1 { }\nh2 { }");
        ScssHighlighter highlighter(&doc);
        // Attaching highlights once the event loop runs; edits before that
        // are left to that pass.
        QCoreApplication::processEvents();
        auto at = [&doc](int line, int column) {
            return colorAt(doc, doc.findBlockByNumber(line).position() + column);
        };
        const QColor comment = tokenColor("comment");
        const QColor selector = tokenColor("selector");
        QCOMPARE(at(0, 0), selector);
        QCOMPARE(at(1, 0), comment);
        QCOMPARE(at(2, 0), comment);
        QCOMPARE(at(2, 4), comment);
        QCOMPARE(at(3, 6), comment);
        QCOMPARE(at(3, 9), selector);
        QCOMPARE(at(4, 0), selector);

        // Breaking the closing "*/" leaves the comment open to the end.
        QTextCursor cursor(doc.findBlockByNumber(3));
        cursor.setPosition(cursor.position() + 7);
        cursor.deleteChar();
        QCOMPARE(at(3, 8), comment);
        QCOMPARE(at(4, 0), comment);

        // Removing the opening "/*" turns the lines back into code.
        cursor.setPosition(doc.findBlockByNumber(1).position());
        cursor.deleteChar();
        cursor.deleteChar();
        QCOMPARE(at(1, 0), tokenColor("selector"));
        QCOMPARE(at(2, 0), tokenColor("variable"));
        QCOMPARE(at(2, 4), tokenColor("number"));
        QCOMPARE(at(4, 0), selector);
    }

    void lineCommentDoesNotContinue() {
        QTextDocument doc;
        doc.setPlainText("// a /* b\nh1 { }");
        ScssHighlighter highlighter(&doc);
        highlighter.rehighlight();
        QCOMPARE(colorAt(doc, doc.findBlockByNumber(1).position()), tokenColor("selector"));
    }

    // Highlighting changes formats only: the text, the modified flag and the
    // undo history stay as they were, and every change the document reports
    // removes and adds the same characters. A whole-document pass (attaching
    // to a document with text, rehighlight()) runs in an edit block of its own,
    // so the document still emits contentsChanged and with it the editor's
    // textChanged; a textChanged handler must compare the text to see a real
    // change.
    void highlightingIsNoTextChange_data() {
        QTest::addColumn<Mode>("mode");
        QTest::newRow("SCSS") << Mode::Scss;
        QTest::newRow("CSS") << Mode::Css;
    }
    void highlightingIsNoTextChange() {
        QFETCH(Mode, mode);
        QPlainTextEdit editor;
        const QString text = QString::fromUtf8("/* a\n b */\n$x: 1px !default;\na {\n  color: #fff;\u00a0\n}\n");
        editor.setPlainText(text);
        editor.document()->setModified(false);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        const int undoSteps = editor.document()->availableUndoSteps();
        QSignalSpy textChanged(&editor, &QPlainTextEdit::textChanged);
        QSignalSpy contentsChanged(editor.document(), &QTextDocument::contentsChanged);
        QSignalSpy contentsChange(editor.document(), &QTextDocument::contentsChange);
        QSignalSpy modification(editor.document(), &QTextDocument::modificationChanged);
        QSignalSpy undo(editor.document(), &QTextDocument::undoCommandAdded);

        auto* highlighter = new ScssHighlighter(editor.document(), mode);
        QCoreApplication::processEvents();  // the first pass runs queued
        highlighter->rehighlight();
        highlighter->rehighlightBlock(editor.document()->findBlockByNumber(3));
        editor.grab();
        delete highlighter;

        QCOMPARE(pelorin::documentText(*editor.document()), text);
        QCOMPARE(modification.count(), 0);
        QCOMPARE(undo.count(), 0);
        QVERIFY(!editor.document()->isModified());
        QCOMPARE(editor.document()->availableUndoSteps(), undoSteps);
        QVERIFY(contentsChange.count() > 0);
        for (const QList<QVariant>& change : contentsChange)
            QCOMPARE(change.at(1).toInt(), change.at(2).toInt());
        // Attach pass, rehighlight(), rehighlightBlock() and detaching each
        // emit one contentsChanged, which is all textChanged ever saw.
        QCOMPARE(contentsChanged.count(), 4);
        QCOMPARE(textChanged.count(), contentsChanged.count());
    }

    // Attached before the text arrives, the highlighter works inside each
    // edit: one textChanged per edit, exactly as without it, even when an
    // edit re-colours the lines after it.
    void oneTextChangePerEdit() {
        QPlainTextEdit editor;
        auto* highlighter = new ScssHighlighter(editor.document());
        Q_UNUSED(highlighter);
        QCoreApplication::processEvents();
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QSignalSpy textChanged(&editor, &QPlainTextEdit::textChanged);

        editor.setPlainText("a {\n  color: red;\n}\n$x: 1px;\n");
        QCOMPARE(textChanged.count(), 1);
        QCOMPARE(colorAt(*editor.document(), 0), tokenColor("selector"));

        editor.moveCursor(QTextCursor::Start);
        QTest::keyClicks(&editor, "/* ");
        QCOMPARE(textChanged.count(), 4);
        const QTextDocument& doc = *editor.document();
        QCOMPARE(colorAt(doc, doc.findBlockByNumber(3).position()), tokenColor("comment"));
        QTest::keyClicks(&editor, "*/");
        QCOMPARE(textChanged.count(), 6);
        QCOMPARE(colorAt(doc, doc.findBlockByNumber(3).position()), tokenColor("variable"));
    }

    // A line beyond the length limit is coloured up to the limit and plain
    // beyond it, and still passes on an open block comment.
    void overlongLineStaysPlain_data() {
        QTest::addColumn<QString>("before");  // on the long line, before its declarations
        QTest::addColumn<QString>("after");   // on the long line, after them
        QTest::addColumn<bool>("nextInComment");
        // clang-format off
        QTest::newRow("code") << "a{" << "}" << false;
        QTest::newRow("opens a comment") << "a{" << "} /* open" << true;
        QTest::newRow("opens and closes") << "/* x */ a{" << "} /* y */" << false;
        QTest::newRow("inside a comment, closes") << "/*" << "*/ b{}" << false;
        QTest::newRow("comment marks in a line comment") << "a{" << "} // /*" << false;
        // clang-format on
    }
    void overlongLineStaysPlain() {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(bool, nextInComment);
        QString declarations;
        while (declarations.size() <= pelorin::LongLineLength)
            declarations += "color:#fff;";
        QTextDocument doc;
        doc.setPlainText(before + declarations + after + "\nh1 {}");
        ScssHighlighter highlighter(&doc);
        highlighter.rehighlight();
        int colouredTo = 0;
        for (const QTextLayout::FormatRange& range : doc.firstBlock().layout()->formats())
            colouredTo = qMax(colouredTo, range.start + range.length);
        QVERIFY2(colouredTo > pelorin::LongLineLength - 20 && colouredTo <= pelorin::LongLineLength,
                 qPrintable(QString::number(colouredTo)));
        QCOMPARE(tokenName(colorAt(doc, doc.lastBlock().position())), QString(nextInComment ? "comment" : "selector"));
    }

    void lineAtTheLimitIsColoured() {
        QString line = "a{";
        while (line.size() < pelorin::LongLineLength)
            line += "color:#fff;";
        line.truncate(pelorin::LongLineLength);
        QTextDocument doc;
        doc.setPlainText(line);
        ScssHighlighter highlighter(&doc, Mode::Css);
        highlighter.rehighlight();
        QCOMPARE(colorAt(doc, 0), tokenColor("selector"));
        QCOMPARE(colorAt(doc, pelorin::LongLineLength - 4), tokenColor("hexColor"));
    }

    // Every token class has its own colour, distinct from the background.
    void schemeColoursAreDistinct() {
        const SyntaxColors colors;
        const auto& tokens = colors.tokens;
        QCOMPARE(tokens.size(), pelorin::TokenCount);
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            QVERIFY(tokens[i].color != colors.gutterBackground);
            QCOMPARE(colors[pelorin::Token(i)], tokens[i].color);
            for (std::size_t j = i + 1; j < tokens.size(); ++j)
                QVERIFY2(tokens[i].color != tokens[j].color,
                         qPrintable(QString("%1 and %2").arg(tokens[i].name, tokens[j].name)));
        }
    }

    // Arbitrary text made of token starts, cut anywhere: every format lies
    // inside its line, and the text is untouched.
    void survivesArbitraryText_data() {
        QTest::addColumn<Mode>("mode");
        QTest::newRow("SCSS") << Mode::Scss;
        QTest::newRow("CSS") << Mode::Css;
    }
    void survivesArbitraryText() {
        QFETCH(Mode, mode);
        // clang-format off
        const QStringList pieces{"/*", "*/", "//", "\"", "'", "\\", "#{", "}", "{", "$", "@", "@else", " if",
                                 "!", "#", "#fff", "1", ".", "-", "+", "%", "url(", ")", "(", ":", ";", ",",
                                 "&", "a", "@extend", " ", "\t", "\n", QString::fromUtf8("\u00e9"),
                                 QString(QChar(0xd83d)), QString(QChar(0xde00))};
        // clang-format on
        QRandomGenerator random(20261210);
        for (int round = 0; round < 200; ++round) {
            QString text;
            const int count = int(random.bounded(1, 80));
            for (int i = 0; i < count; ++i)
                text += pieces.at(int(random.bounded(pieces.size())));
            QTextDocument doc;
            doc.setPlainText(text);
            const QString stored = doc.toRawText();
            ScssHighlighter highlighter(&doc, mode);
            highlighter.rehighlight();
            QCOMPARE(doc.toRawText(), stored);
            for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
                for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
                    QVERIFY2(range.start >= 0 && range.length > 0 && range.start + range.length <= block.length() - 1,
                             qPrintable(text));
                }
            }
        }
    }
};

QTEST_MAIN(TstHighlighter)
#include "tst_highlighter.moc"
