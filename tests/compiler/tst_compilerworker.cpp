// The library's worker process: inputs that hang, crash or exhaust libsass
// cost only the worker, and the worker's lifetime is tied to the program's.
#include <VantorCompiler.h>

#include <QtTest>

#include <csignal>
#include <cstdlib>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define VANTOR_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VANTOR_ASAN 1
#endif
#endif

using VantorCompiler::CompilerOptions;

namespace {

const QByteArray TimeLimitText =
    "Compilation stopped after 2 seconds: the stylesheet does not finish (an endless @while or a very large @for?)";
const QByteArray SegvText = "The Sass compiler failed on this input (SIGSEGV). Your text is unchanged.";
const QByteArray CrashPrefix = "The Sass compiler failed on this input (";

struct Result {
    bool cssNull = true;
    QByteArray css;
    bool errorNull = true;
    QByteArray error;
    int line = 0;
    int column = 0;
    qint64 ms = 0;
};

Result convert(const QByteArray& scss) {
    CompilerOptions options;
    options.input = sass_copy_c_string(scss.constData());
    QElapsedTimer timer;
    timer.start();
    Result r;
    const char* css = VantorCompiler::compile(options);
    r.ms = timer.elapsed();
    r.cssNull = css == nullptr;
    r.css = css;
    const char* error = VantorCompiler::error();
    r.errorNull = error == nullptr;
    r.error = error;
    r.line = VantorCompiler::error_line();
    r.column = VantorCompiler::error_column();
    VantorCompiler::free_memory();
    return r;
}

QByteArray nested(const QByteArray& open, const QByteArray& inner, int depth) {
    return open.repeated(depth) + inner + QByteArray("}").repeated(depth);
}

// The direct children of process pid, from the kernel's list.
QList<pid_t> childrenOf(pid_t pid) {
    QList<pid_t> children;
    QFile file(QString("/proc/%1/task/%1/children").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return children;
    for (const QByteArray& id : file.readAll().split(' '))
        if (!id.trimmed().isEmpty())
            children << pid_t(id.trimmed().toInt());
    return children;
}

// This process's running worker (the library starts it on first use).
pid_t currentWorker() {
    for (pid_t child : childrenOf(getpid())) {
        QFile comm(QString("/proc/%1/comm").arg(child));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("vantor-compiler"))
            return child;
    }
    return -1;
}

void killCurrentWorker() {
    const pid_t worker = currentWorker();
    if (worker < 0)
        return;
    kill(worker, SIGKILL);
    waitpid(worker, nullptr, 0);
}

void expectOrdinaryConversion() {
    const Result r = convert("a { b { c: d } }");
    QCOMPARE(r.css, QByteArray("a b {\n    c: d;\n}\n"));
    QVERIFY(r.errorNull);
}

}  // namespace

