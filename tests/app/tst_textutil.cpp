#include "CodeEditor.h"
#include "DocumentText.h"
#include "SecondsText.h"
#include "TextPosition.h"

#include <sass.h>

#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>

#include <climits>
#include <cstring>

using pelorin::documentText;
using pelorin::secondsText;

namespace {

const QString Bom(QChar(0xfeff));

QString numberedLines(int count, const QString& prefix) {
    QString text;
    for (int i = 1; i <= count; ++i)
        text += prefix + QString::number(i) + u'\n';
    return text;
}

}  // namespace

class TstTextUtil : public QObject {
    Q_OBJECT

private slots:
    void seconds_data() {
        QTest::addColumn<int>("ms");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << "en_US" << "0";
        QTest::newRow("15") << 15 << "en_US" << "0.015";
        QTest::newRow("999") << 999 << "en_US" << "0.999";
        QTest::newRow("1000") << 1000 << "en_US" << "1";
        QTest::newRow("1500") << 1500 << "en_US" << "1.5";
        QTest::newRow("no grouping") << 1234567 << "en_US" << "1234.567";
        QTest::newRow("seven digits") << 123456789 << "en_US" << "123456.8";
        QTest::newRow("German 15") << 15 << "de_DE" << "0,015";
        QTest::newRow("German no grouping") << 1234567 << "de_DE" << "1234,567";
        QTest::newRow("C locale") << 2 << "C" << "0.002";
    }
    void seconds() {
        QFETCH(int, ms);
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QCOMPARE(secondsText(ms, QLocale(locale)), text);
    }

    void documentTextKeepsNoBreakSpaces() {
        QTextDocument doc;
        doc.setPlainText(QString::fromUtf8("a {\n  content: \"x\u00a0y\";\n}"));
        QCOMPARE(pelorin::documentText(doc), QString::fromUtf8("a {\n  content: \"x\u00a0y\";\n}"));
        doc.setPlainText(QString());
        QCOMPARE(pelorin::documentText(doc), QString());
    }

