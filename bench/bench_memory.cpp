// Resident memory of this process and of the compiler worker after 100 and
// after N conversions (default 10,000) of one stylesheet, through the library
// alone and through the window with its highlighting.
//
//   bench_memory STYLESHEET.scss [N]
#include "Options.h"
#include "PelorinForm.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTest>

#include <cstdio>

namespace {

// VmRSS of a process in KiB, 0 when it cannot be read.
long residentKiB(const QString& pid) {
    QFile status("/proc/" + pid + "/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

// The compiler worker is this process's only child.
QString workerPid() {
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children("/proc/self/task/" + task + "/children");
        if (children.open(QIODevice::ReadOnly)) {
            const QByteArray pids = children.readAll().trimmed();
            if (!pids.isEmpty())
                return QString::fromLatin1(pids.split(' ').first());
        }
    }
    return QString();
}

void report(const char* path, int done) {
    std::printf("%-8s %7d conversions: program %8ld KiB, worker %8ld KiB\n", path, done, residentKiB("self"),
                residentKiB(workerPid()));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_memory STYLESHEET.scss [N]\n");
        return 2;
    }
    QFile file(argv[1]);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray scss = file.readAll();
    const int total = argc > 2 ? std::atoi(argv[2]) : 10000;

    for (int i = 1; i <= total; ++i) {
        VantorCompiler::CompilerOptions o;
        o.input = sass_copy_c_string(scss.constData());
        VantorCompiler::compile(o);
        VantorCompiler::error();
        VantorCompiler::free_memory();
        if (i == 100 || i == total)
            report("library", i);
    }

    pelorin::PelorinForm form;
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    auto* sass = form.findChild<QPlainTextEdit*>("SassEditor");
    sass->setPlainText(QString::fromUtf8(scss));
    sass->setFocus();
    sass->moveCursor(QTextCursor::End);
    for (int i = 1; i <= total; ++i) {
        QTest::keyClick(sass, i % 2 ? Qt::Key_Space : Qt::Key_Backspace);
        QCoreApplication::processEvents();
        if (i == 100 || i == total)
            report("window", i);
    }
    return 0;
}
