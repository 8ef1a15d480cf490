#include "CodeEditor.h"
#include "FindBar.h"
#include "OpenForm.h"
#include "Options.h"
#include "PelorinForm.h"

#include <QAccessible>
#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

using pelorin::CodeEditor;
using pelorin::FindBar;
using pelorin::PelorinForm;

class TstFindBar : public QObject {
    Q_OBJECT

    PelorinForm* form = nullptr;
    CodeEditor* sass = nullptr;
    CodeEditor* css = nullptr;

    template <typename T = QWidget>
    T* child(QWidget* parent, const char* name) {
        auto* w = parent->findChild<T*>(name);
        if (!w)
            qFatal("no %s", name);
        return w;
    }
    FindBar* barOf(CodeEditor* editor) { return child<FindBar>(form, editor == sass ? "SassFindBar" : "CssFindBar"); }
    QLineEdit* findField(FindBar* bar) { return child<QLineEdit>(bar, "findField"); }
    QLineEdit* replaceField(FindBar* bar) { return child<QLineEdit>(bar, "replaceField"); }
    QString result(FindBar* bar) { return child<QLabel>(bar, "resultLabel")->text(); }
    QString selected(const QPlainTextEdit* editor) { return editor->textCursor().selectedText(); }
    int selectionStart(const QPlainTextEdit* editor) { return editor->textCursor().selectionStart(); }

    void setSource(const QString& text, int caret = 0) {
        sass->setPlainText(text);
        QTextCursor cursor = sass->textCursor();
        cursor.setPosition(caret);
        sass->setTextCursor(cursor);
    }

private slots:
    void init() {
        QVERIFY(openForm(form, sass, css));
        sass->setFocus();
    }
    void cleanup() {
        delete form;
        form = nullptr;
    }

    // Ctrl+F opens the bar over the top right of the focused editor's pane,
    // moves nothing the window lays out, and takes the typing.
    void opensInsideTheFocusedPane_data() {
        QTest::addColumn<QString>("editor");
        QTest::addColumn<QString>("pane");
        QTest::newRow("SCSS") << "SassEditor" << "Panel1";
        QTest::newRow("CSS") << "CssEditor" << "Panel2";
    }
    void opensInsideTheFocusedPane() {
        QFETCH(QString, editor);
        QFETCH(QString, pane);
        auto* e = child<CodeEditor>(form, qPrintable(editor));
        FindBar* bar = barOf(e);
        QWidget* panel = child(form, qPrintable(pane));
        const QRect editorGeometry = e->geometry();
        QVERIFY(!bar->isVisible());
        e->setFocus();
        QTest::keyClick(e, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->parentWidget(), panel);
        QVERIFY(e->geometry().contains(bar->geometry()));
        QVERIFY(bar->geometry().top() <= e->geometry().top() + 1);
        QCOMPARE(e->geometry(), editorGeometry);
        QVERIFY(findField(bar)->hasFocus());
        QVERIFY(!child(bar, "replaceRow")->isVisible());
        // The other pane's bar stays shut.
        QVERIFY(!barOf(e == sass ? css : sass)->isVisible());
    }

