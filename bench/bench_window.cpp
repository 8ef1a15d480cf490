// Times the real window, offscreen: one key press in the SCSS editor until its
// CSS is shown, split into the conversion through the library and the rest
// (editor updates, highlighting, error marks), and start-up to the first CSS;
// then what long CSS lines cost from conversion to shown: the last stylesheet
// with "Source Map Embed" turned on (one long base64 line), and a one-line
// 4 MB CSS; and a keystroke on the last stylesheet with 100 @warn rules.
//
//   bench_window SAMPLE.scss 1K.scss 8K.scss
#include "Options.h"
#include "PelorinForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QAction>
#include <QPlainTextEdit>
#include <QTest>

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

// CPU time of this thread, the window's own work: the conversion runs in the
// worker process and waiting for it costs none. Unlike wall-clock time it does
// not grow with other programs' load.
double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
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

    std::printf("%-14s %8s %12s %12s %12s %8s\n", "input", "lines", "key->CSS ms", "convert ms", "display ms", "ratio");
    for (int i = 1; i < argc; ++i) {
        QFile file(argv[i]);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        const QByteArray scss = file.readAll();
        pelorin::PelorinForm form;
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            return 1;
        auto* sass = form.findChild<QPlainTextEdit*>("SassEditor");
        auto* css = form.findChild<QPlainTextEdit*>("CssEditor");
        sass->setPlainText(QString::fromUtf8(scss));
        QCoreApplication::processEvents();
        sass->setFocus();
        sass->moveCursor(QTextCursor::End);

        const int runs = scss.size() > 100000 ? 15 : 41;
        std::vector<double> key, convert;
        for (int r = 0; r < runs; ++r) {
            // Alternate typing and deleting a space at the end, so each press changes the text.
            QElapsedTimer t;
            t.start();
            QTest::keyClick(sass, r % 2 ? Qt::Key_Backspace : Qt::Key_Space);
            QCoreApplication::processEvents();  // includes the repaint of both editors
            key.push_back(t.nsecsElapsed() / 1e6);
            convert.push_back(conversionMs(sass->toPlainText().trimmed().toUtf8()));
        }
        const double k = median(key), c = median(convert);
        std::printf("%-14s %8lld %12.3f %12.3f %12.3f %8.3f\n", qPrintable(QFileInfo(argv[i]).fileName()),
                    static_cast<long long>(scss.count('\n') + 1), k, c, k - c, c > 0 ? k / c : 0);
        if (css->toPlainText().isEmpty())
            std::fprintf(stderr, "warning: %s gave no CSS\n", argv[i]);
    }

    if (argc < 2)
        return 0;
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
            return 0;
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
    return 0;
}
