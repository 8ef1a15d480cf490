#include "ExportsFolder.h"
#include "Options.h"
#include "PelorinForm.h"

#include <QAction>
#include <QApplication>
#include <QMimeData>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

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

// Runs `child` in a forked copy of this process and returns what it wrote to
// its report, or "<crashed>" when it did not end normally within a minute.
// The child ends with _exit(), so nothing of the test process runs twice.
QByteArray inChild(const std::function<QByteArray()>& child) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return "<no pipe>";
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        const QByteArray report = child();
        qsizetype done = 0;
        while (done < report.size()) {
            const ssize_t n = write(pipeFds[1], report.constData() + done, size_t(report.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
        _exit(0);
    }
    close(pipeFds[1]);
    QByteArray report;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        report.append(buffer, n);
    close(pipeFds[0]);
    int status = 0;
    for (int i = 0; i < 600 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        usleep(100000);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return "<crashed>";
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? report : QByteArray("<crashed>");
}

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
        QTest::newRow("empty: only variables") << "$a: 1;" << QByteArray();
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
        // The path once, not again in the system's reason.
        QCOMPARE(message->text().count(folder()), 1);
        QVERIFY(messageBefore.isEmpty());
        QCOMPARE(sass->toPlainText(), QString("a{b:c}"));
        QCOMPARE(css->toPlainText(), QString("a {\n    b: c;\n}\n"));
        // No stray temporary file is left beside the export.
        QCOMPARE(QDir(folder()).entryList(QDir::Files), QStringList({"pelorin_converted_css.css"}));
    }

    // The exports folder cannot be made in a read-only documents folder: the message names
    // the path once.
    void exportWhereTheFolderCannotBeMade() {
        const QString documents = home.path() + "/Documents";
        QVERIFY(QDir().mkpath(documents));
        QVERIFY(chmod(QFile::encodeName(documents).constData(), 0555) == 0);
        {
            WithoutPrivileges user;
            if (!user.denied()) {
                chmod(QFile::encodeName(documents).constData(), 0755);
                QSKIP("cannot drop privileges here");
            }
            exportCss();
        }
        QVERIFY(chmod(QFile::encodeName(documents).constData(), 0755) == 0);
        QVERIFY(!QFile::exists(file()));
        QVERIFY2(message->text().startsWith("ERROR : Could not export the CSS to " + file() + ": "),
                 qPrintable(message->text()));
        QCOMPARE(message->text().count(folder()), 1);
    }

    // Qt 6.4's QSaveFile::commit() reports success when the flush of its
    // buffer fails; the export must not. A small RLIMIT_FSIZE (SIGXFSZ
    // ignored, so the write fails with EFBIG) in a child process cuts the new
    // file short: the previous file stays byte for byte, the reason is shown,
    // no temporary file is left, and a later export that succeeds clears it.
    void exportCutShortByTheFileSizeLimit() {
        exportCss();
        const QByteArray previous = readAll(file());
        QVERIFY(previous.size() > 100);
        QString scss;
        for (int i = 0; i < 200; ++i)
            scss += QString(".r%1 { width: %1px; }\n").arg(i);
        setSource(scss);
        const QByteArray wanted = css->toPlainText().toUtf8();
        QVERIFY(wanted.size() > 4000);

        const QByteArray report = inChild([&] {
            signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            getrlimit(RLIMIT_FSIZE, &limit);
            const rlimit small{1000, limit.rlim_max};
            setrlimit(RLIMIT_FSIZE, &small);
            exportCss();
            QByteArray out = message->text().toUtf8() + '\0';
            out += (readAll(file()) == previous ? "kept" : "replaced") + QByteArray(1, '\0');
            out += QDir(folder()).entryList(QDir::Files | QDir::Hidden).join(u',').toUtf8() + '\0';
            setrlimit(RLIMIT_FSIZE, &limit);
            exportCss();
            out += message->text().toUtf8() + '\0';
            out += readAll(file()) == wanted ? "written" : "not written";
            return out;
        });
        const QList<QByteArray> parts = report.split('\0');
        QCOMPARE(parts.size(), 5);
        QCOMPARE(QString::fromUtf8(parts.at(0)),
                 "ERROR : Could not export the CSS to " + file() + ": File too large");
        QCOMPARE(parts.at(1), QByteArray("kept"));
        QCOMPARE(parts.at(2), QByteArray("pelorin_converted_css.css"));
        QCOMPARE(parts.at(3), QByteArray());
        QCOMPARE(parts.at(4), QByteArray("written"));
    }

    // The same on a real full filesystem: a 256 KB tmpfs mounted over the
    // exports folder in a private mount namespace of a child process.
    void exportOnAFullFilesystem() {
        const QByteArray report = inChild([&]() -> QByteArray {
            if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                return "skip";
            QDir().mkpath(folder());
            if (mount("tmpfs", QFile::encodeName(folder()).constData(), "tmpfs", 0, "size=256k") != 0)
                return "skip";
            exportCss();
            const QByteArray previous = readAll(file());
            // Fill the filesystem to the last byte.
            const QByteArray filler = QFile::encodeName(folder() + "/filler");
            const int fd = open(filler.constData(), O_WRONLY | O_CREAT, 0644);
            const QByteArray block(4096, 'x');
            while (write(fd, block.constData(), block.size()) > 0) {
            }
            while (write(fd, block.constData(), 1) > 0) {
            }
            close(fd);
            css->setPlainText(QString("a { b: c; }\n").repeated(50));
            exportCss();
            QByteArray out = message->text().toUtf8() + '\0';
            out += (readAll(file()) == previous ? "kept" : "replaced") + QByteArray(1, '\0');
            out += QDir(folder()).entryList(QDir::Files | QDir::Hidden).join(u',').toUtf8() + '\0';
            QFile::remove(QFile::decodeName(filler));
            exportCss();
            out += message->text().toUtf8() + '\0';
            out += readAll(file()) == QString("a { b: c; }\n").repeated(50).toUtf8() ? "written" : "not written";
            return out;
        });
        if (report == "skip")
            QSKIP("cannot mount a tmpfs in a private mount namespace here (needs root)");
        const QList<QByteArray> parts = report.split('\0');
        QCOMPARE(parts.size(), 5);
        QCOMPARE(QString::fromUtf8(parts.at(0)),
                 "ERROR : Could not export the CSS to " + file() + ": No space left on device");
        QCOMPARE(parts.at(1), QByteArray("kept"));
        QCOMPARE(parts.at(2), QByteArray("filler,pelorin_converted_css.css"));
        QCOMPARE(parts.at(3), QByteArray());
        QCOMPARE(parts.at(4), QByteArray("written"));
    }

    // While the text has an error of any kind the CSS view holds no CSS of it: Export writes
    // nothing, keeps the last export (creates none where there was none) and says so. Once
    // the text converts again, Export writes again.
    void exportDuringAnErrorKeepsTheLastExport_data() {
        QTest::addColumn<QString>("scss");
        QTest::addColumn<bool>("exportedBefore");
        QTest::addColumn<bool>("dartSass");
        QTest::newRow("Sass error") << "a { b: $nope; }" << true << false;
        QTest::newRow("Sass error, no export yet") << "a { b: $nope; }" << false << false;
        QTest::newRow("unclosed block") << ".oops {" << true << false;
        QTest::newRow("@use refused by libsass") << "@use \"sass:math\";\na { b: math.div(1, 2); }" << true << false;
        QTest::newRow("NUL character") << QString("a { b: c; }") + QChar(0) << true << false;
        QTest::newRow("stopped at the CPU-time limit") << "@while true { $i: 1; }" << true << false;
        QTest::newRow("Dart Sass error") << ".oops {" << true << true;
    }
    void exportDuringAnErrorKeepsTheLastExport() {
        QFETCH(QString, scss);
        QFETCH(bool, exportedBefore);
        QFETCH(bool, dartSass);
        if (dartSass) {
            if (const char* problem = VantorCompiler::engine_error(VantorCompiler::DartSass))
                QSKIP(problem);
            form->findChild<QAction*>("dartSassToolStripMenuItem")->trigger();
        }
        if (exportedBefore)
            exportCss();
        const QByteArray previous = readAll(file());
        QCOMPARE(previous.size() > 100, exportedBefore);
        setSource(scss);
        QVERIFY(!message->text().isEmpty());
        exportCss();
        QCOMPARE(message->text(), QString("Nothing exported: the SCSS has an error. The last export is kept."));
        QCOMPARE(readAll(file()), previous);
        QCOMPARE(QDir(folder()).exists(), exportedBefore);
        QCOMPARE(sass->toPlainText(), scss);
        setSource("a { b: c; }");
        QCOMPARE(message->text(), QString());
        exportCss();
        QCOMPARE(readAll(file()), QByteArray("a {\n    b: c;\n}\n"));
        QCOMPARE(message->text(), QString());
    }

    // A successful export clears a failure the window showed for an earlier drop or
    // exports-folder action, which would read as this export's; a conversion's error stays.
    void successfulExportClearsAnEarlierFailure() {
        // A dropped file that is not there.
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(home.path() + "/missing.scss")});
        QWidget* viewport = sass->viewport();
        const QPoint at = viewport->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &drop);
        QVERIFY2(message->text().startsWith("ERROR : Could not open"), qPrintable(message->text()));
        exportCss();
        QCOMPARE(message->text(), QString());
        QVERIFY(readAll(file()).size() > 100);
        // The exports folder cannot be created where a file stands in its way.
        QVERIFY(QDir(folder()).removeRecursively());
        QFile blocker(folder());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QTest::mouseClick(form->findChild<QLabel*>("ExportsFolderLabel"), Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(message->text(), "ERROR : Could not create the exports folder " + folder());
        QVERIFY(QFile::remove(folder()));
        exportCss();
        QCOMPARE(message->text(), QString());
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
