// Times the real window, offscreen: one key press in the SCSS editor until its
// CSS is shown, against the conversion of the same text through the library
// and by libsass in this process, and start-up to the first CSS shown; then
// what long CSS lines cost from conversion to shown: the last stylesheet with
// "Source Map Embed" turned on (one long base64 line), and a one-line 4 MB
// CSS; and a keystroke on the last stylesheet with 100 @warn rules.
//
//   bench_window SAMPLE.scss 1K.scss 8K.scss
//
// The key presses edit a number in a value near the middle of each text, so
// every press changes the CSS (a digit typed into it, then deleted), and an
// opening parenthesis typed there enters a Sass error that the next Backspace
// leaves. Each press follows 150 ms of idle, as in typing. "display" is the
// program's own share: key to CSS shown minus the conversion through the
// library; "own CPU" is the same share as CPU time of the program's thread
// during the press (Qt's key handling and the repaint of both editors
// included), "handler" the part of it from the SCSS document's change to the
// end of the program's handling of it (the layout of the edited line, the
// request to the library and its reply, the CSS's changed middle replaced),
// "key CPU" the whole press's CPU time plus the worker's,
// against libsass's own CPU time in this process ("bare CPU"): figures the
// machine's load hardly changes, unlike the wall-clock ones on a shared machine.
#include "Options.h"
#include "PelorinForm.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>
#include <QTextDocument>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double conversionMs(const QByteArray& scss) {
    QElapsedTimer t;
    t.start();
    VantorCompiler::CompilerOptions o = options;
    o.input = sass_copy_c_string(scss.constData());
    VantorCompiler::compile(o);
    VantorCompiler::error();
    VantorCompiler::free_memory();
    return t.nsecsElapsed() / 1e6;
}

// The same conversion by libsass in this process, on glibc's default allocator.
double bareMs(const QByteArray& scss) {
    QElapsedTimer t;
    t.start();
    Sass_Data_Context* data = sass_make_data_context(sass_copy_c_string(scss.constData()));
    Sass_Options* o = sass_data_context_get_options(data);
    sass_option_set_precision(o, 10);
    sass_option_set_source_comments(o, false);
    sass_option_set_source_map_embed(o, 0);
    sass_option_set_output_style(o, SASS_STYLE_EXPANDED);
    sass_option_set_indent(o, "    ");
    sass_data_context_set_options(data, o);
    Sass_Compiler* compiler = sass_make_data_compiler(data);
    sass_compiler_parse(compiler);
    sass_compiler_execute(compiler);
    sass_delete_compiler(compiler);
    sass_context_get_output_string(sass_data_context_get_context(data));
    sass_delete_data_context(data);
    return t.nsecsElapsed() / 1e6;
}

void pause() { QThread::msleep(150); }

// CPU time of this thread in ms. While the library waits for its worker this
// thread sleeps, so over a key press it is the program's own share.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double threadCpuSince(double startMs) { return threadCpuMs() - startMs; }

// CPU time of the compiler worker (all its threads) in ms, from the kernel's
// per-thread schedstat; the worker is this process's only child.
double workerCpuMs() {
    QString pid;
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children("/proc/self/task/" + task + "/children");
        if (children.open(QIODevice::ReadOnly)) {
            const QByteArray pids = children.readAll().trimmed();
            if (!pids.isEmpty()) {
                pid = QString::fromLatin1(pids.split(' ').first());
                break;
            }
        }
    }
    double ns = 0;
    if (pid.isEmpty())
        return 0;
    for (const QString& task : QDir("/proc/" + pid + "/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile sched("/proc/" + pid + "/task/" + task + "/schedstat");
        if (sched.open(QIODevice::ReadOnly))
            ns += sched.readAll().split(' ').first().toDouble();
    }
    return ns / 1e6;
}

struct Row {
    std::vector<double> key, convert, bare, ownCpu, handlerCpu, keyCpu, bareCpu;
};

// The thread's CPU time at the SCSS document's last change and at the end of
// the handling of it: the program reacts to the change between the two.
struct HandlerClock {
    double changed = 0;
    double handled = 0;
    void watch(QTextDocument* document) {
        QObject::connect(document, &QTextDocument::contentsChange, [this] { changed = threadCpuMs(); });
        QObject::connect(document, &QTextDocument::contentsChanged, [this] { handled = threadCpuMs(); });
    }
} handlerClock;

void print(const char* input, long long lines, const char* edit, const Row& row) {
    const double k = median(row.key), c = median(row.convert), b = median(row.bare);
    const double kc = median(row.keyCpu), bc = median(row.bareCpu);
    std::printf("%-12s %6lld %-17s %4zu %11.3f %10.3f %8.3f %10.3f %8.3f  %8.3f %8.3f %8.3f %8.3f %8.3f\n", input, lines,
                edit, row.key.size(), k, c, b, k - c, b > 0 ? k / b : 0, median(row.ownCpu), median(row.handlerCpu), kc,
                bc, bc > 0 ? kc / bc : 0);
    std::fflush(stdout);
}

