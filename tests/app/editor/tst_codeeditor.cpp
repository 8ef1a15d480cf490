#include "CodeEditor.h"
#include "SyntaxColors.h"
#include "DocumentText.h"
#include "LongLine.h"
#include "ScssHighlighter.h"

#include <QHelpEvent>
#include <QImage>
#include <QMetaProperty>
#include <QPaintEvent>
#include <QPlainTextDocumentLayout>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QToolTip>
#include <QtTest>

using pelorin::CodeEditor;
using pelorin::EditorWarning;
using pelorin::SyntaxColors;

namespace {

QString numberedLines(int count) {
    QStringList lines;
    for (int i = 1; i <= count; ++i)
        lines << QString("line %1").arg(i);
    return lines.join(u'\n');
}

// The leftmost column of the image's rows [top, bottom] with exactly this colour, or -1.
int firstColumnWith(const QImage& image, int top, int bottom, const QColor& color) {
    for (int x = 0; x < image.width(); ++x) {
        for (int y = qMax(0, top); y <= qMin(bottom, image.height() - 1); ++y) {
            if (image.pixelColor(x, y) == color)
                return x;
        }
    }
    return -1;
}

// Whether any pixel of the image's rows [top, bottom] has exactly this colour.
bool rowsContain(const QImage& image, int top, int bottom, const QColor& color) {
    for (int y = qMax(0, top); y <= qMin(bottom, image.height() - 1); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) == color)
                return true;
        }
    }
    return false;
}

// Properties of QPlainTextEdit and its bases, except those that follow from
// the gutter's margin and the icon (QIcon values never compare equal).
QVariantMap properties(const QPlainTextEdit& editor) {
    QVariantMap values;
    const QMetaObject& meta = QPlainTextEdit::staticMetaObject;
    for (int i = 0; i < meta.propertyCount(); ++i) {
        const QMetaProperty property = meta.property(i);
        const QString name = property.name();
        if (name == "sizeHint" || name == "minimumSizeHint" || name == "childrenRect" ||
            name == "childrenRegion" || name == "windowIcon")
            continue;
        values.insert(name, property.read(&editor));
    }
    return values;
}

// Names the first property whose value differs.
QString firstDifference(const QVariantMap& a, const QVariantMap& b) {
    for (auto it = a.cbegin(); it != a.cend(); ++it) {
        if (b.value(it.key()) != it.value())
            return it.key();
    }
    return a.size() == b.size() ? QString() : QString("(property count)");
}

}  // namespace

class TstCodeEditor : public QObject {
    Q_OBJECT

    // A shown editor with a font that paints exact colours.
    void showEditor(CodeEditor& editor, const QString& text) {
        QFont font("DejaVu Sans Mono", 11);
        font.setStyleStrategy(QFont::NoAntialias);
        editor.setFont(font);
        editor.setPlainText(text);
        editor.resize(400, 300);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
    }

    QWidget* gutterOf(CodeEditor& editor) {
        auto* gutter = editor.findChild<QWidget*>("gutter");
        if (!gutter)
            qFatal("no gutter");
        return gutter;
    }

