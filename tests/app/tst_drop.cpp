// Files and text dropped on the SCSS editor of the real window, by drag and
// drop events sent to its viewport: one .scss or .css file replaces the text
// as one undoable edit and one conversion, and its folder becomes the one
// relative @imports resolve against; anything else changes nothing and says
// why in the message line; plain text is inserted where it is dropped.
#include "PelorinForm.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using pelorin::PelorinForm;

namespace {

// A drag that enters the viewport, moves over it and drops at its centre (or
// at the point given). Returns whether the drop was taken.
bool dropOn(QWidget* viewport, std::unique_ptr<QMimeData> data, QPoint at = QPoint()) {
    QMimeData* mime = data.get();
    const QPoint pos = at.isNull() ? viewport->rect().center() : at;
    QDragEnterEvent enter(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QDropEvent drop(QPointF(pos), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    return enter.isAccepted() && drop.isAccepted();
}

std::unique_ptr<QMimeData> filesMime(const QStringList& paths) {
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    mime->setUrls(urls);
    // File managers also offer the paths as text; that text must not be inserted.
    mime->setText(paths.join('\n'));
    return mime;
}

}  // namespace

class TstDrop : public QObject {
    Q_OBJECT

    PelorinForm* form = nullptr;
    QPlainTextEdit* sass = nullptr;
    QPlainTextEdit* css = nullptr;
    QLabel* message = nullptr;
    QLabel* title = nullptr;
    QString startFolder;
    QTemporaryDir* folder = nullptr;

    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = folder->filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void initTestCase() { startFolder = QDir::currentPath(); }
    void init() {
        folder = new QTemporaryDir;
        QVERIFY(folder->isValid());
        form = new PelorinForm;
        sass = form->findChild<QPlainTextEdit*>("SassEditor");
        css = form->findChild<QPlainTextEdit*>("CssEditor");
        message = form->findChild<QLabel*>("MessageBox");
        title = form->findChild<QLabel*>("Title");
        QVERIFY(sass && css && message && title);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
    }
    void cleanup() {
        delete form;
        form = nullptr;
        QDir::setCurrent(startFolder);
        delete folder;
        folder = nullptr;
    }

    // The file's text replaces the editor's, line breaks as the editor keeps
    // them and without a byte-order mark.
    void oneFileReplacesTheText_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("cssEnd");
        QTest::newRow("scss") << "style.scss" << QByteArray("$w: 3px;\n.a { width: $w; }\n")
                              << "$w: 3px;\n.a { width: $w; }\n" << ".a {\n    width: 3px;\n}\n";
        QTest::newRow("css") << "plain.css" << QByteArray(".b{color:red}") << ".b{color:red}"
                             << ".b {\n    color: red;\n}\n";
        QTest::newRow("upper-case suffix") << "LOUD.SCSS" << QByteArray(".c { d: e }") << ".c { d: e }"
                                           << ".c {\n    d: e;\n}\n";
        QTest::newRow("CRLF and BOM") << "win.scss" << QByteArray("\xEF\xBB\xBF.d {\r\n  e: f;\r\n}\r\n")
                                      << ".d {\n  e: f;\n}\n" << ".d {\n    e: f;\n}\n";
        QTest::newRow("non-ASCII") << "u.scss" << QByteArray(".\xC3\xA9 { content: \"\xE2\x9C\x93\"; }")
                                   << QString::fromUtf8(".\u00e9 { content: \"\u2713\"; }") << "}\n";
    }
    void oneFileReplacesTheText() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(QString, cssEnd);
        const QString path = write("styles/" + name, bytes);
        const QString before = sass->toPlainText();
        const int conversions = form->conversionCount();

        QVERIFY(dropOn(sass->viewport(), filesMime({path})));
        QCOMPARE(sass->toPlainText(), text);
        QCOMPARE(form->conversionCount(), conversions + 1);
        QVERIFY2(css->toPlainText().endsWith(cssEnd), qPrintable(css->toPlainText()));
        QCOMPARE(message->text(), QString());
        QCOMPARE(sass->textCursor().position(), 0);
        // Its folder is the program's working folder, shown as the title's tool tip.
        const QString styles = QFileInfo(path).absolutePath();
        QCOMPARE(QDir::currentPath(), styles);
        QVERIFY2(title->toolTip().contains(QDir::toNativeSeparators(styles)), qPrintable(title->toolTip()));
        QCOMPARE(title->text(), QString("PELORIN | Vantor"));

        // One undo step brings the previous text back, converting once more.
        sass->undo();
        QCOMPARE(sass->toPlainText(), before);
        QCOMPARE(form->conversionCount(), conversions + 2);
    }