    // As you type: the first match at or after the caret, "n of N", wrapping
    // both ways with Enter, Shift+Enter, F3 and Shift+F3.
    void searchAsYouTypeAndStep() {
        //                 0         1         2         3
        //                 0123456789012345678901234567890123456
        setSource("a { b: red; }\nc { d: Red; }\ne { f: red; }", 16);
        const int conversions = form->conversionCount();
        FindBar* bar = barOf(sass);
        QTest::keyClick(sass, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(findField(bar), "r");
        QCOMPARE(selectionStart(sass), 21);
        QCOMPARE(result(bar), QString("2 of 3"));
        QTest::keyClicks(findField(bar), "ed");
        QCOMPARE(selected(sass), QString("Red"));
        QCOMPARE(result(bar), QString("2 of 3"));

        QTest::keyClick(findField(bar), Qt::Key_Return);
        QCOMPARE(selectionStart(sass), 35);
        QCOMPARE(result(bar), QString("3 of 3"));
        QTest::keyClick(findField(bar), Qt::Key_Return);
        QCOMPARE(selectionStart(sass), 7);
        QCOMPARE(result(bar), QString("1 of 3"));
        QTest::keyClick(findField(bar), Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(selectionStart(sass), 35);
        QTest::keyClick(findField(bar), Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(selectionStart(sass), 21);
        QTest::keyClick(findField(bar), Qt::Key_F3);
        QCOMPARE(selectionStart(sass), 35);
        // F3 from the editor as well.
        sass->setFocus();
        QTest::keyClick(sass, Qt::Key_F3);
        QCOMPARE(selectionStart(sass), 7);
        QTest::keyClick(sass, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(selectionStart(sass), 35);

        // Case toggle: only the two lower-case ones.
        child<QToolButton>(bar, "matchCaseButton")->click();
        QCOMPARE(result(bar), QString("2 of 2"));
        QCOMPARE(selectionStart(sass), 35);
        QTest::keyClick(findField(bar), Qt::Key_Return);
        QCOMPARE(selectionStart(sass), 7);

        findField(bar)->setText("blue");
        QCOMPARE(result(bar), QString("No results"));
        findField(bar)->clear();
        QCOMPARE(result(bar), QString());
        QCOMPARE(form->conversionCount(), conversions);
    }

    // Esc closes the bar and leaves the match selected, so typing replaces it.
    void escapeReturnsToTheEditor() {
        setSource("a { b: red; }");
        FindBar* bar = barOf(sass);
        QTest::keyClick(sass, Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(findField(bar), "red");
        QTest::keyClick(findField(bar), Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        QVERIFY(sass->hasFocus());
        QCOMPARE(selected(sass), QString("red"));
        const int conversions = form->conversionCount();
        QTest::keyClicks(sass, "blue");
        QCOMPARE(sass->toPlainText(), QString("a { b: blue; }"));
        QCOMPARE(form->conversionCount(), conversions + 4);
        QCOMPARE(css->toPlainText(), QString("a {\n    b: blue;\n}\n"));
    }

    // A one-line selection is what Ctrl+F looks for.
    void selectionFillsTheField() {
        setSource("a { b: red; }\nc { d: red; }");
        QTextCursor cursor = sass->textCursor();
        cursor.setPosition(7);
        cursor.setPosition(10, QTextCursor::KeepAnchor);
        sass->setTextCursor(cursor);
        FindBar* bar = barOf(sass);
        QTest::keyClick(sass, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(findField(bar)->text(), QString("red"));
        QCOMPARE(selectionStart(sass), 7);
        QCOMPARE(result(bar), QString("1 of 2"));
    }

    // Replace the current match, then replace all: one conversion and one undo step each.
    void replace() {
        setSource("a { b: red; c: red; d: red; }");
        FindBar* bar = barOf(sass);
        QTest::keyClick(sass, Qt::Key_H, Qt::ControlModifier);
        QVERIFY(child(bar, "replaceRow")->isVisible());
        QVERIFY(findField(bar)->hasFocus());
        QTest::keyClicks(findField(bar), "red");
        QTest::keyClick(findField(bar), Qt::Key_Tab);
        QVERIFY(replaceField(bar)->hasFocus());
        QTest::keyClicks(replaceField(bar), "blue");
        QCOMPARE(result(bar), QString("1 of 3"));

        int conversions = form->conversionCount();
        QTest::keyClick(replaceField(bar), Qt::Key_Return);
        QCOMPARE(sass->toPlainText(), QString("a { b: blue; c: red; d: red; }"));
        QCOMPARE(form->conversionCount(), conversions + 1);
        QCOMPARE(selectionStart(sass), 16);
        QCOMPARE(result(bar), QString("1 of 2"));

        conversions = form->conversionCount();
        child<QToolButton>(bar, "replaceAllButton")->click();
        QCOMPARE(sass->toPlainText(), QString("a { b: blue; c: blue; d: blue; }"));
        QCOMPARE(form->conversionCount(), conversions + 1);
        QCOMPARE(result(bar), QString("2 replaced"));
        QCOMPARE(css->toPlainText(), QString("a {\n    b: blue;\n    c: blue;\n    d: blue;\n}\n"));
        sass->undo();
        QCOMPARE(sass->toPlainText(), QString("a { b: blue; c: red; d: red; }"));
        QCOMPARE(form->conversionCount(), conversions + 2);
    }

    // The read-only CSS editor finds, and nothing more.
    void cssEditorFindsOnly() {
        css->setFocus();
        FindBar* bar = barOf(css);
        const QString text = css->toPlainText();
        QTest::keyClick(css, Qt::Key_H, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        QVERIFY(!child(bar, "replaceRow")->isVisible());
        QTest::keyClicks(findField(bar), "none");
        QCOMPARE(result(bar), QString("1 of 2"));
        QCOMPARE(selected(css), QString("none"));
        QTest::keyClick(findField(bar), Qt::Key_Escape);
        QVERIFY(css->hasFocus());
        QCOMPARE(css->toPlainText(), text);
    }

    // Every control of the bar has a name, an accessible name, and is
    // reached with Tab, which goes round the bar.
    void keyboardAndAccessibility() {
        FindBar* bar = barOf(sass);
        QTest::keyClick(sass, Qt::Key_H, Qt::ControlModifier);
        QTest::keyClicks(findField(bar), "a");
        QStringList reached;
        reached << QApplication::focusWidget()->objectName();
        for (int i = 0; i < 8; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            reached << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(reached, (QStringList{"findField", "replaceField", "matchCaseButton", "previousButton", "nextButton",
                                       "replaceButton", "replaceAllButton", "closeButton", "findField"}));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("closeButton"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QVERIFY(!bar->isVisible());
        QVERIFY(sass->hasFocus());

        for (QWidget* w : bar->findChildren<QWidget*>()) {
            QVERIFY2(!w->objectName().isEmpty(), w->metaObject()->className());
            if (w->focusPolicy() == Qt::NoFocus && !qobject_cast<QLabel*>(w))
                continue;
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            QVERIFY(a);
            QVERIFY2(!a->text(QAccessible::Name).isEmpty(), qPrintable(w->objectName()));
        }
        QCOMPARE(QAccessible::queryAccessibleInterface(bar)->text(QAccessible::Name), QString("Find in SCSS"));
    }

    // Ctrl+G asks for a line and puts the caret at its start, in both editors.
    void goToLine_data() {
        QTest::addColumn<QString>("editor");
        QTest::newRow("SCSS") << "SassEditor";
        QTest::newRow("CSS") << "CssEditor";
    }
    void goToLine() {
        QFETCH(QString, editor);
        auto* e = child<CodeEditor>(form, qPrintable(editor));
        e->setFocus();
        const QString text = e->toPlainText();
        bool asked = false;
        QTimer::singleShot(0, this, [&] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            asked = true;
            QCOMPARE(dialog->objectName(), QString("goToLineDialog"));
            QCOMPARE(dialog->intMaximum(), e->blockCount());
            auto* spin = dialog->findChild<QSpinBox*>();
            QVERIFY(spin);
            const QString folder = qEnvironmentVariable("VANTOR_SCREENSHOTS");
            if (!folder.isEmpty())
                dialog->grab().save(folder + "/gotoline-" + editor + ".png");
            spin->selectAll();
            QTest::keyClicks(spin, "7");
            QTest::keyClick(spin, Qt::Key_Return);
        });
        QTest::keyClick(e, Qt::Key_G, Qt::ControlModifier);
        QVERIFY(asked);
        QCOMPARE(e->textCursor().blockNumber(), 6);
        QCOMPARE(e->textCursor().positionInBlock(), 0);
        // The window itself comes back to the front only when the desktop says so.
        QCOMPARE(form->focusWidget(), e);
        QCOMPARE(e->toPlainText(), text);
    }

    // The bar open in the real window, saved where VANTOR_SCREENSHOTS points.
    void screenshot() {
        const QString folder = qEnvironmentVariable("VANTOR_SCREENSHOTS");
        if (folder.isEmpty())
            QSKIP("VANTOR_SCREENSHOTS not set");
        FindBar* bar = barOf(sass);
        QTest::keyClick(sass, Qt::Key_H, Qt::ControlModifier);
        QTest::keyClicks(findField(bar), "color");
        QTest::keyClicks(replaceField(bar), "colour");
        QTest::keyClick(replaceField(bar), Qt::Key_Tab);
        QVERIFY(form->grab().save(folder + "/findbar.png"));
        QVERIFY(bar->grab().scaled(bar->size() * 2).save(folder + "/findbar-close.png"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(bar->grab().scaled(bar->size() * 2).save(folder + "/findbar-button-focus.png"));
    }
};

QTEST_MAIN(TstFindBar)
#include "tst_findbar.moc"
