// Times the real window, offscreen: one key press in the SCSS editor until its
// CSS is shown, split into the conversion through the library and the rest
// (editor updates, highlighting, error marks), and start-up to the first CSS.
//
//   bench_window SAMPLE.scss 1K.scss 8K.scss
#include "Options.h"
#include "PelorinForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTest>

#include <algorithm>
#include <cstdio>
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
    return 0;
}