// Presses `key`, waits until both editors have repainted, and times the
// conversions of the text it left.
void press(QPlainTextEdit* sass, Qt::Key key, Row& row) {
    pause();
    QElapsedTimer t;
    const double worker = workerCpuMs();
    const double cpu = threadCpuMs();
    t.start();
    QTest::keyClick(sass, key);
    QCoreApplication::processEvents();  // includes the repaint of both editors
    row.key.push_back(t.nsecsElapsed() / 1e6);
    const double own = threadCpuSince(cpu);
    row.ownCpu.push_back(own);
    row.handlerCpu.push_back(handlerClock.handled - handlerClock.changed);
    row.keyCpu.push_back(own + workerCpuMs() - worker);
    const QByteArray text = sass->toPlainText().trimmed().toUtf8();
    pause();
    row.convert.push_back(conversionMs(text));
    pause();
    const double bareCpu = threadCpuMs();
    row.bare.push_back(bareMs(text));
    row.bareCpu.push_back(threadCpuSince(bareCpu));
}

}  // namespace

int main(int argc, char** argv) {
    QElapsedTimer startup;
    startup.start();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    {
        pelorin::PelorinForm form;
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            return 1;
        QCoreApplication::processEvents();
        std::printf("start-up to first CSS shown: %.1f ms (QApplication, window, first conversion, first paint)\n\n",
                    startup.nsecsElapsed() / 1e6);
    }

    std::printf("%-12s %6s %-17s %4s %11s %10s %8s %10s %8s  %8s %8s %8s %8s %8s\n", "input", "lines", "edit", "runs",
                "key->CSS ms", "convert ms", "bare ms", "display ms", "key/bare", "own CPU", "handler", "key CPU",
                "bare CPU", "CPU k/b");
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        QFile file(argv[i]);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        const QByteArray scss = file.readAll();
        const QString text = QString::fromUtf8(scss);
        const QString name = QFileInfo(argv[i]).fileName();
        const long long lines = scss.count('\n') + 1;
        // A number right after a property's colon, at or after the middle of the text.
        static const QRegularExpression value(QStringLiteral("^\\s*[a-z-]+:\\s*\\d"),
                                              QRegularExpression::MultilineOption);
        QRegularExpressionMatch match = value.match(text, text.size() / 2);
        if (!match.hasMatch())
            match = value.match(text);
        if (!match.hasMatch()) {
            std::fprintf(stderr, "%s: no numeric value to edit\n", argv[i]);
            return 1;
        }
        const int at = int(match.capturedEnd());  // after the value's first digit

        pelorin::PelorinForm form;
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            return 1;
        auto* sass = form.findChild<QPlainTextEdit*>("SassEditor");
        auto* css = form.findChild<QPlainTextEdit*>("CssEditor");
        auto* message = form.findChild<QLabel*>("MessageBox");
        sass->setPlainText(text);
        QCoreApplication::processEvents();
        handlerClock.watch(sass->document());
        sass->setFocus();
        QTextCursor cursor = sass->textCursor();
        cursor.setPosition(at);
        sass->setTextCursor(cursor);
        sass->centerCursor();
        QCoreApplication::processEvents();

        const int runs = scss.size() > 100000 ? 15 : 31;
        Row edit, enter, leave;
        bool unchanged = false, noError = false, errorStays = false;
        for (int r = 0; r < runs; ++r) {
            // A digit typed into the number and deleted again: both change the CSS.
            for (Qt::Key key : {Qt::Key_1, Qt::Key_Backspace}) {
                const QString before = css->toPlainText();
                press(sass, key, edit);
                unchanged |= css->toPlainText() == before;
            }
            press(sass, Qt::Key_ParenLeft, enter);
            noError |= message->text().isEmpty();
            press(sass, Qt::Key_Backspace, leave);
            errorStays |= !message->text().isEmpty();
        }
        const QByteArray shortName = name.toUtf8();
        print(shortName.constData(), lines, "digit in a value", edit);
        print(shortName.constData(), lines, "enters an error", enter);
        print(shortName.constData(), lines, "leaves the error", leave);
        if (unchanged || noError || errorStays || sass->toPlainText() != text) {
            std::fprintf(stderr, "warning: %s: the edits did not do what they should%s%s%s\n", argv[i],
                         unchanged ? " (a press left the CSS as it was)" : "",
                         noError ? " (no error entered)" : "", errorStays ? " (the error stayed)" : "");
            status = 1;
        }
    }

    if (argc < 2)
        return status;
    QFile last(argv[argc - 1]);
    if (!last.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray scss = last.readAll();
    std::printf("\nLong CSS lines, from conversion to shown (the window's work beyond the conversion):\n");
    {
        pelorin::PelorinForm form;
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            return 1;
        auto* sass = form.findChild<QPlainTextEdit*>("SassEditor");
        auto* css = form.findChild<QPlainTextEdit*>("CssEditor");
        sass->setPlainText(QString::fromUtf8(scss));
        QCoreApplication::processEvents();
        QAction* map = form.findChild<QAction*>("sourceMapEmbedToolStripMenuItem");
        std::vector<double> shown, convert, cpu;
        for (int r = 0; r < 6; ++r) {
            QElapsedTimer t;
            t.start();
            const double cpu0 = threadCpuMs();
            map->trigger();
            QCoreApplication::processEvents();
            css->viewport()->repaint();
            const double ms = t.nsecsElapsed() / 1e6;
            if (options.source_map_embed) {
                shown.push_back(ms);
                cpu.push_back(threadCpuMs() - cpu0);
                convert.push_back(conversionMs(sass->toPlainText().trimmed().toUtf8()));
            }
        }
        qsizetype longest = 0;
        for (const QString& line : css->toPlainText().split(u'\n'))
            longest = qMax(longest, line.size());
        std::printf("  %-44s %10.1f ms total, %8.1f ms conversion, %8.1f ms beyond, %8.1f ms window CPU"
                    " (longest line %lld chars)\n",
                    qPrintable(QFileInfo(argv[argc - 1]).fileName() + ", Source Map Embed turned on"),
                    median(shown), median(convert), median(shown) - median(convert), median(cpu),
                    static_cast<long long>(longest));
    }
    {
        pelorin::PelorinForm form;
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            return 1;
        auto* sass = form.findChild<QPlainTextEdit*>("SassEditor");
        auto* css = form.findChild<QPlainTextEdit*>("CssEditor");
        const QString huge = "a{b:url(data:image/png;base64," + QString(4 * 1024 * 1024, u'Q') + ")}";
        QElapsedTimer t;
        t.start();
        const double cpu0 = threadCpuMs();
        sass->setPlainText(huge);
        QCoreApplication::processEvents();
        sass->viewport()->repaint();
        css->viewport()->repaint();
        const double pasted = t.nsecsElapsed() / 1e6;
        const double pastedCpu = threadCpuMs() - cpu0;
        const double c = conversionMs(huge.toUtf8());
        std::printf("  %-44s %10.1f ms total, %8.1f ms conversion, %8.1f ms beyond, %8.1f ms window CPU"
                    " (both editors)\n",
                    "4 MB one-line rule pasted as SCSS", pasted, c, pasted - c, pastedCpu);
        // From conversion to shown: each output style gives the CSS view a new 4 MB line.
        std::vector<double> shown, convert, cpu;
        for (const char* item : {"compressedToolStripMenuItem", "expandedToolStripMenuItem",
                                 "compressedToolStripMenuItem", "expandedToolStripMenuItem"}) {
            t.restart();
            const double before = threadCpuMs();
            form.findChild<QAction*>(item)->trigger();
            QCoreApplication::processEvents();
            css->viewport()->repaint();
            shown.push_back(t.nsecsElapsed() / 1e6);
            cpu.push_back(threadCpuMs() - before);
            convert.push_back(conversionMs(huge.toUtf8()));
        }
        std::printf("  %-44s %10.1f ms total, %8.1f ms conversion, %8.1f ms beyond, %8.1f ms window CPU"
                    " (CSS %lld chars)\n",
                    "4 MB one-line CSS, output style changed", median(shown), median(convert),
                    median(shown) - median(convert), median(cpu), static_cast<long long>(css->toPlainText().size()));
    }

    std::printf("\nOne keystroke with 100 @warn rules spread over %s:\n", qPrintable(QFileInfo(argv[argc - 1]).fileName()));
    {
        // Each before a top-level rule, so that the stylesheet stays valid.
        const QList<QByteArray> lines = scss.split('\n');
        QList<qsizetype> rules;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (lines.at(i).startsWith('.'))
                rules.append(i);
        }
        QList<QByteArray> out;
        qsizetype next = 0;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (next < 100 && !rules.isEmpty() && i == rules.at(next * rules.size() / 100)) {
                out.append("@warn \"deprecated, see rule " + QByteArray::number(next) + "\";");
                ++next;
            }
            out.append(lines.at(i));
        }
        const QByteArray warned = out.join('\n');
        VantorCompiler::CompilerOptions o = options;
        o.input = sass_copy_c_string(warned.constData());
        VantorCompiler::compile(o);
        const int count = VantorCompiler::warning_count();
        VantorCompiler::free_memory();
        if (count == 0) {
            std::printf("  the library reports no warnings yet (warning_count() is 0): nothing to measure\n");
            return status;
        }
        pelorin::PelorinForm form;
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            return 1;
        auto* sass = form.findChild<QPlainTextEdit*>("SassEditor");
        sass->setPlainText(QString::fromUtf8(warned));
        QCoreApplication::processEvents();
        sass->setFocus();
        sass->moveCursor(QTextCursor::End);
        std::vector<double> key, convert;
        for (int r = 0; r < 15; ++r) {
            QElapsedTimer t;
            t.start();
            QTest::keyClick(sass, r % 2 ? Qt::Key_Backspace : Qt::Key_Space);
            QCoreApplication::processEvents();
            key.push_back(t.nsecsElapsed() / 1e6);
            convert.push_back(conversionMs(sass->toPlainText().trimmed().toUtf8()));
        }
        std::printf("  %d warnings: key->CSS %.3f ms, convert %.3f ms, display %.3f ms\n", count, median(key),
                    median(convert), median(key) - median(convert));
    }
    return status;
}
