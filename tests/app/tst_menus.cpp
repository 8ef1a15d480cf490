#include "Options.h"
#include "PelorinForm.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPlainTextEdit>
#include <QtTest>

using pelorin::PelorinForm;

namespace {

const QStringList OutputStyleItems = {"nestedToolStripMenuItem", "expandedToolStripMenuItem", "compactToolStripMenuItem",
                                      "compressedToolStripMenuItem"};

QStringList actionTexts(const QMenu* menu) {
    QStringList texts;
    for (const QAction* a : menu->actions())
        texts << (a->isSeparator() ? QString("-") : a->text());
    return texts;
}

}  // namespace

class TstMenus : public QObject {
    Q_OBJECT

    PelorinForm* form = nullptr;
    QPlainTextEdit* sass = nullptr;
    QPlainTextEdit* css = nullptr;

    QAction* action(const QString& name) {
        auto* a = form->findChild<QAction*>(name);
        if (!a)
            qFatal("no action %s", qPrintable(name));
        return a;
    }
    QStringList checked(const QString& menuName) {
        QStringList names;
        for (const QAction* a : form->findChild<QMenu*>(menuName)->actions())
            if (a->isChecked())
                names << a->objectName();
        return names;
    }
    void setSource(const QString& text) {
        sass->selectAll();
        sass->insertPlainText(text);
    }

private slots:
    void init() {
        options = VantorCompiler::CompilerOptions();
        QGuiApplication::clipboard()->clear();
        form = new PelorinForm;
        sass = form->findChild<QPlainTextEdit*>("SassEditor");
        css = form->findChild<QPlainTextEdit*>("CssEditor");
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
    }
    void cleanup() {
        delete form;
        form = nullptr;
    }

