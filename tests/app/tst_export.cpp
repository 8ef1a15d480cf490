#include "ExportsFolder.h"
#include "Options.h"
#include "PelorinForm.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using pelorin::PelorinForm;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Root ignores file permissions; drop to an unprivileged user while a denied write is tried.
class WithoutPrivileges {
public:
    WithoutPrivileges() : wasRoot(geteuid() == 0) {
        if (wasRoot)
            dropped = seteuid(65534) == 0;
    }
    ~WithoutPrivileges() {
        if (dropped && seteuid(0) != 0)
            qFatal("could not restore the effective user");
    }
    bool denied() const { return !wasRoot || dropped; }

private:
    bool wasRoot;
    bool dropped = false;
};

}  // namespace

class TstExport : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    PelorinForm* form = nullptr;
    QPlainTextEdit* sass = nullptr;
    QPlainTextEdit* css = nullptr;
    QLabel* message = nullptr;
    QLabel* status = nullptr;
    QList<QUrl> opened;

    void setSource(const QString& text) {
        sass->selectAll();
        sass->insertPlainText(text);
    }
    void exportCss() { form->findChild<QAction*>("CssEditorCtxDownload")->trigger(); }
    QString folder() const { return home.path() + "/Documents/Vantor Exports"; }
    QString file() const { return folder() + "/pelorin_converted_css.css"; }

public slots:
    void openUrl(const QUrl& url) { opened << url; }

private slots:
    void initTestCase() {
        QVERIFY(home.isValid());
        // The documents folder follows HOME when no user-dirs file names another.
        qputenv("HOME", home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
        QCOMPARE(pelorin::exportsFolder(), folder());
        QCOMPARE(pelorin::exportFilePath(), file());
        QDesktopServices::setUrlHandler("file", this, "openUrl");
    }
    void init() {
        QVERIFY(QDir(home.path() + "/Documents").removeRecursively());
        options = VantorCompiler::CompilerOptions();
        opened.clear();
        form = new PelorinForm;
        sass = form->findChild<QPlainTextEdit*>("SassEditor");
        css = form->findChild<QPlainTextEdit*>("CssEditor");
        message = form->findChild<QLabel*>("MessageBox");
        status = form->findChild<QLabel*>("Status");
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
    }
    void cleanup() {
        delete form;
        form = nullptr;
    }

    void firstExportCreatesFolderAndFile() {
        QVERIFY(!QDir(folder()).exists());
        const QString sassText = sass->toPlainText();
        const QString cssText = css->toPlainText();
        const QString statusText = status->text();
        const int conversions = form->conversionCount();

        exportCss();
        QCOMPARE(readAll(file()), cssText.toUtf8());
        // A successful export changes nothing on screen.
        QCOMPARE(message->text(), QString());
        QCOMPARE(status->text(), statusText);
        QCOMPARE(sass->toPlainText(), sassText);
        QCOMPARE(css->toPlainText(), cssText);
        QCOMPARE(form->conversionCount(), conversions);
    }

    void laterExportsReplaceTheFile_data() {
        QTest::addColumn<QString>("scss");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("shorter") << "a{b:c}" << QByteArray("a {\n    b: c;\n}\n");
        QTest::newRow("UTF-8 without BOM")
            << QString::fromUtf8("a{content:\"é→✓\"}")
            << QByteArray("@charset \"UTF-8\";\na {\n    content: \"\xc3\xa9\xe2\x86\x92\xe2\x9c\x93\";\n}\n");
        QTest::newRow("empty after an error") << "a{b:}" << QByteArray();
    }
    void laterExportsReplaceTheFile() {
        QFETCH(QString, scss);
        QFETCH(QByteArray, bytes);
        exportCss();
        QVERIFY(readAll(file()).size() > 100);
        setSource(scss);
        exportCss();
        QCOMPARE(readAll(file()), bytes);
    }

    void failedExportKeepsThePreviousFile() {
        exportCss();
        const QByteArray previous = readAll(file());
        setSource("a{b:c}");
        const QString messageBefore = message->text();
        QVERIFY(chmod(QFile::encodeName(folder()).constData(), 0555) == 0);
        {
            WithoutPrivileges user;
            if (!user.denied()) {
                chmod(QFile::encodeName(folder()).constData(), 0755);
                QSKIP("cannot drop privileges here");
            }
            exportCss();
        }
        QVERIFY(chmod(QFile::encodeName(folder()).constData(), 0755) == 0);
        QCOMPARE(readAll(file()), previous);
        QVERIFY2(message->text().startsWith("ERROR : Could not export the CSS to " + file() + ": "),
                 qPrintable(message->text()));
        QVERIFY(message->text().size() > QString("ERROR : Could not export the CSS to " + file() + ": ").size());
        QVERIFY(messageBefore.isEmpty());
        QCOMPARE(sass->toPlainText(), QString("a{b:c}"));
        QCOMPARE(css->toPlainText(), QString("a {\n    b: c;\n}\n"));
        // No stray temporary file is left beside the export.
        QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList({"pelorin_converted_css.css"}));
    }

    void openExportsFolderCreatesAndOpensIt() {
        QVERIFY(!QDir(folder()).exists());
        auto* label = form->findChild<QLabel*>("ExportsFolderLabel");
        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(QDir(folder()).exists());
        QCOMPARE(opened, QList<QUrl>({QUrl::fromLocalFile(folder() + "/")}));
        QCOMPARE(message->text(), QString());
    }
};

QTEST_MAIN(TstExport)
#include "tst_export.moc"
