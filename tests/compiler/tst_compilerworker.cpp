// The library's worker process: inputs that hang, crash or exhaust libsass
// cost only the worker, and the worker's lifetime is tied to the program's.
#include <VantorCompiler.h>

#include <QtTest>

#include <dlfcn.h>
#include <vector>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define VANTOR_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VANTOR_ASAN 1
#endif
#endif

extern char** environ;

using VantorCompiler::CompilerOptions;

namespace {

const QByteArray TimeLimitText =
    "Compilation stopped after 2 seconds: the stylesheet does not finish (an endless @while or a very large @for?)";
const QByteArray StalledText =
    "Compilation stopped: the Sass compiler made no progress for 10 seconds (is it waiting for an @import of a pipe or "
    "device?)";
const QByteArray SegvText = "The Sass compiler failed on this input (SIGSEGV). Your text is unchanged.";
const QByteArray CrashPrefix = "The Sass compiler failed on this input (";
const QByteArray CannotRunPrefix = "The Sass compiler cannot run: ";
const QByteArray FailureText = "ERROR : Unhandled compiler error occurred please contact supplier";

// The CPU budget of a short text, and the wall-clock backstop for a worker
// that makes no progress.
constexpr qint64 CpuBudgetMs = 2000;
constexpr qint64 BackstopMs = 10000;

struct Result {
    bool cssNull = true;
    QByteArray css;
    bool errorNull = true;
    QByteArray error;
    int line = 0;
    int column = 0;
    int kind = 0;
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
    r.kind = VantorCompiler::error_kind();
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

// The state letter of process pid, as in ps: R, S, T (stopped), Z and so on.
char processState(pid_t pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return '?';
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && close + 2 < text.size() ? text[close + 2] : '?';
}

// Stops pid and waits until it has stopped: kill() only sends the signal.
bool stopProcess(pid_t pid) {
    if (kill(pid, SIGSTOP) != 0)
        return false;
    for (int i = 0; i < 1000; ++i) {
        if (processState(pid) == 'T')
            return true;
        QTest::qSleep(1);
    }
    return false;
}

// This process's running worker (the library starts it on first use). Not an
// ended one nobody reaped yet, such as a sanitizer's helper orphaned when its
// worker was killed.
pid_t currentWorker() {
    for (pid_t child : childrenOf(getpid())) {
        QFile comm(QString("/proc/%1/comm").arg(child));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith("vantor-compiler") &&
            processState(child) != 'Z')
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

// Where /proc/.../fd/N points, as the kernel says it ("pipe:[...]", a path).
QString readLink(const QString& dir, int fd) {
    char target[4096];
    const ssize_t n = readlink(QString(dir + "/" + QString::number(fd)).toUtf8().constData(), target, sizeof target);
    return n > 0 ? QString::fromUtf8(target, int(n)) : QString();
}

// CPU time of this process's reaped children, the library's ended workers among them.
qint64 childrenCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

void expectOrdinaryConversion() {
    const Result r = convert("a { b { c: d } }");
    QCOMPARE(r.css, QByteArray("a b {\n    c: d;\n}\n"));
    QVERIFY(r.errorNull);
}


// A script standing in for the worker, in dir; body runs under /bin/sh with
// the request pipe on fd 3 and the response pipe on fd 4.
QString writeScript(const QTemporaryDir& dir, const QString& name, const QByteArray& body) {
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write("#!/bin/sh\n" + body);
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

// The worker beside the library the test links, as the library finds it.
QByteArray realWorker() {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&VantorCompiler::compile), &info);
    return QFileInfo(QString::fromUtf8(info.dli_fname)).absolutePath().toUtf8() + "/vantor-compiler-worker";
}

// Peak resident memory of this process, in KiB.
qint64 peakRssKb() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

// One run of the convert_once helper, with pipes to its standard input and output.
struct Helper {
    pid_t pid = -1;
    int in = -1;
    int out = -1;
};

// Starts convert_once with args, the extra environment entries env and, when
// asLimit is set, that address-space limit (soft and hard: asHard, or the same).
Helper startHelper(const QList<QByteArray>& args, const QList<QByteArray>& env = {}, rlim_t asLimit = 0,
                   rlim_t asHard = 0) {
    QList<QByteArray> argStore{QByteArray(CONVERT_ONCE)};
    argStore += args;
    std::vector<char*> argv;
    for (QByteArray& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    QList<QByteArray> envStore;
    for (char** e = environ; *e; ++e)
        envStore << QByteArray(*e);
    envStore += env;
    std::vector<char*> envp;
    for (QByteArray& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int in[2], out[2];
    Helper h;
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return h;
    const rlimit limit{asLimit, asHard ? asHard : asLimit};
    h.pid = fork();
    if (h.pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        if (asLimit)
            setrlimit(RLIMIT_AS, &limit);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    h.in = in[1];
    h.out = out[0];
    return h;
}

// Reads count NUL-terminated results from the helper, waiting at most ms.
QList<QByteArray> readResults(const Helper& h, int count, int ms = 60000) {
    QList<QByteArray> results;
    QByteArray data;
    QElapsedTimer timer;
    timer.start();
    while (data.count('\0') < count && timer.elapsed() < ms) {
        pollfd p{h.out, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = read(h.out, buffer, sizeof buffer);
        if (n <= 0)
            break;
        data.append(buffer, n);
    }
    for (const QByteArray& part : data.split('\0'))
        if (results.size() < count)
            results << part;
    return results;
}

// Waits for the helper to end; its wait status, or -1 after ms.
int finishHelper(Helper& h, int ms = 30000) {
    close(h.in);
    close(h.out);
    int status = -1;
    for (int i = 0; i < ms; ++i) {
        if (waitpid(h.pid, &status, WNOHANG) == h.pid)
            return status;
        QTest::qSleep(1);
    }
    kill(h.pid, SIGKILL);
    waitpid(h.pid, &status, 0);
    return -1;
}

// Virtual memory size of this process, in bytes.
rlim_t ownVmSize() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return rlim_t(line.mid(7).trimmed().split(' ').first().toLongLong()) << 10;
    return 0;
}

// A valid stylesheet of lines lines in the shape of a design system's
// components: maps, functions, mixins with content, nesting, parent selectors.
QByteArray generatedStylesheet(int lines) {
    QByteArray scss = "$palette: (primary: #3b6fd8, secondary: #8a4fd1, danger: #cf3b3b);\n"
                      "$spacers: (1: 4px, 2: 8px, 3: 16px);\n"
                      "@function rem($px) { @return ($px / 16px) * 1rem; }\n"
                      "@function shade($c, $a) { @return mix(black, $c, $a); }\n"
                      "@mixin respond($w) { @media (min-width: $w) { @content; } }\n";
    int count = 5;
    for (int i = 0; count < lines; ++i) {
        const QByteArray n = QByteArray::number(i);
        const QByteArray color = QList<QByteArray>{"primary", "secondary", "danger"}[i % 3];
        scss += ".component-" + n + " {\n"
                "  padding: rem(" + QByteArray::number(8 + i % 9) + "px) rem(16px) rem(map-get($spacers, 1) * 3) rem(map-get($spacers, 3) - 2px);\n"
                "  color: shade(shade(map-get($palette, " + color + "), " + QByteArray::number(i % 40) + "%), 5%);\n"
                "  margin: map-get($spacers, " + QByteArray::number(1 + i % 3) + ") rem(map-get($spacers, 2) * 3);\n"
                "  &:hover, &:focus { outline: rem(2px) solid rgba(mix(black, map-get($palette, " + color + "), 35%), 0.5);\n"
                "    color: shade(mix(white, map-get($palette, " + color + "), 30%), 20%);\n"
                "  }\n"
                "  &__item {\n"
                "    border: 1px solid rgba(shade(map-get($palette, " + color + "), 40%), 0." + QByteArray::number(i % 9 + 1) + ");\n"
                "    .icon { width: rem(" + QByteArray::number(12 + i % 5) + "px); box-shadow: 0 rem(2px) rem(6px) rgba(shade(map-get($palette, " + color + "), 50%), 0.3); }\n"
                "  }\n"
                "  @include respond(" + QByteArray::number(576 + (i % 4) * 192) + "px) { background: mix(shade(map-get($palette, " + color + "), 10%), white, 15%);\n"
                "    padding: rem(24px) rem(map-get($spacers, 3) + 8px);\n"
                "  }\n"
                "}\n";
        count += 15;
    }
    return scss;
}
}  // namespace

class TstCompilerWorker : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(fifoDir.isValid()); }

    void harmfulInputs_data() {
        QTest::addColumn<QByteArray>("scss");
        // limit: stopped at the CPU-time limit; segv: the worker crashed at once;
        // crashOrLimit: unbounded recursion that overflows the large stack, or
        // runs out of time first; error: any error, libsass's or the limit's;
        // stalled: no progress, stopped by the wall-clock backstop.
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
        // 2^depth selectors: at 18 the worker's allocator now converts it (9.7 MB of CSS) in about
        // the budget; 20 runs into the budget or the address-space cap (tst_workermemory checks
        // the cap's "Unable to allocate memory" on the worker itself), never a crash.
        QTest::newRow("a,b{ 20 deep") << nested("a,b{", "c:d", 20) << "error";
        QTest::newRow("@import of a named pipe")
            << QByteArray("@import \"" + fifoDir.path().toUtf8() + "/pipe\";") << "stalled";
    }
    void harmfulInputs() {
        QFETCH(QByteArray, scss);
        QFETCH(QString, expect);
        if (QTest::currentDataTag() == QByteArray("@import of a named pipe")) {
            const QByteArray fifo = fifoDir.path().toUtf8() + "/pipe.scss";
            QVERIFY(mkfifo(fifo.constData(), 0600) == 0 || errno == EEXIST);
        }

        expectOrdinaryConversion();  // a worker that has done little yet
        const qint64 cpuBefore = childrenCpuMs();
        const Result r = convert(scss);
        killCurrentWorker();  // reaped, so its CPU time is counted
        const qint64 cpu = childrenCpuMs() - cpuBefore;
        QVERIFY(r.cssNull);
        // Stopped within its budget: the CPU budget, whatever the machine's
        // load makes of it in wall-clock time, or the backstop for no progress.
        QVERIFY2(cpu < CpuBudgetMs + 500, qPrintable(QString::number(cpu)));
        if (expect == "stalled") {
            QVERIFY2(r.ms >= BackstopMs && r.ms < BackstopMs + 3000, qPrintable(QString::number(r.ms)));
            QVERIFY2(cpu < 500, qPrintable(QString::number(cpu)));
        }
        if (expect == "segv")
            QVERIFY2(r.ms < 5000, qPrintable(QString::number(r.ms)));
        if (expect == "limit") {
            QVERIFY2(cpu >= CpuBudgetMs - 50, qPrintable(QString::number(cpu)));
            QCOMPARE(r.error, TimeLimitText);
        } else if (expect == "stalled")
            QCOMPARE(r.error, StalledText);
        else if (expect == "segv")
            QCOMPARE(r.error, SegvText);
        else if (expect == "crashOrLimit")
            QVERIFY2(r.error == TimeLimitText || r.error.startsWith(CrashPrefix), r.error.constData());
        else
            QVERIFY2(!r.errorNull && !r.error.startsWith(CrashPrefix), r.error.constData());
        // The kind follows the outcome: the limits (the address-space cap
        // included) stop, a crash is a failure of the compiler.
        if (r.error == TimeLimitText || r.error == StalledText || r.error.startsWith("Unable to allocate memory"))
            QCOMPARE(r.kind, int(VantorCompiler::Stopped));
        else if (r.error.startsWith(CrashPrefix))
            QCOMPARE(r.kind, int(VantorCompiler::CompilerFailed));
        else
            QCOMPARE(r.kind, int(VantorCompiler::SassError));
        if (r.error == TimeLimitText || r.error == StalledText || r.error.startsWith(CrashPrefix)) {
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
        // It never read the text, so the text is not to blame.
        QCOMPARE(r.error, CannotRunPrefix + "its process ended before it read the text (exit status 0).");
        QCOMPARE(r.kind, int(VantorCompiler::CannotRun));
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
        file.write("#!/bin/sh\nexec 3<&-\nexec sleep 5\n");
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        killCurrentWorker();
        qputenv("VANTOR_COMPILER_WORKER", script.toUtf8());
        const Result r = convert("a { b: c }\n" + QByteArray(1 << 20, ' ') + "d { e: f }");
        qunsetenv("VANTOR_COMPILER_WORKER");
        QVERIFY(r.cssNull);
        QCOMPARE(r.error, CannotRunPrefix + "its process stopped reading the text.");
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
        // Killed by itself on the program's end, or ended on its own when its
        // request pipe closed a moment before.
        QVERIFY2((WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) || (WIFEXITED(status) && WEXITSTATUS(status) == 0),
                 qPrintable(QString::number(status)));

        // This process's own worker was left alone.
        QCOMPARE(currentWorker(), ownWorker);
        expectOrdinaryConversion();
    }


    void largeStylesheetOnABusyMachine() {
        // Two busy processes load both cores; the limit counts the worker's own
        // CPU time, so the conversion still finishes.
        const QByteArray scss = generatedStylesheet(40000);
        QVERIFY(scss.count('\n') >= 40000);
        QList<pid_t> busy;
        for (int i = 0; i < 2; ++i) {
            const pid_t pid = fork();
            QVERIFY(pid >= 0);
            if (pid == 0) {
                for (volatile unsigned long n = 0;; n = n + 1) {
                }
            }
            busy << pid;
        }
        const Result r = convert(scss);
        for (pid_t pid : busy) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        QVERIFY2(r.errorNull, r.error.constData());
        QVERIFY(r.css.startsWith(".component-0 {\n    padding: 0.5rem 1rem 0.75rem 0.875rem;\n"));
        QCOMPARE(r.css.count(".component-"), 6 * 2667);
    }

    void stoppedWorker() {
        // A stopped worker makes no progress and uses no CPU time: the backstop
        // ends it, with a text that does not blame the stylesheet.
        expectOrdinaryConversion();
        const pid_t worker = currentWorker();
        QVERIFY(worker > 0);
        QVERIFY(stopProcess(worker));
        const Result r = convert("a { b: c }");
        QVERIFY(r.cssNull);
        QCOMPARE(r.error, StalledText);
        QVERIFY2(r.ms >= BackstopMs && r.ms < BackstopMs + 3000, qPrintable(QString::number(r.ms)));
        QVERIFY(currentWorker() != worker);
        expectOrdinaryConversion();
    }

    void brokenReplies_data() {
        // A script in place of the worker: it reads the request, then answers
        // with the given bytes on the response pipe, then does what follows.
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("then");
        QTest::addColumn<QByteArray>("error");
        // A header announcing nearly 1 GiB: no buffer of that size is made.
        QTest::newRow("huge length, then the end") << QByteArray("\\374\\377\\377\\077abcdefghij") << QByteArray("exit 0")
                                                   << CrashPrefix + "exit status 0). Your text is unchanged.";
        // The backstop covers reading the reply too.
        QTest::newRow("huge length, then silence")
            << QByteArray("\\374\\377\\377\\077abcdefghij") << QByteArray("exec sleep 60") << StalledText;
        QTest::newRow("longer than any reply") << QByteArray("\\377\\377\\377\\377") << QByteArray("exec sleep 60")
                                               << CrashPrefix + "an unreadable reply). Your text is unchanged.";
        QTest::newRow("malformed frame, then more") << QByteArray("\\005\\000\\000\\000hello\\005\\000\\000\\000hello")
                                                    << QByteArray("exec sleep 60")
                                                    << CrashPrefix + "an unreadable reply). Your text is unchanged.";
        QTest::newRow("short header") << QByteArray("\\005\\000") << QByteArray("exit 3")
                                      << CrashPrefix + "exit status 3). Your text is unchanged.";
    }
    void brokenReplies() {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, then);
        QFETCH(QByteArray, error);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString script = writeScript(dir, "worker",
                                           "dd bs=65536 count=1 <&3 >/dev/null 2>&1\nprintf '" + reply + "' >&4\n" +
                                               then + "\n");
        killCurrentWorker();
        const qint64 peakBefore = peakRssKb();
        qputenv("VANTOR_COMPILER_WORKER", script.toUtf8());
        const Result r = convert("a { b: c }");
        const pid_t fake = currentWorker();
        qunsetenv("VANTOR_COMPILER_WORKER");
        QVERIFY(r.cssNull);
        QCOMPARE(r.error, error);
        QVERIFY2(peakRssKb() - peakBefore < 64 * 1024, qPrintable(QString::number(peakRssKb() - peakBefore)));
        // That worker is gone: nothing it still had to say is read as the next answer.
        QCOMPARE(fake, pid_t(-1));
        expectOrdinaryConversion();
        expectOrdinaryConversion();
    }

    void outOfMemoryWhileReading() {
#if defined(VANTOR_ASAN)
        QSKIP("AddressSanitizer cannot run under an address-space limit");
#endif
        // The first worker streams a reply larger than the helper's address
        // space; the library runs out of memory while reading it. That worker is
        // discarded, so the next conversion, with a real worker, converts.
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray marker = dir.filePath("streamed").toUtf8();
        const QString script = writeScript(
            dir, "worker",
            "if [ -e '" + marker + "' ]; then exec '" + realWorker() + "' \"$@\"; fi\n: > '" + marker +
                "'\ndd bs=65536 count=1 <&3 >/dev/null 2>&1\nprintf '\\374\\377\\377\\077' >&4\n"
                "exec head -c 1073741820 /dev/zero >&4\n");
        const rlim_t limit = ownVmSize() + (rlim_t(512) << 20);
        Helper h = startHelper({"a { b: c }", "d { e: f }"}, {"VANTOR_COMPILER_WORKER=" + script.toUtf8()}, limit,
                               RLIM_INFINITY);
        const QList<QByteArray> results = readResults(h, 2);
        QCOMPARE(finishHelper(h), 0);
        QCOMPARE(results.size(), 2);
        QCOMPARE(results[0], "css:" + FailureText);
        QCOMPARE(results[1], QByteArray("css:d {\n    e: f;\n}\n"));
    }

    void addressSpaceTooSmall() {
#if defined(VANTOR_ASAN)
        QSKIP("AddressSanitizer cannot run under an address-space limit");
#endif
        // Too little address space for the worker's conversion thread: said
        // plainly, not blamed on the text.
        const rlim_t limit = rlim_t(200) << 20;
        Helper h = startHelper({"a { b: c }"}, {}, limit);
        const QList<QByteArray> results = readResults(h, 1);
        QCOMPARE(finishHelper(h), 0);
        QCOMPARE(results.value(0),
                 "error:" + CannotRunPrefix + "the address-space limit (ulimit -v) of 200 MB is too small for it to start.");
    }

    void sigchldIgnored() {
        // The system reaps the worker behind the library's back: conversions
        // still work, limits still stop it, and a crash says plainly that how
        // the worker ended is unknown instead of a made-up exit status.
        expectOrdinaryConversion();
        struct sigaction ignore {}, previous {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGCHLD, &ignore, &previous);
        const Result ordinary = convert("a { b: c }");
        const Result crash = convert("@keyframes k{from{@extend .a}}");
        const Result endless = convert("$i: 3; @while $i > 0 { }");
        const Result after = convert("a { b: c }");
        sigaction(SIGCHLD, &previous, nullptr);
        QCOMPARE(ordinary.css, QByteArray("a {\n    b: c;\n}\n"));
        QVERIFY(crash.cssNull);
        QCOMPARE(crash.error,
                 CrashPrefix + "how it ended is unknown: this program ignores SIGCHLD). Your text is unchanged.");
        QCOMPARE(endless.error, TimeLimitText);
        QCOMPARE(after.css, QByteArray("a {\n    b: c;\n}\n"));
        expectOrdinaryConversion();
    }

    void workerKilledJustBefore() {
        // Killed while idle a moment before the request: the request never
        // reached it, so a fresh worker gets it, silently.
        for (int i = 0; i < 20; ++i) {
            expectOrdinaryConversion();
            const pid_t worker = currentWorker();
            QVERIFY(worker > 0);
            QVERIFY(kill(worker, SIGKILL) == 0);
            expectOrdinaryConversion();
            QVERIFY(currentWorker() != worker);
        }
    }

    void workerOutlivesItsStartingThread() {
        killCurrentWorker();
        std::thread starter([] { expectOrdinaryConversion(); });
        starter.join();
        const pid_t worker = currentWorker();
        QVERIFY(worker > 0);
        QTest::qSleep(300);
        expectOrdinaryConversion();
        QCOMPARE(currentWorker(), worker);
    }

    void workerStartsClean() {
        // Descriptors the program has open without close-on-exec stay behind.
        const int file = open(QFINDTESTDATA("tst_compilerworker.cpp").toUtf8().constData(), O_RDONLY);
        QVERIFY(file >= 0);
        int leaky[2];
        QVERIFY(pipe(leaky) == 0);
        killCurrentWorker();
        expectOrdinaryConversion();
        const pid_t worker = currentWorker();
        close(file);
        close(leaky[0]);
        close(leaky[1]);
        QVERIFY(worker > 0);
        const QString fds = QString("/proc/%1/fd").arg(worker);
        const QStringList open = QDir(fds).entryList(QDir::Files | QDir::System);
        QMap<int, QString> targets;
        for (const QString& fd : open)
            targets[fd.toInt()] = readLink(fds, fd.toInt());
        QCOMPARE(targets.value(0), QString("/dev/null"));
        QCOMPARE(targets.value(1), QString("/dev/null"));
        QVERIFY2(targets.value(3).startsWith("pipe:"), qPrintable(targets.value(3)));
        QVERIFY2(targets.value(4).startsWith("pipe:"), qPrintable(targets.value(4)));
        // Beyond those only the worker's own handle on the program.
        for (auto it = targets.cbegin(); it != targets.cend(); ++it)
            if (it.key() > 4)
                QVERIFY2(it.value() == "anon_inode:[pidfd]", qPrintable(QString::number(it.key()) + " " + it.value()));
        // And no core file from a crash.
        QFile limits(QString("/proc/%1/limits").arg(worker));
        QVERIFY(limits.open(QIODevice::ReadOnly));
        const QByteArray text = limits.readAll();
        const int at = text.indexOf("Max core file size");
        QVERIFY(at >= 0);
        const QList<QByteArray> fields = text.mid(at, text.indexOf('\n', at) - at).simplified().split(' ');
        QCOMPARE(fields.value(4), QByteArray("0"));
        QCOMPARE(fields.value(5), QByteArray("0"));
    }

    void noWorkerFromTheCurrentDirectory_data() {
        QTest::addColumn<bool>("relativeVariable");
        QTest::newRow("relative VANTOR_COMPILER_WORKER") << true;
        QTest::newRow("library loaded by a relative path") << false;
    }
    void noWorkerFromTheCurrentDirectory() {
        QFETCH(bool, relativeVariable);
        // A planted worker in the directory the program works in is never run.
        QTemporaryDir planted;
        QVERIFY(planted.isValid());
        const QByteArray marker = planted.filePath("ran").toUtf8();
        QVERIFY(!writeScript(planted, "vantor-compiler-worker", ": > '" + marker + "'\nexit 1\n").isEmpty());
        Helper h;
        if (relativeVariable) {
            h = startHelper({"--chdir", planted.path().toUtf8(), "a { b: c }"},
                            {"VANTOR_COMPILER_WORKER=vantor-compiler-worker"});
        } else {
            // Found through LD_LIBRARY_PATH=. from the library's directory, so
            // the loader names it by a relative path; then the helper moves.
            const QString libraryDir = QFileInfo(QString::fromUtf8(realWorker())).absolutePath();
            const QString previous = QDir::currentPath();
            QVERIFY(QDir::setCurrent(libraryDir));
            h = startHelper({"--chdir", planted.path().toUtf8(), "a { b: c }"}, {"LD_LIBRARY_PATH=."});
            QVERIFY(QDir::setCurrent(previous));
        }
        const QList<QByteArray> results = readResults(h, 1);
        QCOMPARE(finishHelper(h), 0);
        QVERIFY(!QFile::exists(QString::fromUtf8(marker)));
        if (relativeVariable)
            QCOMPARE(results.value(0), QByteArray("error:The Sass compiler cannot be started: VANTOR_COMPILER_WORKER is "
                                                  "not an absolute path: vantor-compiler-worker"));
        else
            QCOMPARE(results.value(0), QByteArray("css:a {\n    b: c;\n}\n"));
    }

    void exitDoesNotWaitForTheWorker_data() {
        QTest::addColumn<bool>("stopWorker");
        QTest::newRow("idle worker") << false;
        // One that would never end by itself.
        QTest::newRow("stopped worker") << true;
    }
    void exitDoesNotWaitForTheWorker() {
        QFETCH(bool, stopWorker);
        // Orphans come to this process, so the test sees the worker end.
        QVERIFY(prctl(PR_SET_CHILD_SUBREAPER, 1) == 0);
        Helper h = startHelper({"--wait", "a { b: c }"});
        QCOMPARE(readResults(h, 1).value(0), QByteArray("css:a {\n    b: c;\n}\n"));
        const QList<pid_t> workers = childrenOf(h.pid);
        QCOMPARE(workers.size(), 1);
        const pid_t worker = workers.first();
        if (stopWorker)
            QVERIFY(stopProcess(worker));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(write(h.in, "x", 1), ssize_t(1));  // return from main now
        const int status = finishHelper(h);
        const qint64 exitMs = timer.elapsed();
        QCOMPARE(status, 0);
        // Ends within a fraction of a second (it waited a second for its worker before).
        QVERIFY2(exitMs < 500, qPrintable(QString::number(exitMs)));
        // And no stray worker remains: it ends soon after, reaped here as an
        // orphan unless the helper reaped it itself.
        pid_t reaped = 0;
        for (int i = 0; i < 500 && reaped == 0; ++i) {
            reaped = waitpid(worker, nullptr, WNOHANG);
            if (reaped == 0)
                QTest::qSleep(10);
        }
        prctl(PR_SET_CHILD_SUBREAPER, 0);
        QVERIFY2(reaped == worker || (reaped < 0 && errno == ECHILD), qPrintable(QString::number(reaped)));
        QVERIFY(kill(worker, 0) != 0);
    }
private:
    QTemporaryDir fifoDir;
};

QTEST_GUILESS_MAIN(TstCompilerWorker)
#include "tst_compilerworker.moc"