    void structure() {
        const auto* editorMenu = form->findChild<QMenu*>("EditorOptions");
        QVERIFY(editorMenu && editorMenu->parent() == form);
        QCOMPARE(actionTexts(editorMenu), QStringList({"Undo", "Redo", "-", "Cut", "Copy", "Paste", "Select All", "-",
                                                       "Output Style", "Indent Type", "Indent Width", "-",
                                                       "Source Map Embed", "-", "Compiler"}));
        QCOMPARE(actionTexts(form->findChild<QMenu*>("outputStyleToolStripMenuItem")),
                 QStringList({"Nested", "Expanded", "Compact", "Compressed"}));
        QCOMPARE(actionTexts(form->findChild<QMenu*>("indentTypeToolStripMenuItem")), QStringList({"Spaces", "Tabs"}));
        QCOMPARE(actionTexts(form->findChild<QMenu*>("indentWidthToolStripMenuItem")),
                 QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}));
        const auto* cssMenu = form->findChild<QMenu*>("CssEditorOptions");
        QVERIFY(cssMenu && cssMenu->parent() == form);
        QCOMPARE(actionTexts(cssMenu), QStringList({"Copy", "Select All and Copy", "Export CSS"}));
        // Nothing is ever disabled, whatever the selection or clipboard.
        for (const QMenu* m : {editorMenu, cssMenu})
            for (const QAction* a : m->actions())
                QVERIFY2(a->isEnabled() && a->isVisible(), qPrintable(a->text()));
    }

    void checkMarksAtStart() {
        QCOMPARE(checked("outputStyleToolStripMenuItem"), QStringList({"expandedToolStripMenuItem"}));
        QCOMPARE(checked("indentTypeToolStripMenuItem"), QStringList({"spacesToolStripMenuItem"}));
        QCOMPARE(checked("indentWidthToolStripMenuItem"), QStringList({"toolStripMenuItem5"}));
        QVERIFY(!action("sourceMapEmbedToolStripMenuItem")->isChecked());
        // The CSS shown at start is what the checked "Expanded" names.
        QVERIFY(css->toPlainText().contains("button {\n    display: flex;\n"));
    }

    void outputStyle_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Nested") << "nestedToolStripMenuItem" << 0 << "a b {\n    c: d; }\n";
        QTest::newRow("Expanded") << "expandedToolStripMenuItem" << 2 << "a b {\n    c: d;\n}\n";
        QTest::newRow("Compact") << "compactToolStripMenuItem" << 1 << "a b { c: d; }\n";
        QTest::newRow("Compressed") << "compressedToolStripMenuItem" << 3 << "a b{c:d}\n";
    }
    void outputStyle() {
        QFETCH(QString, item);
        QFETCH(int, code);
        QFETCH(QString, expected);
        setSource("a { b { c: d } }");
        // Choosing the checked item again still stores and converts.
        for (int round = 1; round <= 2; ++round) {
            const int before = form->conversionCount();
            action(item)->trigger();
            QCOMPARE(form->conversionCount(), before + 1);
            QCOMPARE(options.output_style, code);
            QCOMPARE(checked("outputStyleToolStripMenuItem"), QStringList({item}));
            QCOMPARE(css->toPlainText(), expected);
        }
    }

    void indentTypeAndWidth_data() {
        QTest::addColumn<QString>("typeItem");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("unit");
        QTest::newRow("tabs x4") << "tabsToolStripMenuItem" << 4 << "\t\t\t\t";
        QTest::newRow("tabs x1") << "tabsToolStripMenuItem" << 1 << "\t";
        QTest::newRow("spaces x2") << "spacesToolStripMenuItem" << 2 << "  ";
        QTest::newRow("spaces x10") << "spacesToolStripMenuItem" << 10 << "          ";
        QTest::newRow("tabs x7") << "tabsToolStripMenuItem" << 7 << "\t\t\t\t\t\t\t";
    }
    void indentTypeAndWidth() {
        QFETCH(QString, typeItem);
        QFETCH(int, width);
        QFETCH(QString, unit);
        setSource("a { b: c }");
        const QString widthItem = "toolStripMenuItem" + QString::number(width + 1);
        const int before = form->conversionCount();
        action(typeItem)->trigger();
        action(widthItem)->trigger();
        QCOMPARE(form->conversionCount(), before + 2);
        QCOMPARE(options.indent_type, typeItem == "tabsToolStripMenuItem" ? 1 : 0);
        QCOMPARE(options.indent_width, width);
        QCOMPARE(checked("indentTypeToolStripMenuItem"), QStringList({typeItem}));
        QCOMPARE(checked("indentWidthToolStripMenuItem"), QStringList({widthItem}));
        QCOMPARE(css->toPlainText(), "a {\n" + unit + "b: c;\n}\n");
    }

    void sourceMapToggle() {
        setSource("a { b: c }");
        QAction* toggle = action("sourceMapEmbedToolStripMenuItem");
        const int before = form->conversionCount();
        toggle->trigger();
        QVERIFY(options.source_map_embed);
        QVERIFY(toggle->isChecked());
        QVERIFY(css->toPlainText().contains("/*# sourceMappingURL=data:application/json;base64,"));
        toggle->trigger();
        QVERIFY(!options.source_map_embed);
        QVERIFY(!toggle->isChecked());
        QCOMPARE(css->toPlainText(), QString("a {\n    b: c;\n}\n"));
        QCOMPARE(form->conversionCount(), before + 2);
    }

    void cutCopyPaste() {
        setSource("a { b: c }\nx { y: z }");
        QTextCursor cursor = sass->textCursor();
        cursor.setPosition(0);
        cursor.setPosition(11, QTextCursor::KeepAnchor);
        sass->setTextCursor(cursor);

        int before = form->conversionCount();
        action("CtxCopy")->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("a { b: c }\n"));
        QCOMPARE(form->conversionCount(), before);

        action("CtxCut")->trigger();
        QCOMPARE(sass->toPlainText(), QString("x { y: z }"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("a { b: c }\n"));
        QCOMPARE(form->conversionCount(), before + 1);
        QCOMPARE(css->toPlainText(), QString("x {\n    y: z;\n}\n"));

        action("CtxPaste")->trigger();
        QCOMPARE(sass->toPlainText(), QString("a { b: c }\nx { y: z }"));
        QCOMPARE(form->conversionCount(), before + 2);

        action("CtxUndo")->trigger();
        QCOMPARE(sass->toPlainText(), QString("x { y: z }"));
        QCOMPARE(form->conversionCount(), before + 3);
        action("CtxRedo")->trigger();
        QCOMPARE(sass->toPlainText(), QString("a { b: c }\nx { y: z }"));
        QCOMPARE(form->conversionCount(), before + 4);

        action("CtxSelectAll")->trigger();
        QCOMPARE(sass->textCursor().selectedText(), QString("a { b: c }\u2029x { y: z }"));
        QCOMPARE(form->conversionCount(), before + 4);
    }

    void pasteOfEmptyClipboardChangesNothing() {
        QGuiApplication::clipboard()->clear();
        const QString text = sass->toPlainText();
        const int before = form->conversionCount();
        action("CtxPaste")->trigger();
        // Also with a selection, which an empty paste must not delete.
        action("CtxSelectAll")->trigger();
        action("CtxPaste")->trigger();
        QCOMPARE(sass->toPlainText(), text);
        QCOMPARE(form->conversionCount(), before);
    }

    void selectAllAndCopyTakesTheWholeCss() {
        QTextCursor cursor = css->textCursor();
        cursor.setPosition(3);
        cursor.setPosition(10, QTextCursor::KeepAnchor);
        css->setTextCursor(cursor);
        const int before = form->conversionCount();
        action("CssEditorCtxSAllCopy")->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), css->toPlainText());
        QCOMPARE(css->textCursor().selectionStart(), 0);
        QCOMPARE(css->textCursor().selectionEnd(), css->document()->characterCount() - 1);
        QCOMPARE(form->conversionCount(), before);

        cursor.setPosition(0);
        cursor.setPosition(6, QTextCursor::KeepAnchor);
        css->setTextCursor(cursor);
        action("CssEditorCtxCopy")->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), css->toPlainText().left(6));
    }

    void menusOpenAtTheMouse_data() {
        QTest::addColumn<QString>("editor");
        QTest::addColumn<QString>("menu");
        QTest::newRow("SCSS") << "SassEditor" << "EditorOptions";
        QTest::newRow("CSS") << "CssEditor" << "CssEditorOptions";
    }
    void menusOpenAtTheMouse() {
        QFETCH(QString, editor);
        QFETCH(QString, menu);
        auto* edit = form->findChild<QPlainTextEdit*>(editor);
        auto* popup = form->findChild<QMenu*>(menu);
        // The window is wider than the test screen: keep both editors' left edges on it.
        form->move(0, 0);
        const QPoint local(40, 30);
        QContextMenuEvent event(QContextMenuEvent::Mouse, local, edit->viewport()->mapToGlobal(local));
        QCoreApplication::sendEvent(edit->viewport(), &event);
        QTRY_VERIFY(popup->isVisible());
        QCOMPARE(popup->pos(), edit->viewport()->mapToGlobal(local));
        // Only one menu opens, and it is ours.
        QCOMPARE(QApplication::activePopupWidget(), popup);
        popup->close();
    }
};

QTEST_MAIN(TstMenus)
#include "tst_menus.moc"
