// What a newcomer meets in the first hour, on the real window: the CSS
// editor's caret and keyboard selection, Ctrl+Y, the dark scroll bars and the
// Go to Line box's arrows, colour in compressed output with a long line, and
// the "no drop" cursor for files the program will not open.
#include "CodeEditor.h"
#include "LongLine.h"
#include "OpenForm.h"
#include "Options.h"
#include "PelorinForm.h"
#include "SyntaxColors.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QInputDialog>
#include <QMimeData>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <map>
#include <numeric>

using pelorin::CodeEditor;
using pelorin::PelorinForm;

namespace {

// The colour drawn at `position` by the document's formats; invalid when none.
QColor colourAt(const QTextDocument& doc, int position) {
    const QTextBlock block = doc.findBlock(position);
    const int offset = position - block.position();
    for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
        if (offset >= range.start && offset < range.start + range.length &&
            range.format.hasProperty(QTextFormat::ForegroundBrush))
            return range.format.foreground().color();
    }
    return QColor();
}

QColor tokenColour(const char* name) {
    for (const pelorin::TokenColor& token : pelorin::SyntaxColors().tokens) {
        if (qstrcmp(token.name, name) == 0)
            return token.color;
    }
    return QColor();
}

// The gray levels along the middle column of a vertical bar, lightest last.
std::map<int, int> grayCounts(const QImage& image) {
    std::map<int, int> counts;
    for (int y = 0; y < image.height(); ++y)
        ++counts[qGray(image.pixel(image.width() / 2, y))];
    return counts;
}

}  // namespace

class TstFirstHourKeys : public QObject {
    Q_OBJECT

    PelorinForm* form = nullptr;
    CodeEditor* sass = nullptr;
    CodeEditor* css = nullptr;

    void setSource(const QString& text) {
        sass->setPlainText(text);
        QCoreApplication::processEvents();
    }
    QString screenshots() const { return qEnvironmentVariable("VANTOR_SCREENSHOTS"); }

private slots:
    void initTestCase() {
        // A caret that never blinks off, so that a grab always shows it.
        QApplication::setCursorFlashTime(0);
    }
    void init() {
        QVERIFY(openForm(form, sass, css));
    }
    void cleanup() {
        delete form;
        form = nullptr;
    }

    // The read-only CSS editor draws its caret while it has the focus, and
    // only then: it shows which editor the keys go to.
    void cssEditorShowsItsCaret() {
        setSource(".a { b: c; }\n");
        QTextCursor end(css->document());
        end.movePosition(QTextCursor::EndOfBlock);  // after ".a {", blank beyond
        css->setTextCursor(end);
        const QRect caret = css->cursorRect().adjusted(-1, 0, 1, 0);
        sass->setFocus();
        QCoreApplication::processEvents();
        const QImage unfocused = css->viewport()->grab().toImage();
        css->setFocus();
        QCoreApplication::processEvents();
        QCOMPARE(QApplication::focusWidget(), css);
        const QImage focused = css->viewport()->grab().toImage();
        if (!screenshots().isEmpty()) {
            unfocused.save(screenshots() + "/css-unfocused.png");
            focused.save(screenshots() + "/css-focused.png");
        }
        int caretPixels = 0;
        int otherChanges = 0;
        for (int y = 0; y < focused.height(); ++y) {
            for (int x = 0; x < focused.width(); ++x) {
                const bool changed = qGray(focused.pixel(x, y)) - qGray(unfocused.pixel(x, y)) > 80;
                (caret.contains(x, y) ? caretPixels : otherChanges) += changed;
            }
        }
        QVERIFY2(caretPixels >= caret.height() / 2, qPrintable(QString::number(caretPixels)));
        QCOMPARE(otherChanges, 0);
    }