class TstCompilerWorker : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(fifoDir.isValid()); }

    void harmfulInputs_data() {
        QTest::addColumn<QByteArray>("scss");
        // limit: stopped at the time limit; segv: the worker crashed at once;
        // crashOrLimit: unbounded recursion that overflows the large stack, or
        // runs out of time first; error: any error, libsass's or the limit's.
        QTest::addColumn<QString>("expect");
        QTest::newRow("@while before the decrement") << QByteArray("$i: 3; @while $i > 0 { }") << "limit";
        QTest::newRow("@while on a number, growing")
            << QByteArray("$i: 3; @while $i { .w#{$i} { z: $i } $i: $i - 1 }") << "limit";
        QTest::newRow("@for to a billion") << QByteArray("@for $i from 1 through 1000000000 {}") << "limit";
        QTest::newRow("@extend in @keyframes") << QByteArray("@keyframes k{from{@extend .a}}") << "segv";
        QTest::newRow("selector-nest(&)") << QByteArray("a{b:selector-nest(\"&\")}") << "segv";
        QTest::newRow("if() with &") << QByteArray("a{b:if(true,&,1)}") << "segv";
        QTest::newRow(":r(n of) with &") << QByteArray(":r(n of){$x:&;o{a:$x}}") << "segv";
        QTest::newRow(":not(&) in +") << QByteArray("+{:not(&){_:(&)}}") << "crashOrLimit";
        QTest::newRow("recursive default argument") << QByteArray("@function f($a:f()){@return $a}a{b:f()}")
                                                    << "crashOrLimit";
        QTest::newRow("a,b{ 18 deep") << nested("a,b{", "c:d", 18) << "error";
        QTest::newRow("@import of a named pipe")
            << QByteArray("@import \"" + fifoDir.path().toUtf8() + "/pipe\";") << "limit";
    }
    void harmfulInputs() {
        QFETCH(QByteArray, scss);
        QFETCH(QString, expect);
        if (QTest::currentDataTag() == QByteArray("@import of a named pipe")) {
            const QByteArray fifo = fifoDir.path().toUtf8() + "/pipe.scss";
            QVERIFY(mkfifo(fifo.constData(), 0600) == 0 || errno == EEXIST);
        }

        const Result r = convert(scss);
        QVERIFY(r.cssNull);
        QVERIFY2(r.ms < 5000, qPrintable(QString::number(r.ms)));
        if (expect == "limit")
            QCOMPARE(r.error, TimeLimitText);
        else if (expect == "segv")
            QCOMPARE(r.error, SegvText);
        else if (expect == "crashOrLimit")
            QVERIFY2(r.error == TimeLimitText || r.error.startsWith(CrashPrefix), r.error.constData());
        else
            QVERIFY2(!r.errorNull && !r.error.startsWith(CrashPrefix), r.error.constData());
        if (r.error == TimeLimitText || r.error.startsWith(CrashPrefix)) {
            // The library's own errors have no position in the text.
            QCOMPARE(r.line, 0);
            QCOMPARE(r.column, 0);
        }
        // The test process is still here, and the next conversion works.
        expectOrdinaryConversion();
    }

    void deepNesting_data() {
        QTest::addColumn<QByteArray>("scss");
        // css or error: what must come back; either: CSS, or a clear error such
        // as the time limit for nestings whose CSS grows with the square of the depth.
        QTest::addColumn<QString>("expect");
        const int depth = 10000;
        QTest::newRow("@media") << nested("@media screen{", "a{b:c}", depth) << "css";
        QTest::newRow("@if") << nested("@if true{", "a{b:c}", depth) << "css";
        QTest::newRow("@each") << nested("@each $x in 1{", "a{b:c}", depth) << "css";
        QTest::newRow("@at-root") << "a{" + nested("@at-root{", "b{c:d}", depth) + "}" << "css";
        // Converts in about a second, near the limit on a loaded machine.
        QTest::newRow("nested properties") << "a{" + nested("b:{", "c:d", depth) + "}" << "either";
        QTest::newRow("@supports") << nested("@supports (a:b){", "a{b:c}", depth) << "either";
        QTest::newRow("unknown at-rule") << nested("@foo{", "a{b:c}", depth) << "either";
        QTest::newRow("@include with content")
            << "@mixin m{@content}" + nested("@include m{", "a{b:c}", depth) << "error";
        QTest::newRow("plain rules") << nested("a{", "b:c", depth) << "error";
    }
    void deepNesting() {
        QFETCH(QByteArray, scss);
        QFETCH(QString, expect);
        const Result r = convert(scss);
        QVERIFY2(!r.error.startsWith(CrashPrefix), r.error.constData());
        QVERIFY2(r.cssNull != r.errorNull, r.error.constData());
        if (expect == "css")
            QVERIFY2(!r.cssNull, r.error.constData());
        else if (expect == "error")
            QVERIFY(r.cssNull);
        expectOrdinaryConversion();
    }

    void largeTextBothWays() {
        // Far more than a pipe holds, in both directions.
        QByteArray scss;
        for (int i = 0; i < 8000; ++i)
            scss += ".c" + QByteArray::number(i) + " { width: " + QByteArray::number(i) + "px; }\n";
        QVERIFY(scss.size() > 3 * 65536);
        const Result r = convert(scss);
        QVERIFY2(r.errorNull, r.error.constData());
        QVERIFY(r.css.startsWith(".c0 {\n    width: 0px;\n}\n"));
        QVERIFY(r.css.endsWith(".c7999 {\n    width: 7999px;\n}\n"));
        QCOMPARE(r.css.count('{'), 8000);
    }

    void workerKilledWhileIdle() {
        expectOrdinaryConversion();
        const pid_t before = currentWorker();
        QVERIFY(before > 0);
        killCurrentWorker();
        // Replaced silently: the conversion had not reached it yet.
        expectOrdinaryConversion();
        const pid_t after = currentWorker();
        QVERIFY(after > 0);
        QVERIFY(after != before);
    }

    void workerFollowsTheWorkingDirectory() {
        expectOrdinaryConversion();  // a worker started before the change
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile part(dir.filePath("_part.scss"));
        QVERIFY(part.open(QIODevice::WriteOnly));
        part.write("$w: 3px; .part { width: $w; }\n");
        part.close();
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        const Result inside = convert("@import \"part\"; a { b: $w; }");
        QVERIFY(QDir::setCurrent(previous));
        QVERIFY2(inside.errorNull, inside.error.constData());
        QCOMPARE(inside.css, QByteArray(".part {\n    width: 3px;\n}\n\na {\n    b: 3px;\n}\n"));
        // Back in the previous directory, the relative import no longer resolves.
        const Result outside = convert("@import \"part\"; a { b: $w; }");
        QVERIFY(outside.cssNull);
        QVERIFY2(outside.error.startsWith("File to import not found or unreadable: part"), outside.error.constData());
    }

    void addressSpaceCapped() {
#if defined(VANTOR_ASAN)
        QSKIP("AddressSanitizer needs more address space than the cap allows; the worker runs uncapped");
#endif
        expectOrdinaryConversion();
        const pid_t worker = currentWorker();
        QVERIFY(worker > 0);
        QFile limits(QString("/proc/%1/limits").arg(worker));
        QVERIFY(limits.open(QIODevice::ReadOnly));
        const QByteArray text = limits.readAll();
        const int at = text.indexOf("Max address space");
        QVERIFY(at >= 0);
        const QList<QByteArray> fields = text.mid(at, text.indexOf('\n', at) - at).simplified().split(' ');
        QCOMPARE(fields.value(3), QByteArray("2147483648"));
        QCOMPARE(fields.value(4), QByteArray("2147483648"));
    }

    void workerNotStarted_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "/nonexistent/vantor-compiler-worker" << "No such file or directory";
        QTest::newRow("not executable") << QFINDTESTDATA("tst_compilerworker.cpp") << "Permission denied";
    }
    void workerNotStarted() {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        QVERIFY(!path.isEmpty());
        killCurrentWorker();
        qputenv("VANTOR_COMPILER_WORKER", path.toUtf8());
        const Result r = convert("a { b: c }");
        qunsetenv("VANTOR_COMPILER_WORKER");
        QVERIFY(r.cssNull);
        QCOMPARE(QString::fromUtf8(r.error), "The Sass compiler cannot be started: " + path + ": " + reason);
        QCOMPARE(r.line, 0);
        // No worker is left behind, and the real one starts for the next conversion.
        QCOMPARE(currentWorker(), pid_t(-1));
        expectOrdinaryConversion();
    }

    void workerEndsWithoutAnswer() {
        // A worker that exits at once, as a broken installation would.
        killCurrentWorker();
        qputenv("VANTOR_COMPILER_WORKER", "/bin/true");
        const Result r = convert("a { b: c }");
        qunsetenv("VANTOR_COMPILER_WORKER");
        QVERIFY(r.cssNull);
        QCOMPARE(r.error, CrashPrefix + "exit status 0). Your text is unchanged.");
        expectOrdinaryConversion();
    }

    void workerStopsReadingMidRequest() {
        // A worker that closes its request pipe while a text larger than the
        // pipe holds is being sent: the write fails with EPIPE, and SIGPIPE must
        // not end this process.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString script = dir.filePath("closes-stdin");
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nexec 0<&-\nexec sleep 5\n");
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        killCurrentWorker();
        qputenv("VANTOR_COMPILER_WORKER", script.toUtf8());
        const Result r = convert("a { b: c }\n" + QByteArray(1 << 20, ' ') + "d { e: f }");
        qunsetenv("VANTOR_COMPILER_WORKER");
        QVERIFY(r.cssNull);
        QCOMPARE(r.error, CrashPrefix + "SIGKILL). Your text is unchanged.");
        QCOMPARE(currentWorker(), pid_t(-1));
        expectOrdinaryConversion();
    }

    void workerDiesWithItsParent() {
        // Orphans are handed to this process, so the test can reap the worker.
        QVERIFY(prctl(PR_SET_CHILD_SUBREAPER, 1) == 0);
        expectOrdinaryConversion();  // the child inherits a live worker's pipes
        const pid_t ownWorker = currentWorker();

        int ready[2];
        QVERIFY(pipe(ready) == 0);
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            close(ready[0]);
            CompilerOptions o;
            o.input = sass_copy_c_string("a { b: c }");
            const char* css = VantorCompiler::compile(o);
            const char ok = css && QByteArray(css) == "a {\n    b: c;\n}\n" ? 'y' : 'n';
            VantorCompiler::free_memory();
            if (write(ready[1], &ok, 1) != 1)
                _exit(1);
            for (;;)
                pause();
        }
        close(ready[1]);
        char ok = 0;
        QCOMPARE(read(ready[0], &ok, 1), ssize_t(1));
        close(ready[0]);
        QCOMPARE(ok, 'y');

        const QList<pid_t> grandchildren = childrenOf(child);
        QCOMPARE(grandchildren.size(), 1);
        const pid_t worker = grandchildren.first();
        QVERIFY(worker != ownWorker);

        QVERIFY(kill(child, SIGKILL) == 0);
        QCOMPARE(waitpid(child, nullptr, 0), child);
        int status = 0;
        pid_t reaped = 0;
        for (int i = 0; i < 500 && reaped == 0; ++i) {
            reaped = waitpid(worker, &status, WNOHANG);
            if (reaped == 0)
                QTest::qSleep(10);
        }
        prctl(PR_SET_CHILD_SUBREAPER, 0);
        QCOMPARE(reaped, worker);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGKILL);

        // This process's own worker was left alone.
        QCOMPARE(currentWorker(), ownWorker);
        expectOrdinaryConversion();
    }

private:
    QTemporaryDir fifoDir;
};

QTEST_GUILESS_MAIN(TstCompilerWorker)
#include "tst_compilerworker.moc"