    // The footer's first item names the folder relative imports resolve from: the program's
    // own at start, the dropped file's after a drop; home as ~, long paths cut in the middle,
    // the whole path in the tool tip and the accessible name.
    void importFolderInTheFooter() {
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", folder->path().toUtf8());
        const QString deep = "projects/" + QString("very-long-folder-name-").repeated(8) + "/site";
        const QString path = write(deep + "/main.scss", ".a { b: c; }\n");
        const QString site = QFileInfo(path).absolutePath();
        QVERIFY(QDir::setCurrent(folder->path() + "/projects"));
        delete form;
        form = new PelorinForm;
        sass = form->findChild<QPlainTextEdit*>("SassEditor");
        message = form->findChild<QLabel*>("MessageBox");
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        auto* label = form->findChild<QLabel*>("ImportFolderLabel");
        QVERIFY(label);
        QCOMPARE(label->text(), QString("~/projects"));
        QVERIFY(label->toolTip().contains(folder->path() + "/projects"));
        QCOMPARE(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name),
                 "Import folder: " + folder->path() + "/projects");
        // Leftmost in the footer.
        QCOMPARE(label->x(), 0);

        QVERIFY(dropOn(sass->viewport(), filesMime({path})));
        QVERIFY(label->text().startsWith("~/projects/"));
        QVERIFY(label->text().endsWith("/site"));
        QVERIFY(label->text().contains(QChar(0x2026)));
        QVERIFY(label->width() < form->width() / 2);
        QVERIFY2(label->toolTip().contains(site), qPrintable(label->toolTip()));
        QCOMPARE(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name), "Import folder: " + site);
        qputenv("HOME", oldHome);
    }

    // Relative @imports of the dropped file resolve in its own folder, from the
    // first conversion on; the same text dropped from another folder converts
    // again against that folder.
    void importsResolveInTheFilesFolder() {
        write("one/_colours.scss", "$c: red;\n");
        write("two/_colours.scss", "$c: blue;\n");
        const QByteArray main = "@import \"colours\";\n.x { color: $c; }\n";
        const QString first = write("one/main.scss", main);
        const QString second = write("two/main.scss", main);

        QVERIFY(dropOn(sass->viewport(), filesMime({first})));
        QCOMPARE(message->text(), QString());
        QCOMPARE(css->toPlainText(), QString(".x {\n    color: red;\n}\n"));

        const int conversions = form->conversionCount();
        QVERIFY(dropOn(sass->viewport(), filesMime({second})));
        QCOMPARE(form->conversionCount(), conversions + 1);
        QCOMPARE(css->toPlainText(), QString(".x {\n    color: blue;\n}\n"));
    }

    // Nothing changes, and the message line says why. (What the name tells,
    // two files, a folder or another suffix, is refused while it is dragged:
    // tst_firsthour_keys.)
    void refused_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not UTF-8") << QStringList{"latin1.scss"} << "not UTF-8";
        QTest::newRow("NUL byte") << QStringList{"nul.scss"} << "not UTF-8";
        QTest::newRow("over 10 MB") << QStringList{"big.scss"} << "larger than 10 MB";
        QTest::newRow("missing") << QStringList{"gone.scss"} << "no such file";
    }
    void refused() {
        QFETCH(QStringList, files);
        QFETCH(QString, reason);
        write("a.scss", ".a { b: c }");
        write("b.scss", ".b { c: d }");
        write("folder/inside.scss", ".e { f: g }");
        write("latin1.scss", ".caf\xE9 { a: b }");
        write("nul.scss", QByteArray(".a { b: c }\0.d { e: f }", 23));
        write("notes.txt", ".a { b: c }");
        {
            QFile big(write("big.scss", ""));
            QVERIFY(big.resize(10 * 1024 * 1024 + 1));
        }
        QStringList paths;
        for (const QString& file : files)
            paths << folder->filePath(file);

        const QString before = sass->toPlainText();
        const QString cssBefore = css->toPlainText();
        const int conversions = form->conversionCount();
        const QString cwd = QDir::currentPath();
        const bool undoBefore = sass->document()->isUndoAvailable();
        QVERIFY(dropOn(sass->viewport(), filesMime(paths)));
        QCOMPARE(sass->toPlainText(), before);
        QCOMPARE(css->toPlainText(), cssBefore);
        QCOMPARE(form->conversionCount(), conversions);
        QCOMPARE(QDir::currentPath(), cwd);
        QCOMPARE(sass->document()->isUndoAvailable(), undoBefore);
        QCOMPARE(title->toolTip(), QString());
        QVERIFY2(message->text().contains(reason), qPrintable(message->text()));
        QCOMPARE(message->width(), message->sizeHint().width());
    }

    // Text without files goes in where it is dropped, as one conversion.
    void plainTextIsInserted() {
        sass->setPlainText(".a { b: c }");
        const int conversions = form->conversionCount();
        auto mime = std::make_unique<QMimeData>();
        mime->setText("\n.d { e: f }");
        QTextCursor end(sass->document());
        end.movePosition(QTextCursor::End);
        const QPoint at = sass->cursorRect(end).center() + QPoint(4, 0);
        QVERIFY(dropOn(sass->viewport(), std::move(mime), at));
        QCOMPARE(sass->toPlainText(), QString(".a { b: c }\n.d { e: f }"));
        QCOMPARE(form->conversionCount(), conversions + 1);
        QVERIFY(css->toPlainText().endsWith(".d {\n    e: f;\n}\n"));
    }
};

QTEST_MAIN(TstDrop)
#include "tst_drop.moc"