    // Shift with the arrows, Home and End, and Ctrl+Shift+End select in the
    // CSS editor from the caret; Ctrl+C copies the selection.
    void cssEditorSelectsByKeyboard_data() {
        QTest::addColumn<QList<QKeyCombination>>("keys");
        QTest::addColumn<QString>("copied");
        const auto shift = Qt::ShiftModifier;
        QTest::newRow("Shift+Right twice") << QList<QKeyCombination>{shift | Qt::Key_Right, shift | Qt::Key_Right}
                                           << ".a";
        QTest::newRow("Shift+End") << QList<QKeyCombination>{shift | Qt::Key_End} << ".a {";
        QTest::newRow("Shift+Down") << QList<QKeyCombination>{shift | Qt::Key_Down} << ".a {\n";
        QTest::newRow("Down, End, Shift+Home") << QList<QKeyCombination>{Qt::Key_Down, Qt::Key_End, shift | Qt::Key_Home}
                                         << "    color: red;";
        QTest::newRow("Ctrl+Shift+End") << QList<QKeyCombination>{Qt::ControlModifier | shift | Qt::Key_End}
                                        << ".a {\n    color: red;\n}\n";
        QTest::newRow("back with Shift+Left")
            << QList<QKeyCombination>{Qt::ControlModifier | Qt::Key_End, shift | Qt::Key_Left, shift | Qt::Key_Left}
            << "}\n";
    }
    void cssEditorSelectsByKeyboard() {
        QFETCH(QList<QKeyCombination>, keys);
        QFETCH(QString, copied);
        setSource(".a { color: red; }");
        QCOMPARE(css->toPlainText(), QString(".a {\n    color: red;\n}\n"));
        css->setFocus();
        QTest::keyClick(css, Qt::Key_Home, Qt::ControlModifier);
        for (const QKeyCombination& key : keys)
            QTest::keyClick(css, key.key(), key.keyboardModifiers());
        QApplication::clipboard()->clear();
        QTest::keyClick(css, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), copied);
        // A screen reader is told the same selection.
        QAccessibleTextInterface* reader = QAccessible::queryAccessibleInterface(css)->textInterface();
        QVERIFY(reader);
        int start = -1;
        int end = -1;
        reader->selection(0, &start, &end);
        QCOMPARE(start, css->textCursor().selectionStart());
        QCOMPARE(end, css->textCursor().selectionEnd());
        // Read only all the same.
        QTest::keyClicks(css, "x");
        QTest::keyClick(css, Qt::Key_Delete);
        QCOMPARE(css->toPlainText(), QString(".a {\n    color: red;\n}\n"));
    }

    // Ctrl+Y redoes in the SCSS editor as Ctrl+Shift+Z does, and the CSS follows.
    void redoKeys_data() {
        QTest::addColumn<QKeyCombination>("redo");
        QTest::newRow("Ctrl+Y") << QKeyCombination(Qt::ControlModifier, Qt::Key_Y);
        QTest::newRow("Ctrl+Shift+Z") << (Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_Z);
    }
    void redoKeys() {
        QFETCH(QKeyCombination, redo);
        setSource(".a { b: c; }");
        sass->setFocus();
        sass->moveCursor(QTextCursor::End);
        QTest::keyClick(sass, Qt::Key_Return);
        QTest::keyClicks(sass, ".d { e: f; }");
        const QString typed = sass->toPlainText();
        const QString typedCss = css->toPlainText();
        QVERIFY(typedCss.contains(".d {"));
        QTest::keyClick(sass, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(sass->toPlainText() != typed);
        QTest::keyClick(sass, redo.key(), redo.keyboardModifiers());
        QCOMPARE(sass->toPlainText(), typed);
        QCOMPARE(css->toPlainText(), typedCss);
        // Nothing left to redo: the text stays.
        QTest::keyClick(sass, redo.key(), redo.keyboardModifiers());
        QCOMPARE(sass->toPlainText(), typed);
    }

    // Both editors' scroll bars are dark, with a thumb that stands out.
    void darkScrollBars_data() {
        QTest::addColumn<QString>("editor");
        QTest::newRow("SCSS") << "SassEditor";
        QTest::newRow("CSS") << "CssEditor";
    }
    void darkScrollBars() {
        QFETCH(QString, editor);
        QString scss;
        for (int i = 0; i < 300; ++i)
            scss += QString(".r%1 { width: %1px; }\n").arg(i);
        setSource(scss);
        QScrollBar* bar = form->findChild<CodeEditor*>(editor)->verticalScrollBar();
        QVERIFY(bar->isVisible());
        bar->setValue(bar->maximum() / 3);
        const QImage image = bar->grab().toImage();
        if (!screenshots().isEmpty()) {
            image.save(screenshots() + "/scrollbar-" + editor + ".png");
            form->grab().save(screenshots() + "/window-scrolled.png");
        }
        const std::map<int, int> grays = grayCounts(image);
        // The track is the most common shade, the thumb the lightest one.
        const int track = std::max_element(grays.begin(), grays.end(), [](const auto& a, const auto& b) {
                              return a.second < b.second;
                          })->first;
        const int thumb = grays.rbegin()->first;
        QVERIFY2(track < 50, qPrintable(QString("track gray %1").arg(track)));
        QVERIFY2(thumb - track >= 40, qPrintable(QString("thumb gray %1 on track %2").arg(thumb).arg(track)));
        QVERIFY2(thumb < 170, qPrintable(QString("thumb gray %1").arg(thumb)));
        // The thumb covers a good part of the bar's length where it stands.
        int thumbRows = 0;
        for (int y = 0; y < image.height(); ++y)
            thumbRows += qGray(image.pixel(image.width() / 2, y)) - track >= 40;
        QVERIFY2(thumbRows >= 20, qPrintable(QString::number(thumbRows)));
    }

    // The Go to Line box's up and down arrows stand out from their buttons.
    void goToLineArrowsShow() {
        setSource(".a { b: c; }\n.d { e: f; }\n.g { h: i; }\n");
        sass->setFocus();
        QImage box;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            auto* spin = dialog->findChild<QSpinBox*>();
            if (spin) {
                spin->setValue(1);
                box = spin->grab().toImage();
                if (!screenshots().isEmpty())
                    dialog->grab().save(screenshots() + "/gotoline.png");
            }
            dialog->reject();
        });
        QTest::keyClick(sass, Qt::Key_G, Qt::ControlModifier);
        QVERIFY(!box.isNull());
        // The arrows are at the right end, clear of the number at the left;
        // the upper one points up: its light rows widen downwards.
        const int from = box.width() - box.height();
        QVERIFY(from > box.width() / 2);
        QList<int> lightPerRow;
        for (int y = 0; y < box.height(); ++y) {
            int light = 0;
            for (int x = from; x < box.width(); ++x)
                light += qGray(box.pixel(x, y)) > 150;
            lightPerRow << light;
        }
        const int upper = std::accumulate(lightPerRow.begin(), lightPerRow.begin() + box.height() / 2, 0);
        const int lower = std::accumulate(lightPerRow.begin() + box.height() / 2, lightPerRow.end(), 0);
        QVERIFY2(upper >= 6 && lower >= 6, qPrintable(QString("%1 and %2 light pixels").arg(upper).arg(lower)));
    }

    // Compressed output on one long line is coloured up to the length limit,
    // and the lines after it are coloured too (here the source map's comment,
    // another long line).
    void compressedOutputIsColoured() {
        QString scss = "/*! Licence\n   text */\n";
        for (int i = 0; i < 1200; ++i)
            scss += QString(".r%1 { width: %1px; color: #fff; }\n").arg(i);

        setSource(scss);
        form->findChild<QAction*>("compressedToolStripMenuItem")->trigger();
        form->findChild<QAction*>("sourceMapEmbedToolStripMenuItem")->trigger();
        const QTextDocument& doc = *css->document();
        QTextBlock longLine;
        for (QTextBlock block = doc.firstBlock(); block.isValid(); block = block.next()) {
            if (block.length() > pelorin::LongLineLength) {
                longLine = block;
                break;
            }
        }
        QVERIFY2(longLine.isValid(), qPrintable(css->toPlainText().left(200)));
        const QString text = longLine.text();
        const int selector = int(text.indexOf(".r0"));
        QVERIFY(selector >= 0);
        QCOMPARE(colourAt(doc, longLine.position() + selector), tokenColour("selector"));
        const int lastHex = int(text.lastIndexOf("#fff", pelorin::LongLineLength - 4));
        QVERIFY(lastHex > pelorin::LongLineLength / 2);
        QCOMPARE(colourAt(doc, longLine.position() + lastHex), tokenColour("hexColor"));
        // Beyond the limit it stays plain.
        QCOMPARE(colourAt(doc, longLine.position() + int(text.lastIndexOf("#fff"))), QColor());
        // Every line after it is coloured.
        int after = 0;
        for (QTextBlock block = longLine.next(); block.isValid(); block = block.next()) {
            if (block.text().trimmed().isEmpty())
                continue;
            ++after;
            QVERIFY2(colourAt(doc, block.position()).isValid(), qPrintable(block.text().left(80)));
        }
        QVERIFY(after > 0);
        const QTextBlock map = doc.lastBlock();
        QVERIFY2(map.text().startsWith("/*# sourceMappingURL="), qPrintable(map.text().left(80)));
        QCOMPARE(colourAt(doc, map.position()), tokenColour("comment"));
    }

    // A file the program will not open is refused while it is dragged, so
    // the cursor says "no drop" before the button is let go.
    void dragShowsWhatOpens_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("taken");
        QTest::newRow("scss") << QStringList{"a.scss"} << true;
        QTest::newRow("css") << QStringList{"b.css"} << true;
        QTest::newRow("upper-case suffix") << QStringList{"C.SCSS"} << true;
        QTest::newRow("png") << QStringList{"logo.png"} << false;
        QTest::newRow("no suffix") << QStringList{"Makefile"} << false;
        QTest::newRow("folder named .scss") << QStringList{"styles.scss"} << false;
        QTest::newRow("two stylesheets") << QStringList{"a.scss", "b.css"} << false;
    }
    void dragShowsWhatOpens() {
        QFETCH(QStringList, files);
        QFETCH(bool, taken);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        for (const char* name : {"a.scss", "b.css", "C.SCSS", "logo.png", "Makefile"}) {
            QFile file(folder.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(".a { b: c }");
        }
        QVERIFY(QDir(folder.path()).mkdir("styles.scss"));
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& name : files)
            urls << QUrl::fromLocalFile(folder.filePath(name));
        mime.setUrls(urls);
        mime.setText(files.join('\n'));  // as file managers offer them

        const QPoint at = sass->viewport()->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(sass->viewport(), &enter);
        QCOMPARE(enter.isAccepted(), taken);
        QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(sass->viewport(), &move);
        QCOMPARE(move.isAccepted(), taken);
        if (taken)
            QCOMPARE(move.dropAction(), Qt::CopyAction);
        QDragLeaveEvent leave;
        QApplication::sendEvent(sass->viewport(), &leave);
    }
};

QTEST_MAIN(TstFirstHourKeys)
#include "tst_firsthour_keys.moc"