    // The document ends up holding the new text, through one edit that starts
    // after the common prefix, keeps surrogate pairs whole and leaves no undo.
    void replaceChangedText_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("editAt");  // position of the one edit, -1 for none
        const QString grin = QString::fromUtf8("\U0001F600");           // D83D DE00
        const QString grinning = QString::fromUtf8("\U0001F601");       // D83D DE01
        const QString linearB = QString::fromUtf8("\U00010000");        // D800 DC00
        const QString deseret = QString::fromUtf8("\U00010400");        // D801 DC00
        QTest::newRow("same") << "a {\n}\n" << "a {\n}\n" << -1;
        QTest::newRow("insert in the middle") << "abc" << "abXc" << 2;
        QTest::newRow("insert at the start") << "abc" << "Xabc" << 0;
        QTest::newRow("append") << "abc" << "abcX" << 3;
        QTest::newRow("delete in the middle") << "abXc" << "abc" << 2;
        QTest::newRow("delete at the end") << "abc\n" << "abc" << 3;
        QTest::newRow("whole replacement") << "abc" << "xyz" << 0;
        QTest::newRow("empty to text") << "" << "a {\n  b: c;\n}\n" << 0;
        QTest::newRow("text to empty") << "a {\n  b: c;\n}\n" << "" << 0;
        QTest::newRow("lines added, repeated") << "a\na\n" << "a\na\na\n" << 4;
        QTest::newRow("lines removed, repeated") << "a\na\na\n" << "a\na\n" << 4;
        QTest::newRow("overlap grow") << "aa" << "aaa" << 2;
        QTest::newRow("overlap shrink") << "aaa" << "aa" << 2;
        QTest::newRow("changed line") << "a {\n  color: red;\n}\n" << "a {\n  color: blue;\n}\n" << 13;
        QTest::newRow("lines changed, as many") << "a {\n  b: 1px;\n  c: 2;\n  d: 3px;\n}\n"
                                                << "a {\n  b: 10px;\n  c: 2;\n  d: 30px;\n}\n" << 10;
        QTest::newRow("lines changed, one more") << "a {\n  b: 1px;\n  d: 3px;\n}\n"
                                                 << "a {\n  b: 10px;\n  c: 2;\n  d: 30px;\n}\n" << 10;
        QTest::newRow("lines changed, the first one empty in the middle") << "ab\ncd\nef" << "abX\ncdY\nef" << 2;
        QTest::newRow("lines changed, the last one empty in the middle") << "ab\ncd\nef" << "Xab\nYcd\nef" << 0;
        QTest::newRow("lines changed, a pair at a line's end") << "a" + grin + "\nb\nc" + grin
                                                               << "a" + grinning + "\nb\nc" + grinning << 1;
        QTest::newRow("accent at the cut") << QString::fromUtf8("caf\u00e9s") << "cafes" << 3;
        QTest::newRow("accent added") << "naive" << QString::fromUtf8("na\u00efve") << 2;
        QTest::newRow("no-break space kept") << QString::fromUtf8("x\u00a0y") << QString::fromUtf8("x\u00a0z")
                                             << 2;
        QTest::newRow("pair differs in its low half") << "x" + grin + "y" << "x" + grinning + "y" << 1;
        QTest::newRow("pair differs in its high half") << "a" + linearB + "b" << "a" + deseret + "b" << 1;
        QTest::newRow("pair removed") << "a" + grin + grin + "b" << "a" + grin + "b" << 3;
        QTest::newRow("pair added after a pair") << grin + "b" << grin + grin + "b" << 2;
        QTest::newRow("pair replaced by its neighbour") << grin + grinning << grinning + grinning << 0;
        QTest::newRow("text after a pair") << grin + "a" << grin + "b" << 2;
    }
    void replaceChangedText() {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(int, editAt);
        pelorin::CodeEditor editor;
        editor.setReadOnly(true);
        editor.setPlainText(before);
        editor.document()->setUndoRedoEnabled(true);
        QCOMPARE(documentText(*editor.document()), before);
        QSignalSpy textChanged(&editor, &QPlainTextEdit::textChanged);
        QSignalSpy edits(editor.document(), &QTextDocument::contentsChange);

        editor.replaceChangedText(after);

        QCOMPARE(documentText(*editor.document()), after);
        QCOMPARE(textChanged.count(), editAt < 0 ? 0 : 1);
        QCOMPARE(edits.count(), editAt < 0 ? 0 : 1);
        if (editAt >= 0) {
            QCOMPARE(edits.first().at(0).toInt(), editAt);
            // Neither end of the replaced range lies inside a surrogate pair.
            const auto splitsPair = [](const QString& text, int at) {
                return at > 0 && at < text.size() && text.at(at).isLowSurrogate() && text.at(at - 1).isHighSurrogate();
            };
            const int removedEnd = editAt + edits.first().at(1).toInt();
            const int addedEnd = editAt + edits.first().at(2).toInt();
            QVERIFY(!splitsPair(before, editAt) && !splitsPair(after, editAt));
            QVERIFY(!splitsPair(before, removedEnd) && !splitsPair(after, addedEnd));
        }
        QVERIFY(!editor.document()->isUndoAvailable());
        QVERIFY(editor.document()->isUndoRedoEnabled());
    }

    // Many small random texts, each replaced by another: line breaks, pairs
    // and repeats put the changed middle's ends everywhere (a line's start or
    // end, beside a break, inside a run of equal characters).
    void replaceChangedTextRandomPairs() {
        const QString grin = QString::fromUtf8("\U0001F600");
        const QStringList pieces{"a", "b", "\n", grin, "\n\n"};
        QRandomGenerator random(20261210);
        const auto randomText = [&] {
            QString text;
            for (int i = int(random.bounded(9)); i > 0; --i)
                text += pieces.at(int(random.bounded(pieces.size())));
            return text;
        };
        pelorin::CodeEditor editor;
        for (int round = 0; round < 3000; ++round) {
            const QString before = randomText();
            const QString after = randomText();
            editor.setPlainText(before);
            editor.replaceChangedText(after);
            QVERIFY2(documentText(*editor.document()) == after,
                     qPrintable(QString("%1 -> %2").arg(before.toHtmlEscaped(), after.toHtmlEscaped())));
        }
    }

    // When the changed middle has as many lines as before, the lines in it that
    // did not change keep their blocks (and with them their layout and
    // highlighting): only the changed lines are edited.
    void replaceChangedTextKeepsTheLinesBetween() {
        pelorin::CodeEditor editor;
        editor.setPlainText("a {\n  b: 1px;\n  c: 2;\n  d: 3px;\n}");
        struct Mark : QTextBlockUserData {};
        QTextBlock between = editor.document()->findBlockByNumber(2);
        between.setUserData(new Mark);
        editor.replaceChangedText("a {\n  b: 10px;\n  c: 2;\n  d: 30px;\n}");
        QCOMPARE(documentText(*editor.document()), QString("a {\n  b: 10px;\n  c: 2;\n  d: 30px;\n}"));
        QVERIFY(editor.document()->findBlockByNumber(2).userData() != nullptr);
    }

    void replaceChangedTextSettlesLineBreaks_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("stored");
        QTest::newRow("CRLF") << "a\nb" << "a\r\nb\r\n" << "a\nb\n";
        QTest::newRow("lone CR") << "a\nb" << "a\rb\rc" << "a\nb\nc";
        QTest::newRow("line separator") << "a" << QString::fromUtf8("a\u2028b") << "a\nb";
        QTest::newRow("paragraph separator") << "a" << QString::fromUtf8("a\u2029b") << "a\nb";
    }
    void replaceChangedTextSettlesLineBreaks() {
        QFETCH(QString, before);
        QFETCH(QString, after);
        QFETCH(QString, stored);
        pelorin::CodeEditor editor;
        editor.setPlainText(before);
        editor.replaceChangedText(after);
        QCOMPARE(documentText(*editor.document()), stored);
        // A second pass with the same text finds nothing to change.
        QSignalSpy textChanged(&editor, &QPlainTextEdit::textChanged);
        editor.replaceChangedText(after);
        QCOMPARE(textChanged.count(), 0);
    }

    // The reader's place in the output survives a change elsewhere; a whole
    // setPlainText() would reset both.
    void replaceChangedTextKeepsScrollAndSelection_data() {
        QTest::addColumn<int>("changedLine");
        QTest::addColumn<QString>("replacement");
        QTest::newRow("below the view") << 280 << "x: changed;";
        QTest::newRow("above the view, same line count") << 5 << "x: changed and longer;";
        QTest::newRow("below the view, lines added") << 250 << "x: 1;\nx: 2;\nx: 3;";
        QTest::newRow("below the view, line emptied") << 250 << "";
    }
    void replaceChangedTextKeepsScrollAndSelection() {
        QFETCH(int, changedLine);
        QFETCH(QString, replacement);
        pelorin::CodeEditor editor;
        editor.setReadOnly(true);
        editor.resize(320, 240);
        const QString before = numberedLines(300, "line: ");
        editor.setPlainText(before);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));

        QScrollBar* scroll = editor.verticalScrollBar();
        scroll->setValue(120);
        QCOMPARE(scroll->value(), 120);
        QTextCursor selection(editor.document()->findBlockByNumber(125));
        selection.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        editor.setTextCursor(selection);
        QCOMPARE(editor.textCursor().selectedText(), QString("line: 126"));
        QCOMPARE(scroll->value(), 120);

        QStringList lines = before.split(u'\n');
        lines[changedLine - 1] = replacement;
        const QString after = lines.join(u'\n');
        editor.replaceChangedText(after);
        QCoreApplication::processEvents();

        QCOMPARE(documentText(*editor.document()), after);
        QCOMPARE(scroll->value(), 120);
        QCOMPARE(editor.textCursor().selectedText(), QString("line: 126"));
    }

    // Edits that do not come from replaceChangedText() itself: the next
    // replacement still starts from what the document holds then.
    void replaceChangedTextAfterOtherEdits_data() {
        QTest::addColumn<QString>("edit");
        QTest::newRow("setPlainText") << "setPlainText";
        QTest::newRow("typed through a cursor") << "cursor";
        QTest::newRow("cleared") << "clear";
        QTest::newRow("document replaced") << "setDocument";
    }
    void replaceChangedTextAfterOtherEdits() {
        QFETCH(QString, edit);
        pelorin::CodeEditor editor;
        editor.replaceChangedText("a {\n  b: c;\n}\n");
        QTextDocument other;
        if (edit == "setPlainText") {
            editor.setPlainText("x {\n  b: c;\n}\n");
        } else if (edit == "cursor") {
            QTextCursor cursor(editor.document());
            cursor.setPosition(6);
            cursor.insertText("zz");
        } else if (edit == "clear") {
            editor.document()->clear();
        } else {
            other.setDocumentLayout(new QPlainTextDocumentLayout(&other));
            other.setPlainText("q");
            editor.setDocument(&other);
        }
        editor.replaceChangedText("a {\n  b: d;\n}\n");
        QCOMPARE(documentText(*editor.document()), QString("a {\n  b: d;\n}\n"));
        editor.replaceChangedText("a {\n  b: c;\n}\n");
        QCOMPARE(documentText(*editor.document()), QString("a {\n  b: c;\n}\n"));
        if (edit == "setDocument") {
            // The editor must not keep a dangling document.
            editor.setDocument(nullptr);
        }
    }

    // Positions libsass reports in the trimmed text, mapped to the editor's text.
    void mapTrimmedPosition_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("editorLine");
        QTest::addColumn<int>("editorColumn");
        QTest::newRow("nothing trimmed") << "a{b:c}}" << 1 << 7 << 1 << 7;
        QTest::newRow("second line, nothing trimmed") << "a{}\nb{c:$d}" << 2 << 5 << 2 << 5;
        QTest::newRow("leading newlines") << "\n\na{b:c}}" << 1 << 7 << 3 << 7;
        QTest::newRow("leading spaces") << "   a{b:c}}" << 1 << 7 << 1 << 10;
        QTest::newRow("leading tab") << "\ta{b:c}}" << 1 << 7 << 1 << 8;
        QTest::newRow("newlines then indent") << "\n \n\t a{}\nb}" << 1 << 1 << 3 << 3;
        QTest::newRow("later line keeps its column") << "\n \n\t a{}\n b}" << 2 << 2 << 4 << 2;
        QTest::newRow("no-break space trimmed") << QString::fromUtf8("\u00a0a}") << 1 << 2 << 1 << 3;
        QTest::newRow("other Unicode spaces") << QString::fromUtf8("\u2003\u3000\na}") << 1 << 2 << 2 << 2;
        QTest::newRow("tab inside counts one") << "a\tb" << 1 << 3 << 1 << 3;
        QTest::newRow("accent counts one") << QString::fromUtf8("  \u00e9\u00e9x") << 1 << 3 << 1 << 5;
        QTest::newRow("pair counts two") << QString::fromUtf8("\U0001F600x") << 1 << 2 << 1 << 3;
        QTest::newRow("pairs on a later line")
            << QString::fromUtf8("\n\na\n\U0001F600\U0001F600$y") << 2 << 3 << 4 << 5;
        QTest::newRow("lone high surrogate counts one") << QString(QChar(0xd800)) + "x" << 1 << 2 << 1 << 2;
        QTest::newRow("CRLF lines") << "\r\n\r\na{\r\n}}" << 2 << 2 << 4 << 2;
        QTest::newRow("lone CR is no line break") << "a\rb}" << 1 << 4 << 1 << 4;
        QTest::newRow("end of the line") << "  ab\ncd" << 1 << 3 << 1 << 5;
        QTest::newRow("column past the line's end") << "  ab\ncd" << 1 << 50 << 1 << 5;
        QTest::newRow("line past the end") << "\nab\ncd  \n\n" << 9 << 1 << 3 << 3;
        QTest::newRow("line zero") << "\n  ab" << 0 << 0 << 2 << 3;
        QTest::newRow("negative") << "\n  ab" << -5 << -7 << 2 << 3;
        QTest::newRow("huge") << "\n  ab\nc" << INT_MAX << INT_MAX << 3 << 2;
        QTest::newRow("empty text") << "" << 1 << 1 << 1 << 1;
        QTest::newRow("only white space") << "  \n " << 1 << 1 << 2 << 2;
        // libsass skips a byte-order mark that starts its text; any other U+FEFF is a character.
        // (QString::fromUtf8 would drop a leading one, hence Bom.)
        QTest::newRow("byte-order mark") << Bom + "a{b:c}}" << 1 << 7 << 1 << 8;
        QTest::newRow("byte-order mark after trimmed space") << "\n  " + Bom + "a}" << 1 << 2 << 2 << 5;
        QTest::newRow("byte-order mark, later line") << Bom + "a\n" + Bom + "b}" << 2 << 3 << 2 << 3;
        QTest::newRow("only a byte-order mark") << " " + Bom + " " << 1 << 1 << 1 << 3;
        // Seen from libsass: a column far beyond the end of a 60,003-character line.
        QTest::newRow("column far past a long line") << QString(60003, u'x') + "\nb" << 1 << 3355278 << 1 << 60004;
        QTest::newRow("column past the last line's end, trailing space")
            << QString(" ab  \n") << 1 << 9 << 1 << 4;
    }
    void mapTrimmedPosition() {
        QFETCH(QString, text);
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(int, editorLine);
        QFETCH(int, editorColumn);
        const pelorin::TextPosition position = pelorin::mapTrimmedPosition(text, line, column);
        QCOMPARE(position.line, editorLine);
        QCOMPARE(position.column, editorColumn);
        // Many at once map each the same.
        const QList<pelorin::TextPosition> batch =
            pelorin::mapTrimmedPositions(text, {{line, column}, {1, 1}, {line, column}});
        QCOMPARE(batch.size(), 3);
        for (qsizetype i : {0, 2}) {
            QCOMPARE(batch.at(i).line, editorLine);
            QCOMPARE(batch.at(i).column, editorColumn);
        }
        QCOMPARE(batch.at(1).line, pelorin::mapTrimmedPosition(text, 1, 1).line);
        QCOMPARE(batch.at(1).column, pelorin::mapTrimmedPosition(text, 1, 1).column);
    }

    // libsass's own positions, taken from the trimmed UTF-8 text as the
    // program hands it over, land on the offending token of the untrimmed text.
    void mapTrimmedPositionMatchesLibsass_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("token");
        QTest::newRow("plain") << "a { b: c; }\n$x: $y;" << "$y";
        QTest::newRow("leading lines and spaces") << "\n\n   \n  a{b:c}\n $x: $y;\n\n" << "$y";
        QTest::newRow("error on the first line") << "\n\n    \t$x: $y;" << "$y";
        QTest::newRow("accents before") << QString::fromUtf8("\n  /* \u00e9\u00e9\u00e9 */ $x: $y;") << "$y";
        QTest::newRow("pairs before") << QString::fromUtf8("\n /* \U0001F600\U0001F600 */ $x: $y;") << "$y";
        QTest::newRow("CRLF") << "\r\n  a{b:c}\r\n\t$x: $y;" << "$y";
        QTest::newRow("unbalanced brace") << QString::fromUtf8("\n\n  a { b: c\u00e9 ; } }") << " }";
        QTest::newRow("byte-order mark") << Bom + "$x: $y;" << "$y";
        QTest::newRow("byte-order mark after blank lines") << "\n\n" + Bom + "  a{b:c}\n$x: $y;" << "$y";
        QTest::newRow("byte-order mark, error on its line") << "\n" + Bom + "\t$x: $y;" << "$y";
    }
    void mapTrimmedPositionMatchesLibsass() {
        QFETCH(QString, text);
        QFETCH(QString, token);
        const QByteArray trimmed = text.trimmed().toUtf8();
        Sass_Data_Context* data = sass_make_data_context(sass_copy_c_string(trimmed.constData()));
        Sass_Context* context = sass_data_context_get_context(data);
        sass_compile_data_context(data);
        QVERIFY(sass_context_get_error_status(context) != 0);
        const int line = int(sass_context_get_error_line(context));
        const int column = int(sass_context_get_error_column(context));
        sass_delete_data_context(data);

        const pelorin::TextPosition position = pelorin::mapTrimmedPosition(text, line, column);
        const QStringList lines = text.split(u'\n');
        QVERIFY(position.line >= 1 && position.line <= lines.size());
        QCOMPARE(lines.at(position.line - 1).mid(position.column - 1, token.size()), token);
    }

    // Whatever the input, the result lies inside the text: a line of it and a
    // column up to one past that line's end.
    void mapTrimmedPositionStaysInside() {
        const QList<QString> texts{"",
                                   " ",
                                   "\n",
                                   "\n\n",
                                   "a",
                                   "  a\n b \n",
                                   QString(QChar(0xdc00)),
                                   QString(QChar(0xd800)),
                                   QString::fromUtf8("\n\U0001F600\n\U0001F600x  "),
                                   QString(QChar(0xd83d)) + "\n" + QChar(0xde00),
                                   "\r\n\r\n \t\f\va\r\n",
                                   " " + Bom + "a\n" + Bom + "\nb "};
        const QList<int> values{INT_MIN, -1, 0, 1, 2, 3, 4, 7, 1000, INT_MAX};
        QList<pelorin::TextPosition> all;
        for (int line : values) {
            for (int column : values)
                all.append({line, column});
        }
        for (const QString& text : texts) {
            const QStringList lines = text.split(u'\n');
            // Many at once agree with one at a time.
            const QList<pelorin::TextPosition> batch = pelorin::mapTrimmedPositions(text, all);
            QCOMPARE(batch.size(), all.size());
            for (qsizetype i = 0; i < all.size(); ++i) {
                const pelorin::TextPosition one = pelorin::mapTrimmedPosition(text, all.at(i).line, all.at(i).column);
                QVERIFY2(batch.at(i).line == one.line && batch.at(i).column == one.column, qPrintable(text));
            }
            for (int line : values) {
                for (int column : values) {
                    const pelorin::TextPosition position = pelorin::mapTrimmedPosition(text, line, column);
                    QVERIFY2(position.line >= 1 && position.line <= lines.size(), qPrintable(text));
                    QVERIFY2(position.column >= 1 && position.column <= lines.at(position.line - 1).size() + 1,
                             qPrintable(text));
                }
            }
        }
    }
};

QTEST_MAIN(TstTextUtil)
#include "tst_textutil.moc"
