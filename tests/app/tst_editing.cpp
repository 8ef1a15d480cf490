#include "CodeEditor.h"
#include "LongLine.h"
#include "Options.h"
#include "PelorinForm.h"
#include "SyntaxColors.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTextBlock>
#include <QWheelEvent>
#include <QtTest>

using pelorin::CodeEditor;
using pelorin::PelorinForm;

namespace {

// Where '|' stands in `text`, and the text without it; "[" and "]" stand for
// a selection's start and end instead.
struct Marked {
    QString text;
    int anchor = 0;
    int position = 0;
};

Marked marked(QString text) {
    Marked m;
    const qsizetype caret = text.indexOf(u'|');
    if (caret >= 0) {
        text.remove(caret, 1);
        m.anchor = m.position = int(caret);
    } else {
        const qsizetype start = text.indexOf(u'[');
        text.remove(start, 1);
        const qsizetype end = text.indexOf(u']');
        text.remove(end, 1);
        m.anchor = int(start);
        m.position = int(end);
    }
    m.text = text;
    return m;
}

}  // namespace

class TstEditing : public QObject {
    Q_OBJECT

    PelorinForm* form = nullptr;
    CodeEditor* sass = nullptr;
    CodeEditor* css = nullptr;

    // Replaces the SCSS text, with a fresh undo history, and puts the caret or
    // selection as marked.
    void setSource(const QString& markedText) {
        const Marked m = marked(markedText);
        sass->setPlainText(m.text);
        QTextCursor cursor = sass->textCursor();
        cursor.setPosition(m.anchor);
        cursor.setPosition(m.position, QTextCursor::KeepAnchor);
        sass->setTextCursor(cursor);
    }
    QString text(const QPlainTextEdit* editor) const { return editor->toPlainText(); }

    // The bracket marks among the editor's extra selections: position -> matched.
    QMap<int, bool> bracketMarks(const CodeEditor* editor) const {
        const pelorin::SyntaxColors colors;
        QMap<int, bool> marks;
        for (const QTextEdit::ExtraSelection& s : editor->extraSelections()) {
            const QColor background = s.format.background().color();
            if (background == colors.bracketMatchBackground || background == colors.bracketMismatchBackground)
                marks.insert(s.cursor.selectionStart(), background == colors.bracketMatchBackground);
        }
        return marks;
    }

    // Runs a command, then checks it was one text change: one conversion, one undo step.
    void checkOneEdit(const std::function<void()>& command, const QString& expected) {
        const QString before = text(sass);
        const int conversions = form->conversionCount();
        command();
        QCOMPARE(text(sass), expected);
        QCOMPARE(form->conversionCount(), conversions + (expected == before ? 0 : 1));
        if (expected == before)
            return;
        sass->undo();
        QCOMPARE(text(sass), before);
        sass->redo();
        QCOMPARE(text(sass), expected);
    }

private slots:
    void init() {
        options = VantorCompiler::CompilerOptions();
        form = new PelorinForm;
        sass = form->findChild<CodeEditor*>("SassEditor");
        css = form->findChild<CodeEditor*>("CssEditor");
        QVERIFY(sass && css);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        sass->setFocus();
    }
    void cleanup() {
        delete form;
        form = nullptr;
    }

    // The example of a new user: every keystroke one conversion, the text exact.
    void typingARuleIndents() {
        setSource("|");
        const int before = form->conversionCount();
        QTest::keyClicks(sass, ".a {");
        QTest::keyClick(sass, Qt::Key_Return);
        QTest::keyClicks(sass, "b: c;");
        QTest::keyClick(sass, Qt::Key_Return);
        QTest::keyClicks(sass, "}");
        QCOMPARE(text(sass), QString(".a {\n    b: c;\n}"));
        QCOMPARE(form->conversionCount(), before + 4 + 1 + 5 + 1 + 1);
        QCOMPARE(text(css), QString(".a {\n    b: c;\n}\n"));
    }