    // The gutter rows that line `line` (1-based) occupies.
    std::pair<int, int> lineRows(CodeEditor& editor, int line) {
        QTextCursor cursor(editor.document()->findBlockByNumber(line - 1));
        const QRect rect = editor.cursorRect(cursor);
        return {rect.top(), rect.bottom()};
    }

private slots:
    // The editor only adds to QPlainTextEdit: every property reads as it does
    // on a plain editor, fresh and after the caller set them and the gutter
    // and error marks did their work; it always shows its vertical scroll bar
    // and, made read-only, it also selects by keyboard.
    void keepsEveryProperty() {
        QPlainTextEdit plain;
        CodeEditor editor;
        QCOMPARE(editor.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        plain.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        QCOMPARE(firstDifference(properties(editor), properties(plain)), QString());

        const auto configure = [](QPlainTextEdit& e) {
            e.setObjectName("CssEditor");
            e.setReadOnly(true);
            e.setTabChangesFocus(true);
            e.setFrameShape(QFrame::NoFrame);
            e.setFont(QFont("DejaVu Sans Mono", 13));
            QPalette palette = e.palette();
            palette.setColor(QPalette::Base, QColor(21, 21, 21));
            palette.setColor(QPalette::Text, QColor(180, 180, 180));
            e.setPalette(palette);
            e.setLineWrapMode(QPlainTextEdit::NoWrap);
            e.setPlaceholderText("nothing yet");
            e.setTabStopDistance(33);
            e.setPlainText(numberedLines(150));
            e.resize(300, 200);
        };
        configure(plain);
        configure(editor);
        QCOMPARE(editor.textInteractionFlags(), Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        plain.setTextInteractionFlags(editor.textInteractionFlags());
        editor.setErrorMark(3, 2);
        editor.goToPosition(140, 3);
        plain.setTextCursor(editor.textCursor());
        editor.grab();
        plain.grab();
        QCOMPARE(firstDifference(properties(editor), properties(plain)), QString());
        QVERIFY(editor.isReadOnly());
        QVERIFY(editor.tabChangesFocus());
    }

    void gutterSitsLeftOfTheText() {
        CodeEditor editor;
        showEditor(editor, numberedLines(20));
        QWidget* gutter = gutterOf(editor);
        QVERIFY(gutter->width() > 0);
        QCOMPARE(gutter->width(), editor.gutterWidth());
        QCOMPARE(editor.viewport()->geometry().left(), editor.contentsRect().left() + gutter->width());
        QCOMPARE(gutter->height(), editor.contentsRect().height());
    }

    // Wider for more digits, and for a larger font.
    void gutterFitsTheLineNumbers() {
        CodeEditor editor;
        showEditor(editor, numberedLines(9));
        const int twoDigits = editor.gutterWidth();
        editor.setPlainText(numberedLines(99));
        QCOMPARE(editor.gutterWidth(), twoDigits);
        editor.setPlainText(numberedLines(12345));
        const int fiveDigits = editor.gutterWidth();
        QVERIFY(fiveDigits > twoDigits);
        QCOMPARE(gutterOf(editor)->width(), fiveDigits);
        QCOMPARE(editor.viewport()->geometry().left(), editor.contentsRect().left() + fiveDigits);

        QFont larger = editor.font();
        larger.setPointSize(larger.pointSize() * 2);
        editor.setFont(larger);
        QVERIFY(editor.gutterWidth() > fiveDigits);
        QCOMPARE(gutterOf(editor)->width(), editor.gutterWidth());
    }

    // Muted numbers on the window background, the caret's line brighter, the
    // error line in the message colour.
    void gutterColours() {
        const SyntaxColors colors;
        CodeEditor editor;
        showEditor(editor, numberedLines(8));
        QTextCursor caret(editor.document()->findBlockByNumber(1));
        editor.setTextCursor(caret);
        editor.setErrorMark(4, 1);
        const QImage image = gutterOf(editor)->grab().toImage();

        QCOMPARE(image.pixelColor(0, 0), colors.gutterBackground);
        QCOMPARE(image.pixelColor(image.width() - 1, image.height() - 1), colors.gutterBackground);
        const auto [caretTop, caretBottom] = lineRows(editor, 2);
        const auto [errorTop, errorBottom] = lineRows(editor, 4);
        const auto [plainTop, plainBottom] = lineRows(editor, 6);
        QVERIFY(rowsContain(image, caretTop, caretBottom, colors.currentLineNumber));
        QVERIFY(!rowsContain(image, caretTop, caretBottom, colors.lineNumber));
        QVERIFY(rowsContain(image, errorTop, errorBottom, colors.errorLineNumber));
        QVERIFY(!rowsContain(image, errorTop, errorBottom, colors.currentLineNumber));
        QVERIFY(rowsContain(image, plainTop, plainBottom, colors.lineNumber));
        QVERIFY(!rowsContain(image, plainTop, plainBottom, colors.currentLineNumber));

        // The caret moves: so does the bright number.
        editor.goToPosition(6, 1);
        const QImage moved = gutterOf(editor)->grab().toImage();
        QVERIFY(rowsContain(moved, plainTop, plainBottom, colors.currentLineNumber));
        QVERIFY(rowsContain(moved, caretTop, caretBottom, colors.lineNumber));

        // Without the mark the error line's number is muted again.
        editor.clearErrorMark();
        const QImage cleared = gutterOf(editor)->grab().toImage();
        QVERIFY(!rowsContain(cleared, errorTop, errorBottom, colors.errorLineNumber));
        QVERIFY(rowsContain(cleared, errorTop, errorBottom, colors.lineNumber));
    }

    // Painting, scrolling, resizing and marking never touch the text.
    void gutterAndMarksLeaveTheTextAlone() {
        CodeEditor editor;
        showEditor(editor, numberedLines(400));
        editor.document()->setModified(false);
        const QString text = pelorin::documentText(*editor.document());
        const int undoSteps = editor.document()->availableUndoSteps();
        QSignalSpy textChanged(&editor, &QPlainTextEdit::textChanged);
        QSignalSpy contentsChange(editor.document(), &QTextDocument::contentsChange);

        editor.grab();
        editor.verticalScrollBar()->setValue(200);
        editor.grab();
        editor.resize(250, 500);
        editor.setErrorMark(210, 3);
        editor.goToPosition(390, 2);
        editor.grab();
        editor.clearErrorMark();
        QCoreApplication::processEvents();

        QCOMPARE(textChanged.count(), 0);
        QCOMPARE(contentsChange.count(), 0);
        QCOMPARE(pelorin::documentText(*editor.document()), text);
        QVERIFY(!editor.document()->isModified());
        QCOMPARE(editor.document()->availableUndoSteps(), undoSteps);
    }

    // The line gets a full-width background, the column a wavy underline.
    void errorMark_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("underlined");  // empty: no column mark
        const QString grin = QString::fromUtf8("\U0001F600");
        QTest::newRow("inside a line") << "abc\ndefg\nhi" << 2 << 3 << "f";
        QTest::newRow("first column") << "abc\ndefg\nhi" << 1 << 1 << "a";
        QTest::newRow("last column") << "abc\ndefg\nhi" << 3 << 2 << "i";
        QTest::newRow("past the end underlines the last") << "abc\ndefg\nhi" << 2 << 9 << "g";
        QTest::newRow("column zero") << "abc\ndefg" << 2 << 0 << "d";
        QTest::newRow("empty line") << "abc\n\nx" << 2 << 1 << "";
        QTest::newRow("surrogate pair stays whole") << "a" + grin + "b" << 1 << 2 << grin;
        QTest::newRow("second half of a pair") << "a" + grin + "b" << 1 << 3 << grin;
        QTest::newRow("tab") << "\tx" << 1 << 1 << "\t";
    }
    void errorMark() {
        QFETCH(QString, text);
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(QString, underlined);
        const SyntaxColors colors;
        CodeEditor editor;
        editor.setPlainText(text);
        editor.setErrorMark(line, column);
        QCOMPARE(editor.errorLine(), line);

        const QList<QTextEdit::ExtraSelection> marks = editor.extraSelections();
        QCOMPARE(marks.size(), underlined.isEmpty() ? 1 : 2);
        const QTextEdit::ExtraSelection& lineMark = marks.at(0);
        QCOMPARE(lineMark.cursor.blockNumber(), line - 1);
        QVERIFY(lineMark.format.boolProperty(QTextFormat::FullWidthSelection));
        QCOMPARE(lineMark.format.background().color(), colors.errorLineBackground);
        if (!underlined.isEmpty()) {
            const QTextEdit::ExtraSelection& columnMark = marks.at(1);
            QCOMPARE(columnMark.cursor.blockNumber(), line - 1);
            QCOMPARE(columnMark.cursor.selectedText(), underlined);
            QCOMPARE(columnMark.format.underlineStyle(), QTextCharFormat::WaveUnderline);
            QCOMPARE(columnMark.format.underlineColor(), colors.errorUnderline);
            QVERIFY(!columnMark.format.hasProperty(QTextFormat::BackgroundBrush));
        }

        editor.clearErrorMark();
        QVERIFY(editor.extraSelections().isEmpty());
        QCOMPARE(editor.errorLine(), 0);
    }

    void errorMarkOutsideTheTextClears_data() {
        QTest::addColumn<int>("line");
        QTest::newRow("line 0") << 0;
        QTest::newRow("negative") << -3;
        QTest::newRow("past the end") << 4;
    }
    void errorMarkOutsideTheTextClears() {
        QFETCH(int, line);
        CodeEditor editor;
        editor.setPlainText("a\nb\nc");
        editor.setErrorMark(2, 1);
        editor.setErrorMark(line, 1);
        QVERIFY(editor.extraSelections().isEmpty());
        QCOMPARE(editor.errorLine(), 0);
    }

    // The mark moves with its line when lines are added above it.
    void errorMarkFollowsEdits() {
        CodeEditor editor;
        editor.setPlainText("a\nb\nc");
        editor.setErrorMark(3, 1);
        QTextCursor cursor(editor.document());
        cursor.insertText("x\ny\n");
        QCOMPARE(editor.errorLine(), 5);
        QCOMPARE(editor.extraSelections().at(0).cursor.block().text(), QString("c"));
    }

    void goToPosition_data() {
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("block");
        QTest::addColumn<int>("inBlock");
        QTest::newRow("inside") << 3 << 2 << 2 << 1;
        QTest::newRow("start") << 1 << 1 << 0 << 0;
        QTest::newRow("end of a line") << 2 << 5 << 1 << 4;
        QTest::newRow("column past the end") << 2 << 99 << 1 << 4;
        QTest::newRow("line past the end") << 99 << 2 << 3 << 1;
        QTest::newRow("zeros") << 0 << 0 << 0 << 0;
        QTest::newRow("between the halves of a pair") << 4 << 3 << 3 << 1;
    }
    void goToPosition() {
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(int, block);
        QFETCH(int, inBlock);
        QWidget window;
        auto* other = new QPlainTextEdit(&window);
        auto* editor = new CodeEditor(&window);
        editor->move(0, 120);
        editor->setPlainText("abc\ndefg\nhij\nx" + QString::fromUtf8("\U0001F600") + "y");
        window.resize(400, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        other->setFocus();
        QVERIFY(other->hasFocus());

        editor->goToPosition(line, column);
        QCOMPARE(editor->textCursor().blockNumber(), block);
        QCOMPARE(editor->textCursor().positionInBlock(), inBlock);
        QVERIFY(!editor->textCursor().hasSelection());
        QVERIFY(editor->hasFocus());
    }

    // The caret's line is scrolled into view.
    void goToPositionScrolls() {
        CodeEditor editor;
        showEditor(editor, numberedLines(500));
        QCOMPARE(editor.verticalScrollBar()->value(), 0);
        editor.goToPosition(450, 3);
        QVERIFY(editor.verticalScrollBar()->value() > 300);
        QVERIFY(editor.viewport()->rect().contains(editor.cursorRect()));
    }

    // The error line's background lies under every row a wrapped line takes,
    // right across the view, and stops where the next line starts.
    void errorMarkCoversWrappedRows() {
        const SyntaxColors colors;
        CodeEditor editor;
        editor.setLineWrapMode(QPlainTextEdit::WidgetWidth);
        showEditor(editor, "a\n" + QString("word ").repeated(60) + "\nb");
        editor.setErrorMark(2, 1);
        const QTextBlock block = editor.document()->findBlockByNumber(1);
        QVERIFY(block.layout()->lineCount() >= 3);
        const QImage image = editor.viewport()->grab().toImage();
        const int right = image.width() - 2;
        for (int row = 0; row < block.layout()->lineCount(); ++row) {
            const QTextLine line = block.layout()->lineAt(row);
            QTextCursor at(block);
            at.setPosition(block.position() + line.textStart());
            const int y = editor.cursorRect(at).center().y();
            QCOMPARE(image.pixelColor(right, y), colors.errorLineBackground);
        }
        QTextCursor next(editor.document()->findBlockByNumber(2));
        QVERIFY(image.pixelColor(right, editor.cursorRect(next).center().y()) != colors.errorLineBackground);
        QTextCursor previous(editor.document()->findBlockByNumber(0));
        QVERIFY(image.pixelColor(right, editor.cursorRect(previous).center().y()) != colors.errorLineBackground);

        editor.clearErrorMark();
        const QImage cleared = editor.viewport()->grab().toImage();
        QTextCursor first(block);
        QVERIFY(cleared.pixelColor(right, editor.cursorRect(first).center().y()) != colors.errorLineBackground);
    }

    // `//` starts a comment in SCSS only: in CSS the brace after it still counts.
    void lineCommentsFollowTheSyntax() {
        const SyntaxColors colors;
        CodeEditor editor;
        editor.setPlainText("a {b: c; // }");
        QTextCursor caret(editor.document());
        caret.setPosition(3);
        editor.setTextCursor(caret);
        const auto marks = [&] {
            QMap<int, QColor> found;
            for (const QTextEdit::ExtraSelection& s : editor.extraSelections())
                found.insert(s.cursor.selectionStart(), s.format.background().color());
            return found;
        };
        QCOMPARE(editor.syntax(), pelorin::Syntax::Scss);
        QCOMPARE(marks(), (QMap<int, QColor>{{2, colors.bracketMismatchBackground}}));
        editor.setSyntax(pelorin::Syntax::Css);
        QCOMPARE(marks(), (QMap<int, QColor>{{2, colors.bracketMatchBackground}, {12, colors.bracketMatchBackground}}));
    }

    // One call sets how the editor reads the text and how it colours it; a
    // second call switches both, with the one highlighter the editor made.
    void highlightedSyntaxReadsAndColoursAlike() {
        const SyntaxColors colors;
        CodeEditor editor;
        editor.setHighlightedSyntax(pelorin::Syntax::Css);
        editor.setPlainText("a { b: c; } // d");
        const auto colourAt = [&](int position) {
            for (const QTextLayout::FormatRange& range : editor.document()->firstBlock().layout()->formats()) {
                if (position >= range.start && position < range.start + range.length)
                    return range.format.foreground().color();
            }
            return QColor();
        };
        const int slash = int(editor.toPlainText().indexOf("//"));
        QCOMPARE(editor.syntax(), pelorin::Syntax::Css);
        QVERIFY(colourAt(slash) != colors[pelorin::Token::Comment]);
        editor.setHighlightedSyntax(pelorin::Syntax::Scss);
        QCOMPARE(editor.syntax(), pelorin::Syntax::Scss);
        QCOMPARE(colourAt(slash), colors[pelorin::Token::Comment]);
        QCOMPARE(editor.document()->findChildren<pelorin::ScssHighlighter*>().size(), 1);
    }

    // Each line with warnings: a bar and a number in the warning colour in the
    // gutter, and the messages drawn dimmed after the end of the line's text.
    void warningsPaintedAtTheirLines() {
        const SyntaxColors colors;
        CodeEditor editor;
        showEditor(editor, "a {\n  b: c;\n}\nd {}\ne {}\nf {}");
        editor.setErrorMark(5, 1);
        editor.setWarnings({{2, 3, "WARNING: careful"}, {4, 1, "DEBUG: 2"}, {2, 9, "WARNING: again"},
                            {5, 1, "WARNING: on the error line"}});
        QCOMPARE(editor.warningLines(), QList<int>({2, 4, 5}));
        QCOMPARE(editor.warningsAt(2), QStringList({"WARNING: careful", "WARNING: again"}));
        QCOMPARE(editor.warningsAt(4), QStringList({"DEBUG: 2"}));
        QCOMPARE(editor.warningsAt(3), QStringList());

        const QImage gutter = gutterOf(editor)->grab().toImage();
        const QImage text = editor.viewport()->grab().toImage();
        for (int line : {2, 4, 5}) {
            const auto [top, bottom] = lineRows(editor, line);
            QVERIFY2(rowsContain(gutter, top, bottom, colors.warningMark), qPrintable(QString::number(line)));
            QCOMPARE(gutter.pixelColor(0, (top + bottom) / 2), colors.warningMark);
            QVERIFY2(rowsContain(text, top, bottom, colors.warningText), qPrintable(QString::number(line)));
        }
        for (int line : {1, 3, 6}) {
            const auto [top, bottom] = lineRows(editor, line);
            QVERIFY(!rowsContain(gutter, top, bottom, colors.warningMark));
            QVERIFY(!rowsContain(text, top, bottom, colors.warningText));
        }
        // The error line keeps its number in the error colour; the bar says it warns too.
        const auto [errorTop, errorBottom] = lineRows(editor, 5);
        QVERIFY(rowsContain(gutter, errorTop, errorBottom, colors.errorLineNumber));
        // The message starts after the end of the line's text.
        const auto [top, bottom] = lineRows(editor, 2);
        QTextCursor end(editor.document()->findBlockByNumber(1));
        end.movePosition(QTextCursor::EndOfBlock);
        QVERIFY(firstColumnWith(text, top, bottom, colors.warningText) > editor.cursorRect(end).right());
        QCOMPARE(pelorin::WarningMarks::inlineText(editor.warningsAt(2)),
                 QString::fromUtf8("WARNING: careful  \u00b7  WARNING: again"));
    }

    // Lines outside the text (0 for a warning that arose elsewhere) show on the first line.
    void warningsOutsideTheTextShowOnTheFirstLine_data() {
        QTest::addColumn<int>("line");
        QTest::newRow("0") << 0;
        QTest::newRow("negative") << -4;
        QTest::newRow("past the end") << 99;
    }
    void warningsOutsideTheTextShowOnTheFirstLine() {
        QFETCH(int, line);
        const SyntaxColors colors;
        CodeEditor editor;
        showEditor(editor, "a {}\nb {}\n");
        editor.setWarnings({{line, 0, "WARNING: from _partial.scss line 3"}});
        QCOMPARE(editor.warningLines(), QList<int>({1}));
        QCOMPARE(editor.warningsAt(1), QStringList({"WARNING: from _partial.scss line 3"}));
        const auto [top, bottom] = lineRows(editor, 1);
        QVERIFY(rowsContain(editor.viewport()->grab().toImage(), top, bottom, colors.warningText));
    }

    // The next warnings replace the last; none clears them, from the gutter and the text.
    void warningsReplacedAndCleared() {
        const SyntaxColors colors;
        CodeEditor editor;
        showEditor(editor, numberedLines(6));
        editor.setWarnings({{2, 1, "WARNING: a"}, {3, 1, "WARNING: b"}});
        editor.setWarnings({{3, 1, "WARNING: c"}, {6, 1, "WARNING: d"}});
        QCOMPARE(editor.warningLines(), QList<int>({3, 6}));
        QCOMPARE(editor.warningsAt(3), QStringList({"WARNING: c"}));
        const auto [top, bottom] = lineRows(editor, 2);
        QVERIFY(!rowsContain(gutterOf(editor)->grab().toImage(), top, bottom, colors.warningMark));
        QVERIFY(!rowsContain(editor.viewport()->grab().toImage(), top, bottom, colors.warningText));

        editor.clearWarnings();
        QCOMPARE(editor.warningLines(), QList<int>());
        QVERIFY(!rowsContain(gutterOf(editor)->grab().toImage(), 0, 1000, colors.warningMark));
        QVERIFY(!rowsContain(editor.viewport()->grab().toImage(), 0, 1000, colors.warningText));
    }

    // Warnings are painted, never inserted: the text, its undo history and its
    // modified flag stay as they were, and no change is signalled.
    void warningsLeaveTheTextAlone() {
        CodeEditor editor;
        showEditor(editor, numberedLines(300));
        QTest::keyClicks(&editor, "x");
        editor.document()->setModified(false);
        const QString text = pelorin::documentText(*editor.document());
        const int undoSteps = editor.document()->availableUndoSteps();
        QSignalSpy textChanged(&editor, &QPlainTextEdit::textChanged);
        QSignalSpy contentsChange(editor.document(), &QTextDocument::contentsChange);

        QList<EditorWarning> many;
        for (int i = 1; i <= 100; ++i)
            many.append({i * 3, 1, QString("WARNING: w%1").arg(i)});
        editor.setWarnings(many);
        editor.grab();
        editor.verticalScrollBar()->setValue(150);
        editor.grab();
        editor.clearWarnings();
        editor.grab();
        QCoreApplication::processEvents();

        QCOMPARE(textChanged.count(), 0);
        QCOMPARE(contentsChange.count(), 0);
        QCOMPARE(pelorin::documentText(*editor.document()), text);
        QVERIFY(!editor.document()->isModified());
        QCOMPARE(editor.document()->availableUndoSteps(), undoSteps);
    }

    // Hovering a warned line's gutter row shows the full texts; another row shows none.
    void warningToolTipOverTheGutter() {
        CodeEditor editor;
        showEditor(editor, numberedLines(6));
        const QString longText = "DEPRECATION WARNING: The operation `#fff plus 1` is deprecated and will be an "
                                 "error in future versions.\nConsider using Sass's color functions instead.";
        editor.setWarnings({{3, 1, "WARNING: careful"}, {3, 4, longText}});
        QWidget* gutter = gutterOf(editor);
        const auto [top, bottom] = lineRows(editor, 3);
        const QPoint over(gutter->width() / 2, (top + bottom) / 2);
        QHelpEvent hover(QEvent::ToolTip, over, gutter->mapToGlobal(over));
        QApplication::sendEvent(gutter, &hover);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), "WARNING: careful\n" + longText);

        const auto [otherTop, otherBottom] = lineRows(editor, 5);
        const QPoint elsewhere(gutter->width() / 2, (otherTop + otherBottom) / 2);
        QHelpEvent away(QEvent::ToolTip, elsewhere, gutter->mapToGlobal(elsewhere));
        QApplication::sendEvent(gutter, &away);
        QTRY_VERIFY(!QToolTip::isVisible());
    }