    void enterKeepsIndentation_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no indentation") << "a: b;|" << "a: b;\n|";
        QTest::newRow("spaces kept") << "  a: b;|" << "  a: b;\n  |";
        QTest::newRow("tabs kept") << "\t\ta: b;|" << "\t\ta: b;\n\t\t|";
        QTest::newRow("after a brace four spaces") << "    &:hover {|" << "    &:hover {\n        |";
        QTest::newRow("after a brace on a tab line a tab") << "\t.a {|" << "\t.a {\n\t\t|";
        QTest::newRow("trailing blanks after the brace") << ".a { \t|" << ".a { \t\n    |";
        QTest::newRow("text before the caret counts") << ".a {|}" << ".a {\n    |}";
        QTest::newRow("caret inside the indentation") << "  |  x" << "  \n  |  x";
        QTest::newRow("brace further back does not count") << ".a { b|" << ".a { b\n|";
        QTest::newRow("selection replaced") << "  a[bc]d" << "  a\n  |d";
    }
    void enterKeepsIndentation() {
        QFETCH(QString, source);
        QFETCH(QString, expected);
        setSource(source);
        const Marked after = marked(expected);
        int caret = -1;
        checkOneEdit(
            [&] {
                QTest::keyClick(sass, Qt::Key_Return);
                caret = sass->textCursor().position();
            },
            after.text);
        QCOMPARE(caret, after.position);
    }

    void closingBraceOutdents_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("expected");
        QTest::newRow("four spaces") << ".a {\n    b: c;\n    |" << ".a {\n    b: c;\n}";
        QTest::newRow("six spaces lose four") << "      |" << "  }";
        QTest::newRow("two spaces") << "  |" << "}";
        QTest::newRow("tab") << "\t\t|" << "\t}";
        QTest::newRow("not the first non-blank") << "    a|" << "    a}";
        QTest::newRow("line start") << "|" << "}";
        QTest::newRow("inside a line") << "  a { |" << "  a { }";
    }
    void closingBraceOutdents() {
        QFETCH(QString, source);
        QFETCH(QString, expected);
        setSource(source);
        checkOneEdit([this] { QTest::keyClicks(sass, "}"); }, expected);
    }

    // Pasted text goes in exactly as it is, with no indentation added.
    void pasteIsNotReindented() {
        setSource("    .a {|");
        QGuiApplication::clipboard()->setText("\nb: c;\n  }\n}");
        checkOneEdit([this] { QTest::keyClick(sass, Qt::Key_V, Qt::ControlModifier); }, "    .a {\nb: c;\n  }\n}");
    }

    // Ctrl+V puts the clipboard's text in as one edit, line breaks as the
    // document's own, with the caret after it; a long line is not cut.
    void pasteGoesInExactly_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("expected");
        const QString longLine = "a{b:url(data:" + QString(2 * pelorin::LongLineLength, u'Q') + ")}";
        // clang-format off
        QTest::newRow("over a selection") << "a [b] c" << "x\ny" << "a x\ny| c";
        QTest::newRow("Windows and old Mac line breaks") << "|" << "a\r\nb\rc" << "a\nb\nc|";
        QTest::newRow("tabs and trailing blanks") << "|" << "\ta: b; \n" << "\ta: b; \n|";
        QTest::newRow("long line over everything") << "[a { b: c; }]" << longLine << longLine + "|";
        // clang-format on
    }
    void pasteGoesInExactly() {
        QFETCH(QString, source);
        QFETCH(QString, clipboard);
        QFETCH(QString, expected);
        setSource(source);
        QGuiApplication::clipboard()->setText(clipboard);
        const Marked after = marked(expected);
        int caret = -1;
        checkOneEdit(
            [&] {
                QTest::keyClick(sass, Qt::Key_V, Qt::ControlModifier);
                caret = sass->textCursor().position();
            },
            after.text);
        QCOMPARE(caret, after.position);
    }

    // A pasted rule of a long line: both editors hold its text exactly, copy
    // gives it back whole, and the lines after it still get their marks.
    void longLineTextCopyAndMarks() {
        QString data;
        while (data.size() <= 2 * pelorin::LongLineLength)
            data += "iVBORw0KGgo+/AAA//=";
        const QString rule = "a{b:url(data:image/png;base64," + data + ")}";
        setSource("|");
        QGuiApplication::clipboard()->setText(rule);
        QTest::keyClick(sass, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(text(sass), rule);
        QVERIFY(text(css).contains("url(data:image/png;base64," + data + ")"));
        sass->selectAll();
        sass->copy();
        QCOMPARE(QGuiApplication::clipboard()->text(), rule);
        css->selectAll();
        css->copy();
        QCOMPARE(QGuiApplication::clipboard()->text(), text(css));

        sass->moveCursor(QTextCursor::End);
        QTest::keyClick(sass, Qt::Key_Return);
        QTest::keyClicks(sass, "@warn \"w\";");
        QCOMPARE(sass->warningLines(), QList<int>{2});
        QTest::keyClick(sass, Qt::Key_Return);
        QTest::keyClicks(sass, "b { c: $nope; }");
        QCOMPARE(sass->errorLine(), 3);
        QCOMPARE(text(sass), rule + "\n@warn \"w\";\nb { c: $nope; }");
    }

    void toggleLineComment_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("expected");
        QTest::newRow("caret line") << "a {\n  b: |c;\n}" << "a {\n  // b: c;\n}";
        QTest::newRow("caret line removes") << "a {\n  // b: |c;\n}" << "a {\n  b: c;\n}";
        QTest::newRow("without the space") << "  //b|" << "  b";
        QTest::newRow("selection, smallest indentation, blank skipped")
            << "a {\n    [b: c;\n\n  d {\n      e: f;]\n  }\n}"
            << "a {\n  //   b: c;\n\n  // d {\n  //     e: f;\n  }\n}";
        QTest::newRow("selection all commented removes") << "[// a\n  // b\n//c]" << "a\n  b\nc";
        QTest::newRow("some commented adds to all") << "[// a\nb]" << "// // a\n// b";
        QTest::newRow("selection ending at a line start leaves it") << "[a\nb\n]c" << "// a\n// b\nc";
        QTest::newRow("tabs") << "\t[a\n\t\tb]" << "\t// a\n\t// \tb";
        QTest::newRow("blank line only") << "a\n  |\nb" << "a\n  \nb";
    }
    void toggleLineComment() {
        QFETCH(QString, source);
        QFETCH(QString, expected);
        setSource(source);
        checkOneEdit([this] { QTest::keyClick(sass, Qt::Key_Slash, Qt::ControlModifier); }, expected);
    }

    void indentAndOutdent_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("indent");
        QTest::addColumn<QString>("expected");
        QTest::newRow("indent caret line") << "a\nb|c\nd" << true << "a\n    bc\nd";
        QTest::newRow("indent a tab line") << "\tb|" << true << "\t\tb";
        QTest::newRow("indent selection, blank line stays") << "[a\n\nb]" << true << "    a\n\n    b";
        QTest::newRow("outdent four") << "      a|" << false << "  a";
        QTest::newRow("outdent fewer") << "  a|" << false << "a";
        QTest::newRow("outdent a tab") << "\t\ta|" << false << "\ta";
        QTest::newRow("outdent selection") << "[    a\n\tb\nc]" << false << "a\nb\nc";
        QTest::newRow("outdent nothing to take") << "a|" << false << "a";
    }
    void indentAndOutdent() {
        QFETCH(QString, source);
        QFETCH(bool, indent);
        QFETCH(QString, expected);
        setSource(source);
        const Qt::Key key = indent ? Qt::Key_BracketRight : Qt::Key_BracketLeft;
        checkOneEdit([this, key] { QTest::keyClick(sass, key, Qt::ControlModifier); }, expected);
    }

    // Tab still inserts a tab character, in the middle of a line too.
    void tabInsertsATab() {
        setSource("a|b");
        checkOneEdit([this] { QTest::keyClick(sass, Qt::Key_Tab); }, "a\tb");
    }

    // The read-only CSS editor takes none of the editing keys.
    void cssEditorIsNotEdited() {
        const QString before = text(css);
        const int conversions = form->conversionCount();
        css->setFocus();
        QTextCursor caret = css->textCursor();
        caret.setPosition(10);
        css->setTextCursor(caret);
        for (const auto& [key, modifiers] : {std::pair{Qt::Key_Slash, Qt::ControlModifier},
                                             std::pair{Qt::Key_BracketRight, Qt::ControlModifier},
                                             std::pair{Qt::Key_BracketLeft, Qt::ControlModifier},
                                             std::pair{Qt::Key_Return, Qt::NoModifier}})
            QTest::keyClick(css, key, modifiers);
        QTest::keyClicks(css, "}");
        QCOMPARE(text(css), before);
        QCOMPARE(form->conversionCount(), conversions);
    }

    void tabsAreFourCharactersWide() {
        for (CodeEditor* editor : {sass, css}) {
            const qreal space = QFontMetricsF(editor->font()).horizontalAdvance(u' ');
            QCOMPARE(editor->tabStopDistance(), 4 * space);
        }
        // A tab-indented property starts where four spaces end.
        setSource("a {\n\tb: c;\n}\n.x {\n    b: c;\n}|");
        const QTextBlock tabbed = sass->document()->findBlockByNumber(1);
        const QTextBlock spaced = sass->document()->findBlockByNumber(4);
        QTextCursor afterTab(tabbed);
        afterTab.setPosition(tabbed.position() + 1);
        QTextCursor afterSpaces(spaced);
        afterSpaces.setPosition(spaced.position() + 4);
        QCOMPARE(sass->cursorRect(afterTab).left(), sass->cursorRect(afterSpaces).left());
    }

    void zoom_data() {
        QTest::addColumn<QString>("editor");
        QTest::newRow("SCSS") << "SassEditor";
        QTest::newRow("CSS") << "CssEditor";
    }
    void zoom() {
        QFETCH(QString, editor);
        auto* e = form->findChild<CodeEditor*>(editor);
        const qreal points = e->font().pointSizeF();
        const QString sassText = text(sass);
        const QString cssText = text(css);
        const int conversions = form->conversionCount();
        e->setFocus();
        const auto tabIsFourSpaces = [e] {
            return qFuzzyCompare(e->tabStopDistance(), 4 * QFontMetricsF(e->font()).horizontalAdvance(u' '));
        };

        QTest::keyClick(e, Qt::Key_Equal, Qt::ControlModifier);
        QCOMPARE(e->font().pointSizeF(), points + 1);
        QTest::keyClick(e, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(e->font().pointSizeF(), points + 2);
        QVERIFY(tabIsFourSpaces());
        QTest::keyClick(e, Qt::Key_Minus, Qt::ControlModifier);
        QTest::keyClick(e, Qt::Key_Minus, Qt::ControlModifier);
        QTest::keyClick(e, Qt::Key_Minus, Qt::ControlModifier);
        QCOMPARE(e->font().pointSizeF(), points - 1);
        QVERIFY(tabIsFourSpaces());
        QTest::keyClick(e, Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(e->font().pointSizeF(), points);
        QCOMPARE(e->font(), form->findChild<CodeEditor*>(editor == "SassEditor" ? "CssEditor" : "SassEditor")->font());

        // Ctrl+wheel: one step per notch, either way; a plain wheel only scrolls.
        const QPointF at(20, 20);
        const auto wheel = [e, at](int delta, Qt::KeyboardModifiers modifiers) {
            QWheelEvent event(at, e->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                              Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(e->viewport(), &event);
        };
        wheel(120, Qt::ControlModifier);
        QCOMPARE(e->font().pointSizeF(), points + 1);
        wheel(-240, Qt::ControlModifier);
        QCOMPARE(e->font().pointSizeF(), points - 1);
        wheel(120, Qt::NoModifier);
        QCOMPARE(e->font().pointSizeF(), points - 1);
        QVERIFY(tabIsFourSpaces());
        QTest::keyClick(e, Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(e->font().pointSizeF(), points);

        QCOMPARE(text(sass), sassText);
        QCOMPARE(text(css), cssText);
        QCOMPARE(form->conversionCount(), conversions);
    }

    void bracketMatching_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QList<int>>("matched");
        QTest::addColumn<QList<int>>("unmatched");
        using L = QList<int>;
        QTest::newRow("after an opening brace") << ".a {| b: c; }" << L{3, 11} << L{};
        QTest::newRow("before an opening brace") << ".a |{ b: c; }" << L{3, 11} << L{};
        QTest::newRow("after a closing brace") << ".a { b: c; }|" << L{3, 11} << L{};
        QTest::newRow("nested") << "a { b: f((1)|, [2]); }" << L{9, 11} << L{};
        QTest::newRow("outer paren") << "a { b: f(|(1), [2]); }" << L{8, 17} << L{};
        QTest::newRow("square") << "a { b: [2]|; }" << L{7, 9} << L{};
        QTest::newRow("unclosed") << ".a {| b: c;" << L{} << L{3};
        QTest::newRow("unopened") << "b: c; }|" << L{} << L{6};
        QTest::newRow("wrong kind") << "a(b]|" << L{} << L{3};
        QTest::newRow("string brackets skipped") << "a { b: \"}\"; }|" << L{2, 12} << L{};
        QTest::newRow("inside a string") << "a { b: \"(|\" }" << L{} << L{};
        QTest::newRow("block comment skipped") << "a {| /* } */ }" << L{2, 12} << L{};
        QTest::newRow("line comment skipped") << "a {| // }\n}" << L{2, 9} << L{};
        QTest::newRow("url keeps its slashes") << "a { b: url(|http://x/y) }" << L{10, 21} << L{};
        // One Sass name, as the highlighter reads it too: no url(), so // starts a comment.
        QTest::newRow("name ending in url") << "a { b: \u00b7url(|//x) }\n}" << L{} << L{11};
        QTest::newRow("no bracket") << "a|b" << L{} << L{};
        QTest::newRow("closing before the caret wins") << "f(a)|(b)" << L{1, 3} << L{};
        QTest::newRow("between two closing") << "f((1)|)" << L{2, 4} << L{};
        const QString data(2 * pelorin::LongLineLength, u'Q');
        QTest::newRow("across a long line") << "a{b:url(data:" + data + ")}|" << L{1, int(data.size()) + 14} << L{};
    }
    void bracketMatching() {
        QFETCH(QString, source);
        QFETCH(QList<int>, matched);
        QFETCH(QList<int>, unmatched);
        setSource(source);
        const QMap<int, bool> marks = bracketMarks(sass);
        QList<int> gotMatched, gotUnmatched;
        for (auto it = marks.cbegin(); it != marks.cend(); ++it)
            (it.value() ? gotMatched : gotUnmatched).append(it.key());
        QCOMPARE(gotMatched, matched);
        QCOMPARE(gotUnmatched, unmatched);
        const pelorin::SyntaxColors colors;
        for (const QTextEdit::ExtraSelection& s : sass->extraSelections()) {
            if (s.format.background().color() == colors.bracketMismatchBackground)
                QCOMPARE(s.format.foreground().color(), colors.bracketMismatch);
        }
    }

    // Both editors; the marks follow the caret and leave the text alone.
    void bracketMatchingInTheCssEditor() {
        const QString before = text(css);
        const int open = int(before.indexOf(u'{'));
        const int close = int(before.indexOf(u'}'));
        QTextCursor caret = css->textCursor();
        caret.setPosition(open + 1);
        css->setTextCursor(caret);
        QCOMPARE(bracketMarks(css), (QMap<int, bool>{{open, true}, {close, true}}));
        caret.setPosition(1);
        css->setTextCursor(caret);
        QVERIFY(bracketMarks(css).isEmpty());
        QCOMPARE(text(css), before);
    }

    // The marks do not disturb the error mark: it stays first.
    void bracketMarksAndErrorMark() {
        setSource("a {\n  b: $nope;\n}|");
        QCOMPARE(sass->errorLine(), 2);
        const QList<QTextEdit::ExtraSelection> marks = sass->extraSelections();
        QVERIFY(marks.size() >= 3);
        QVERIFY(marks.at(0).format.boolProperty(QTextFormat::FullWidthSelection));
        QCOMPARE(bracketMarks(sass), (QMap<int, bool>{{2, true}, {16, true}}));
    }

    // After indenting or commenting, a selection of whole lines still covers them whole.
    void selectionStaysOnWholeLines_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("selected");
        QTest::newRow("indent") << int(Qt::Key_BracketRight) << "    a\n    b";
        QTest::newRow("comment") << int(Qt::Key_Slash) << "// a\n// b";
    }
    void selectionStaysOnWholeLines() {
        QFETCH(int, key);
        QFETCH(QString, selected);
        setSource("[a\nb]\nc");
        QTest::keyClick(sass, Qt::Key(key), Qt::ControlModifier);
        QCOMPARE(sass->textCursor().selectedText(), QString(selected).replace(u'\n', QChar::ParagraphSeparator));
        QCOMPARE(sass->textCursor().position(), int(selected.size()));
    }
};

QTEST_MAIN(TstEditing)
#include "tst_editing.moc"