    // A warning's message too long for the room left is cut at the view's edge.
    void longWarningCutAtTheEdge() {
        const SyntaxColors colors;
        CodeEditor editor;
        showEditor(editor, "a {}\nb {}");
        editor.setWarnings({{1, 1, "WARNING: " + QString(400, u'w')}});
        const QImage text = editor.viewport()->grab().toImage();
        const auto [top, bottom] = lineRows(editor, 1);
        QVERIFY(rowsContain(text, top, bottom, colors.warningText));
        // Nothing drawn in the last few pixels: the ellipsis ends within the view.
        QImage edge = text.copy(text.width() - 4, top, 4, bottom - top + 1);
        QVERIFY(!rowsContain(edge, 0, edge.height(), colors.warningText));
    }

    // A line with no break opportunity longer than LongLineLength wraps anywhere (the
    // word-boundary search is quadratic on it); ordinary text keeps word wrap.
    // Edits repaint only what they change, and what the window shows (its
    // backing store) is then what a fresh paint of the editor and its gutter
    // gives: nothing left stale when a line wraps onto more rows, unwraps, or
    // the replaced middle of the text keeps its line count but not its rows.
    void editsRepaintWhatTheyChange_data() {
        QTest::addColumn<int>("edit");
        QTest::addColumn<bool>("small");
        QTest::newRow("a character typed") << 0 << true;
        QTest::newRow("a line grows onto more rows") << 1 << false;
        QTest::newRow("a wrapped line shrinks") << 2 << false;
        QTest::newRow("lines replaced, as many, other rows") << 3 << false;
        QTest::newRow("lines replaced, as many, same rows") << 4 << true;
        QTest::newRow("an edit below the view") << 5 << true;
        QTest::newRow("a line break typed") << 6 << false;
        QTest::newRow("the caret moves to another line") << 7 << true;
        QTest::newRow("a line wrapped anywhere grows") << 8 << false;
    }
    void editsRepaintWhatTheyChange() {
        QFETCH(int, edit);
        QFETCH(bool, small);
        QStringList lines = numberedLines(200).split(u'\n');
        lines[6] = "wrapped " + QString(120, u'w');
        if (edit == 8)
            lines[2] = QString(12000, u'l');  // long enough to wrap anywhere
        CodeEditor editor;
        editor.setCursorWidth(0);  // no blinking caret to tell the two pictures apart
        showEditor(editor, lines.join(u'\n'));
        QCoreApplication::processEvents();
        const int lineHeight = editor.fontMetrics().height();

        QRegion painted;
        struct Spy : QObject {
            QRegion* region;
            explicit Spy(QRegion* region) : region(region) {}
            bool eventFilter(QObject*, QEvent* event) override {
                if (event->type() == QEvent::Paint)
                    *region += static_cast<QPaintEvent*>(event)->region();
                return false;
            }
        } spy(&painted);
        editor.viewport()->installEventFilter(&spy);

        QTextCursor cursor(editor.document()->findBlockByNumber(3));
        switch (edit) {
        case 0:
            cursor.movePosition(QTextCursor::EndOfBlock);
            cursor.insertText("x");
            break;
        case 1:
            cursor.insertText(QString(150, u'g'));
            break;
        case 2:
            cursor = QTextCursor(editor.document()->findBlockByNumber(6));
            cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            cursor.insertText("short");
            break;
        case 3:
        case 4: {
            QStringList changed = lines;
            changed[4] = edit == 3 ? "now long " + QString(120, u'n') : "line five";
            changed[5] = "line six";
            editor.replaceChangedText(changed.join(u'\n'));
            break;
        }
        case 5:
            cursor = QTextCursor(editor.document()->findBlockByNumber(150));
            cursor.insertText(QString(150, u'b'));
            break;
        case 6:
            cursor.insertText("\n");
            break;
        case 7:
            editor.setTextCursor(cursor);  // the gutter's bright number moves with it
            break;
        case 8: {
            QCOMPARE(editor.document()->defaultTextOption().wrapMode(), QTextOption::WrapAnywhere);
            // The view shows the long line's last rows and the lines after it.
            const QTextBlock longLine = editor.document()->findBlockByNumber(2);
            editor.verticalScrollBar()->setValue(2 + longLine.layout()->lineCount() - 5);
            QCoreApplication::processEvents();
            painted = QRegion();
            cursor = QTextCursor(longLine);
            cursor.insertText(QString(400, u'g'));
            break;
        }
        }
        QCoreApplication::processEvents();
        editor.viewport()->removeEventFilter(&spy);

        const QImage shown =
            editor.screen()->grabWindow(editor.winId()).toImage().convertToFormat(QImage::Format_RGB32);
        const QImage fresh = editor.grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.size(), fresh.size());
        QVERIFY2(shown == fresh, "the window shows something else than the editor paints");
        if (small) {
            int rows = 0;
            for (const QRect& rect : painted)
                rows += rect.height();
            QVERIFY2(rows <= 3 * lineHeight, qPrintable(QString("repainted %1 rows of pixels").arg(rows)));
        }
        QCOMPARE(editor.currentText(), pelorin::documentText(*editor.document()));
    }

    // currentText() follows every kind of edit.
    void currentTextFollowsEdits() {
        CodeEditor editor;
        showEditor(editor, "a {\n  b: c;\n}");
        const auto check = [&](const char* step) {
            QVERIFY2(editor.currentText() == pelorin::documentText(*editor.document()), step);
        };
        QTextDocument& document = *editor.document();
        // Listeners of the change read the new text too, whoever made it.
        int staleReads = 0;
        connect(&editor, &QPlainTextEdit::textChanged, this, [&] {
            if (editor.currentText() != pelorin::documentText(*editor.document()))
                ++staleReads;
        });
        check("loaded");
        editor.moveCursor(QTextCursor::End);
        QTest::keyClick(&editor, Qt::Key_Return);
        QTest::keyClicks(&editor, "d { e: f; }");
        check("typed");
        QTest::keyClick(&editor, Qt::Key_Backspace);
        check("backspace");
        editor.undo();
        check("undo");
        editor.redo();
        check("redo");
        QTextCursor cursor(&document);
        cursor.setPosition(2);
        cursor.insertText(QString("x") + QChar(QChar::LineSeparator) + "y\r\nz");
        check("a line separator and CRLF inserted");
        editor.selectAll();
        editor.insertPlainText("one\ntwo");
        check("all replaced");
        editor.replaceChangedText("one\r\nthree\n");
        check("replaced in the middle");
        editor.replaceChangedText("one\r\nthere\n");
        check("replaced, as long as before");
        // Line breaks to fold where nothing else changed, beside a change, and across the end of one.
        editor.replaceChangedText("one\r\nthere\r\n");
        check("the same text with CRLF");
        QCOMPARE(editor.currentText(), QString("one\nthere\n"));
        editor.replaceChangedText(QString("one\r\nthe") + QChar(QChar::ParagraphSeparator) + "re\r\n");
        check("a paragraph separator beside CRLF");
        QCOMPARE(editor.currentText(), QString("one\nthe\nre\n"));
        editor.replaceChangedText("one\nthe\r\nre\n");
        check("CRLF where the line break was");
        QCOMPARE(document.blockCount(), 4);
        editor.setPlainText(QString());
        check("emptied");
        editor.setPlainText("again\n");
        check("set again");
        QTextDocument other;
        other.setDocumentLayout(new QPlainTextDocumentLayout(&other));
        other.setPlainText("another document");
        editor.setDocument(&other);
        check("another document");
        QTextCursor(&other).insertText("in ");
        check("edited there");
        editor.setDocument(nullptr);  // a new one of its own, before `other` goes
        check("a new document");
        QCOMPARE(staleReads, 0);
    }

    void longLinesWrapAnywhere() {
        CodeEditor editor;
        showEditor(editor, "a {\n  b: c d e;\n}");
        QCOMPARE(editor.document()->defaultTextOption().wrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
        QTextCursor cursor(editor.document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText("\n/*# sourceMappingURL=data:application/json;base64," + QString(200000, u'A') + " */");
        QCOMPARE(editor.document()->defaultTextOption().wrapMode(), QTextOption::WrapAnywhere);
        editor.grab();
        QVERIFY(editor.document()->lastBlock().layout()->lineCount() > 100);
        // The editor's own setting reads as the caller left it.
        QCOMPARE(editor.wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);

        // Shorter edits elsewhere keep it; removing the long line brings word wrap back.
        cursor.setPosition(2);
        cursor.insertText(" ");
        QCOMPARE(editor.document()->defaultTextOption().wrapMode(), QTextOption::WrapAnywhere);
        cursor.movePosition(QTextCursor::End);
        cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        QCOMPARE(editor.document()->defaultTextOption().wrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);

        // Text loaded whole, and a caller's own mode, which is left alone.
        editor.setPlainText(QString(30000, u'x'));
        QCOMPARE(editor.document()->defaultTextOption().wrapMode(), QTextOption::WrapAnywhere);
        CodeEditor noWrap;
        noWrap.setLineWrapMode(QPlainTextEdit::NoWrap);
        noWrap.setPlainText(QString(30000, u'x'));
        QCOMPARE(noWrap.document()->defaultTextOption().wrapMode(), QTextOption::NoWrap);
        CodeEditor wordWrap;
        wordWrap.setWordWrapMode(QTextOption::WordWrap);
        wordWrap.setPlainText(QString(30000, u'x'));
        QCOMPARE(wordWrap.document()->defaultTextOption().wrapMode(), QTextOption::WordWrap);
    }

    // An emptied output view comes back at the block it showed at its top,
    // also when lines above it wrapped onto several rows, with its selection.
    void emptiedOutputComesBackWhereItWas_data() {
        QTest::addColumn<bool>("wrapped");
        QTest::newRow("short lines") << false;
        QTest::newRow("wrapped lines above") << true;
    }
    void emptiedOutputComesBackWhereItWas() {
        QFETCH(bool, wrapped);
        CodeEditor editor;
        editor.setReadOnly(true);
        showEditor(editor, QString());
        QStringList lines;
        for (int i = 0; i < 600; ++i)
            lines << (wrapped && i % 3 == 0 ? QString("line %1 ").arg(i) + QString("word ").repeated(30)
                                            : QString("line %1").arg(i));
        const QString text = lines.join(u'\n');
        editor.showOutput(text);
        // Scrolled down as a reader does, so the lines above were laid out.
        QScrollBar* bar = editor.verticalScrollBar();
        while (editor.firstShownBlock().blockNumber() < 300) {
            bar->setValue(bar->value() + 5);
            editor.grab();
        }
        const int top = editor.firstShownBlock().blockNumber();
        const int scrolled = bar->value();
        QTextCursor selection(editor.document()->findBlockByNumber(top + 2));
        selection.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        editor.setTextCursor(selection);
        bar->setValue(scrolled);

        editor.showOutput(QString());
        QCOMPARE(editor.toPlainText(), QString());
        editor.grab();
        editor.showOutput(text);
        editor.grab();
        QCOMPARE(editor.toPlainText(), text);
        QCOMPARE(editor.firstShownBlock().blockNumber(), top);
        if (!wrapped)
            QCOMPARE(bar->value(), scrolled);
        QCOMPARE(editor.textCursor().selectedText(), lines.at(top + 2));
    }

    // A long line's wrap mode (see LongLineWrap) survives an emptied output view.
    void emptiedOutputKeepsALongLinesWrap() {
        CodeEditor editor;
        editor.setReadOnly(true);
        showEditor(editor, QString());
        const QString text = "a {}\n" + QString(pelorin::LongLineLength + 1, u'x');
        editor.showOutput(text);
        QCOMPARE(editor.document()->defaultTextOption().wrapMode(), QTextOption::WrapAnywhere);
        editor.showOutput(QString());
        editor.showOutput(text);
        QCOMPARE(editor.document()->defaultTextOption().wrapMode(), QTextOption::WrapAnywhere);
        QCOMPARE(editor.currentText(), text);
    }

    // The wrap and the highlighter measure a line alike: a line of exactly
    // LongLineLength characters is coloured whole and word-wrapped, one more
    // wraps anywhere and is coloured only up to the limit.
    void longLineLimitIsOneForWrapAndColour() {
        CodeEditor editor;
        editor.setHighlightedSyntax(pelorin::Syntax::Css);
        QString line = "a{";
        while (line.size() < pelorin::LongLineLength)
            line += "color:#fff;";
        line.truncate(pelorin::LongLineLength);
        editor.setPlainText(line + "\nb{}");
        QCOMPARE(editor.document()->defaultTextOption().wrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
        const auto colouredTo = [&editor] {
            int end = 0;
            for (const QTextLayout::FormatRange& range : editor.document()->firstBlock().layout()->formats())
                end = qMax(end, range.start + range.length);
            return end;
        };
        QVERIFY(colouredTo() > pelorin::LongLineLength - 12);
        editor.setPlainText(line + "#fff;\nb{}");  // a colour past the limit
        QCOMPARE(editor.document()->defaultTextOption().wrapMode(), QTextOption::WrapAnywhere);
        QVERIFY(colouredTo() > pelorin::LongLineLength - 12);
        QVERIFY(colouredTo() <= pelorin::LongLineLength);
    }
};

QTEST_MAIN(TstCodeEditor)
#include "tst_codeeditor.moc"
