// The Dart Sass engine through the library's public functions: what it
// converts, where its errors and warnings are, what it refuses, and how it
// ends when the runtime loops, crashes, is killed, or is not Dart Sass at all.
#include <VantorCompiler.h>

#include "Messages.h"
#include "Packet.h"
#include "embedded_sass.pb.h"

#include "CurrentFolder.h"

#include <QtTest>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

using VantorCompiler::CompilerOptions;
namespace proto = sass::embedded_protocol;

namespace {

constexpr bool HaveRuntime = VANTOR_HAVE_DART_SASS || VANTOR_REQUIRE_DART_SASS;

struct Result {
    bool cssNull = true;
    QByteArray css;
    QByteArray error;
    int kind = 0;
    int line = 0;
    int column = 0;
    QByteArray file;
    int fileLine = 0;
    int fileColumn = 0;
    QStringList warnings;  // "line:column text"
};

Result convert(const QByteArray& scss, int style = 2, int indentWidth = 4) {
    CompilerOptions options;
    options.engine = VantorCompiler::DartSass;
    options.output_style = style;
    options.indent_width = indentWidth;
    options.input = sass_copy_c_string(scss.constData());
    Result r;
    const char* css = VantorCompiler::compile(options);
    r.cssNull = css == nullptr;
    r.css = css;
    r.error = VantorCompiler::error();
    r.kind = VantorCompiler::error_kind();
    r.line = VantorCompiler::error_line();
    r.column = VantorCompiler::error_column();
    r.file = VantorCompiler::error_file();
    r.fileLine = VantorCompiler::error_file_line();
    r.fileColumn = VantorCompiler::error_file_column();
    for (int i = 0; i < VantorCompiler::warning_count(); ++i)
        r.warnings << QString("%1:%2 %3")
                          .arg(VantorCompiler::warning_line(i))
                          .arg(VantorCompiler::warning_column(i))
                          .arg(QString::fromUtf8(VantorCompiler::warning_text(i)));
    VantorCompiler::free_memory();
    return r;
}

void expectOrdinaryConversion() {
    const Result r = convert("@use \"sass:math\";\n.a { w: math.div(10px, 4); }");
    QVERIFY2(!r.cssNull, r.error.constData());
    QCOMPARE(r.css, QByteArray(".a {\n    w: 2.5px;\n}\n"));
}

QList<pid_t> childrenOf(pid_t pid) {
    QList<pid_t> children;
    QFile file(QString("/proc/%1/task/%1/children").arg(pid));
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& id : file.readAll().split(' '))
            if (!id.trimmed().isEmpty())
                children << pid_t(id.trimmed().toInt());
    return children;
}

QByteArray commOf(pid_t pid) {
    QFile comm(QString("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? comm.readAll().trimmed() : QByteArray();
}

// The runtime among pid's children: the launcher becomes it, and the Dart VM
// names its main thread "dart:" and the script.
pid_t runtimeOf(pid_t pid) {
    for (pid_t child : childrenOf(pid))
        if (commOf(child).startsWith("dart"))
            return child;
    return -1;
}

// User and system CPU time of pid, in ms; -1 when it is gone.
qint64 cpuMs(pid_t pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 13 ? (fields[11].toLongLong() + fields[12].toLongLong()) * 1000 / sysconf(_SC_CLK_TCK) : -1;
}

qint64 childrenCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value) : name_(name) { qputenv(name, value); }
    ~ScopedEnv() { qunsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
};


std::string outbound(const proto::OutboundMessage& message) {
    std::string bytes;
    message.SerializeToString(&bytes);
    return bytes;
}

std::string versionPacket(const char* protocol, const char* compiler) {
    proto::OutboundMessage message;
    auto* version = message.mutable_version_response();
    version->set_id(1);
    version->set_protocol_version(protocol);
    version->set_compiler_version(compiler);
    version->set_implementation_version(compiler);
    version->set_implementation_name("dart-sass");
    return VantorCompiler::dartsass::encodePacket(0, outbound(message));
}

std::string successPacket(std::uint32_t id) {
    proto::OutboundMessage message;
    message.mutable_compile_response()->mutable_success()->set_css("a {\n  b: c;\n}");
    return VantorCompiler::dartsass::encodePacket(id, outbound(message));
}

}  // namespace

class TstDartSassEngine : public QObject {
    Q_OBJECT

private slots:
    // Runs first: naming the engine and telling whether it can run start nothing.
    void versionAndAvailabilityStartNothing() {
        QCOMPARE(childrenOf(getpid()), QList<pid_t>());
        QCOMPARE(QByteArray(VantorCompiler::engine_version(VantorCompiler::DartSass)), QByteArray("Dart Sass 1.108.2"));
        const char* problem = VantorCompiler::engine_error(VantorCompiler::DartSass);
        if (HaveRuntime)
            QVERIFY2(problem == nullptr, problem);
        else
            QVERIFY(QByteArray(problem).startsWith("Dart Sass is not installed here: "));
        QCOMPARE(childrenOf(getpid()), QList<pid_t>());
    }

    void unavailable_data() {
        QTest::addColumn<QByteArray>("folder");  // with %1 for a temporary folder
        QTest::addColumn<QByteArray>("dart");     // the dart file's text; empty: none
        QTest::addColumn<bool>("executable");
        QTest::addColumn<bool>("snapshot");
        QTest::addColumn<QByteArray>("problem");  // with %1
        QTest::newRow("no such folder") << QByteArray("%1/none") << QByteArray() << false << false
                                        << QByteArray("Dart Sass is not installed here: %1/none/dart is missing");
        QTest::newRow("a relative path") << QByteArray("dart-sass") << QByteArray() << false << false
                                         << QByteArray("VANTOR_DART_SASS is not an absolute path: dart-sass");
        QTest::newRow("no snapshot") << QByteArray("%1") << QByteArray("#!/bin/sh\n") << true << false
                                     << QByteArray("Dart Sass is not installed here: %1/sass.snapshot is missing");
        QTest::newRow("dart not executable")
            << QByteArray("%1") << QByteArray("#!/bin/sh\n") << false << true
            << QByteArray("Dart Sass cannot run here: %1/dart is not executable");
    }
    // The reason, the same from engine_error() and a conversion, which gives no
    // CSS whatever the text; libsass's refusal of @use then says why Dart Sass
    // is no way out; without the variable all is as before.
    void unavailable() {
        QFETCH(QByteArray, folder);
        QFETCH(QByteArray, dart);
        QFETCH(bool, executable);
        QFETCH(bool, snapshot);
        QFETCH(QByteArray, problem);
        QTemporaryDir dir;
        const QByteArray root = QFileInfo(dir.path()).canonicalFilePath().toUtf8();
        if (!dart.isEmpty()) {
            QFile file(dir.filePath("dart"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(dart);
            file.setPermissions(executable ? QFileDevice::ReadOwner | QFileDevice::ExeOwner : QFileDevice::ReadOwner);
        }
        if (snapshot) {
            QFile file(dir.filePath("sass.snapshot"));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        problem.replace("%1", root);
        {
            ScopedEnv env("VANTOR_DART_SASS", folder.replace("%1", root));
            QCOMPARE(QByteArray(VantorCompiler::engine_error(VantorCompiler::DartSass)), problem);
            const Result r = convert("a { b: c }");
            QVERIFY(r.cssNull);
            QCOMPARE(r.error, problem);
            QCOMPARE(r.kind, int(VantorCompiler::CannotRun));
            CompilerOptions o;
            o.input = sass_copy_c_string("@use \"sass:math\";");
            QVERIFY(VantorCompiler::compile(o) == nullptr);
            QVERIFY2(QByteArray(VantorCompiler::error()).contains("Dart Sass, which would convert it, cannot run here (" +
                                                                   problem + ")"),
                     VantorCompiler::error());
            VantorCompiler::free_memory();
        }
        if (HaveRuntime)
            expectOrdinaryConversion();
    }

    void refusedStyles_data() {
        QTest::addColumn<int>("style");
        QTest::newRow("nested") << 0;
        QTest::newRow("compact") << 1;
    }
    void refusedStyles() {
        QFETCH(int, style);
        const Result r = convert("a { b: c }", style);
        QVERIFY(r.cssNull);
        QCOMPARE(r.kind, int(VantorCompiler::CannotRun));
        QCOMPARE(r.error, QByteArray("Dart Sass writes Expanded and Compressed CSS only (output styles 2 and 3), not "
                                     "Nested (0) or Compact (1)."));
    }

    void converts_data() {
        QTest::addColumn<QByteArray>("scss");
        QTest::addColumn<int>("style");
        QTest::addColumn<QByteArray>("css");
        QTest::newRow("modules, expanded") << QByteArray("@use \"sass:math\";\n.a { w: math.div(10px, 4); }") << 2
                                           << QByteArray(".a {\n    w: 2.5px;\n}\n");
        QTest::newRow("modules, compressed") << QByteArray("@use \"sass:math\";\n.a { w: math.div(10px, 4); }") << 3
                                             << QByteArray(".a{w:2.5px}\n");
        QTest::newRow("current CSS") << QByteArray("@media (width >= 600px) { .b { c: rgb(0 0 0 / 50%); } }") << 2
                                     << QByteArray("@media (width >= 600px) {\n    .b {\n        c: rgba(0, 0, 0, 0.5);\n"
                                                   "    }\n}\n");
        QTest::newRow("no CSS at all") << QByteArray("$a: 1;") << 2 << QByteArray("");
        // One line of 200,000 characters, as a pasted minified value.
        const QByteArray longValue(200000, 'x');
        QTest::newRow("a very long line") << "a { b: " + longValue + "; }" << 2
                                          << "a {\n    b: " + longValue + ";\n}\n";
    }
    void converts() {
        if (!HaveRuntime)
            QSKIP("built without Dart Sass");
        QFETCH(QByteArray, scss);
        QFETCH(int, style);
        QFETCH(QByteArray, css);
        const Result r = convert(scss, style);
        QVERIFY2(!r.cssNull, r.error.constData());
        QCOMPARE(r.css, css);
        QCOMPARE(r.kind, int(VantorCompiler::NoError));
        QVERIFY(r.error.isNull());
    }

    // Edits one after another, as typing makes them: each CSS re-indented from
    // the last one's must be what the whole text gives, whatever came before
    // (another width, the CSS as written, an error).
    void editsInARow() {
        if (!HaveRuntime)
            QSKIP("built without Dart Sass");
        const auto scss = [](int value) {
            QByteArray text;
            for (int i = 0; i < 300; ++i)
                text += ".r" + QByteArray::number(i) + " { .n { w: " + QByteArray::number(i == 150 ? value : i) +
                        "px; } }\n";
            return text;
        };
        const auto css = [](int value, int width) {
            QList<QByteArray> rules;
            for (int i = 0; i < 300; ++i)
                rules << ".r" + QByteArray::number(i) + " .n {\n" + QByteArray(width, ' ') + "w: " +
                             QByteArray::number(i == 150 ? value : i) + "px;\n}";
            return rules.join("\n\n") + "\n";
        };
        const struct {
            int value;
            int width;
        } steps[] = {{5, 4}, {57, 4}, {5, 4}, {1234, 4}, {1234, 2}, {7, 4}, {-1, 4}, {8, 4}, {8, 3}, {9, 3}};
        for (const auto& step : steps) {
            const QByteArray place = QByteArray::number(step.value) + " at width " + QByteArray::number(step.width);
            if (step.value < 0) {
                QCOMPARE(convert(scss(7) + ".oops {", 2, step.width).kind, int(VantorCompiler::SassError));
                continue;
            }
            const Result r = convert(scss(step.value), 2, step.width);
            QVERIFY2(r.css == css(step.value, step.width), place.constData());
        }
    }

    // Both processes live at once, and switching back and forth starts nothing
    // new; each conversion's error is its own, whichever engine came before.
    void switchingEngines() {
        if (!HaveRuntime)
            QSKIP("built without Dart Sass");
        CurrentFolder folder({{"_part.scss", "$w: 10px;\n"}});
        const QByteArray modern = "@use \"part\";\n@use \"sass:math\";\n.a { w: math.div(part.$w, 4); }";
        const auto libsass = [&] {
            CompilerOptions o;
            o.input = sass_copy_c_string(modern.constData());
            const bool refused = !VantorCompiler::compile(o) && VantorCompiler::error_kind() == VantorCompiler::ModuleSystemRefused;
            VantorCompiler::free_memory();
            // And one it converts, in its worker.
            CompilerOptions plain;
            plain.input = sass_copy_c_string("a { b: c }");
            const bool converted = VantorCompiler::compile(plain) && VantorCompiler::error_kind() == VantorCompiler::NoError;
            VantorCompiler::free_memory();
            return refused && converted;
        };
        QVERIFY(libsass());
        const Result first = convert(modern);
        QCOMPARE(first.css, QByteArray(".a {\n    w: 2.5px;\n}\n"));
        // The current folder is given explicitly: no deprecation of an implicit load path.
        QCOMPARE(first.warnings, QStringList());
        QVERIFY(libsass());
        const pid_t runtime = runtimeOf(getpid());
        QVERIFY(runtime > 0);
        QCOMPARE(childrenOf(getpid()).size(), 2);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(convert(modern).css, first.css);
            QVERIFY(libsass());
        }
        QCOMPARE(runtimeOf(getpid()), runtime);
        QCOMPARE(childrenOf(getpid()).size(), 2);
    }

    void places_data() {
        QTest::addColumn<QByteArray>("scss");
        QTest::addColumn<QByteArray>("error");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("warnings");  // each a start of the text
        // Columns count characters: "é" and "😀" one each (the protocol counts 😀 twice).
        QTest::newRow("error after é") << QByteArray("a { b: \"\xC3\xA9\"; c: $nope; }") << QByteArray("Undefined variable.")
                                       << 1 << 16 << QStringList();
        QTest::newRow("error after an emoji, line 2")
            << QByteArray("a {\n  b: \"\xF0\x9F\x98\x80\"; c: $x;\n}") << QByteArray("Undefined variable.") << 2 << 14
            << QStringList();
        // @warn has no span, only its stack frame.
        QTest::newRow("@warn after an emoji") << QByteArray(".a { b: \"\xF0\x9F\x98\x80\"; @warn \"w\"; }") << QByteArray() << 0
                                              << 0 << QStringList{"1:14 WARNING: w"};
        QTest::newRow("@warn in a mixin, the @warn itself")
            << QByteArray("@mixin m { @warn \"in m\"; }\n.z {\n  @include m;\n}") << QByteArray() << 0 << 0
            << QStringList{"1:12 WARNING: in m"};
        QTest::newRow("@debug") << QByteArray("\n  @debug 1 + 1;") << QByteArray() << 0 << 0 << QStringList{"2:3 DEBUG: 2"};
        QTest::newRow("a deprecation names its id")
            << QByteArray("a { b: map-get((a: 1), a); }") << QByteArray() << 0 << 0
            << QStringList{"1:8 DEPRECATION WARNING [global-builtin]: Global built-in functions are deprecated"};
        // Dart Sass would show U+FFFD as if the text held it: refused at the byte.
        QTest::newRow("not UTF-8") << QByteArray("a {\n  b: \"\xC3\xA9\xFF\"; }")
                                   << QByteArray("The text is not valid UTF-8 here: Dart Sass reads UTF-8 only.") << 2 << 8
                                   << QStringList();
        QTest::newRow("a surrogate in UTF-8") << QByteArray("a { b: \"\xED\xA0\x80\"; }")
                                              << QByteArray("The text is not valid UTF-8 here: Dart Sass reads UTF-8 only.")
                                              << 1 << 9 << QStringList();
        QTest::newRow("warnings before an error")
            << QByteArray("@warn \"first\";\na { b: $nope; }") << QByteArray("Undefined variable.") << 2 << 8
            << QStringList{"1:1 WARNING: first"};
    }
    void places() {
        if (!HaveRuntime)
            QSKIP("built without Dart Sass");
        QFETCH(QByteArray, scss);
        QFETCH(QByteArray, error);
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(QStringList, warnings);
        const Result r = convert(scss);
        QCOMPARE(r.error, error);
        QCOMPARE(r.cssNull, !error.isEmpty());
        QCOMPARE(r.kind, int(error.isEmpty() ? VantorCompiler::NoError : VantorCompiler::SassError));
        QCOMPARE(r.line, line);
        QCOMPARE(r.column, column);
        QVERIFY(r.file.isNull());
        QCOMPARE(r.warnings.size(), warnings.size());
        for (int i = 0; i < warnings.size(); ++i)
            QVERIFY2(r.warnings[i].startsWith(warnings[i]), qPrintable(r.warnings[i]));
    }

    void manyWarningsAreBounded() {
        if (!HaveRuntime)
            QSKIP("built without Dart Sass");
        const Result r = convert("@for $i from 1 through 3000 { @warn \"w#{$i}\"; }\na { b: c }");
        QCOMPARE(r.css, QByteArray("a {\n    b: c;\n}\n"));
        QCOMPARE(r.warnings.size(), 101);
        QCOMPARE(r.warnings.first(), QString("1:31 WARNING: w1"));
        QCOMPARE(r.warnings.last(), QString::fromUtf8("0:0 \xE2\x80\xA6 and 2900 more warnings"));
    }

    void errorsInOtherFiles_data() {
        QTest::addColumn<QByteArray>("scss");
        QTest::addColumn<int>("line");  // of the load rule in the text
        QTest::addColumn<int>("column");
        QTest::newRow("@use") << QByteArray("@use \"bad\";") << 1 << 1;
        QTest::newRow("@forward") << QByteArray("// first\n@forward \"bad\";") << 2 << 1;
        // Dart Sass's frame of an @import is at its URL.
        QTest::newRow("@import") << QByteArray("a { b: c }\n\n  @import \"bad\";") << 3 << 11;
    }
    // The file and the place in it, from the span; the load rule in the text,
    // from the stack trace; the message says where.
    void errorsInOtherFiles() {
        if (!HaveRuntime)
            QSKIP("built without Dart Sass");
        QFETCH(QByteArray, scss);
        QFETCH(int, line);
        QFETCH(int, column);
        CurrentFolder folder({{"_bad.scss", ".p {\n  \xF0\x9F\x98\x80: $nope;\n}\n"}});
        const Result r = convert(scss);
        QVERIFY(r.cssNull);
        QCOMPARE(r.kind, int(VantorCompiler::SassError));
        QCOMPARE(r.error, QByteArray("Undefined variable. (_bad.scss, line 2, column 6)"));
        QCOMPARE(QString::fromUtf8(r.file), folder.path("_bad.scss"));
        QCOMPARE(r.fileLine, 2);
        QCOMPARE(r.fileColumn, 6);
        QCOMPARE(r.line, line);
        QCOMPARE(r.column, column);
    }

    void limits_data() {
        QTest::addColumn<QByteArray>("scss");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("error");
        QTest::newRow("endless @while") << QByteArray("$i: 1;\n@while $i > 0 { $i: $i + 1; }") << int(VantorCompiler::Stopped)
                                        << QByteArray("Compilation stopped after 2 seconds: the stylesheet does not "
                                                      "finish (an endless @while or a very large @for?)");
        QTest::newRow("deep recursion") << QByteArray("@mixin r($n) { @include r($n + 1); }\n.a { @include r(1); }")
                                        << int(VantorCompiler::CompilerFailed)
                                        << QByteArray("Dart Sass failed on this input (Stack Overflow). Your text is "
                                                      "unchanged.");
        // Filling 2 GiB costs the runtime 1.9 to 3.0 s of CPU time with both
        // cores busy (most of it the kernel's page faults), more than a short
        // text's 2 s budget: a 1,000,000-character comment line gives the text
        // 12 s, so the cap, not the budget, ends it.
        QTest::newRow("past the memory cap")
            << "//" + QByteArray(1000000, 'x') +
                   "\n$s: \"x\";\n@for $i from 1 through 40 { $s: $s + $s; }\na { b: str-length($s); }"
            << int(VantorCompiler::Stopped)
            << QByteArray("Compilation stopped: the stylesheet needs more memory than Dart Sass may use (2 GB).");
    }
    // Each ends in a clear error within the budget, counted in the runtime's
    // CPU time, and the next conversion works.
    void limits() {
        if (!HaveRuntime)
            QSKIP("built without Dart Sass");
        QFETCH(QByteArray, scss);
        QFETCH(int, kind);
        QFETCH(QByteArray, error);
        expectOrdinaryConversion();
        const qint64 before = childrenCpuMs();
        const Result r = convert(scss);
        QVERIFY(r.cssNull);
        QCOMPARE(r.error, error);
        QCOMPARE(r.kind, kind);
        QCOMPARE(r.line, 0);
        // The ended runtime was reaped, so its time is counted. The meter looks
        // four times a second, and the runtime's threads may all be busy meanwhile.
        const qint64 cpu = childrenCpuMs() - before;
        const qint64 budget = 2000 + scss.size() / 100;  // 2 s plus 10 µs per byte
        QVERIFY2(cpu < budget + 1500, qPrintable(QString::number(cpu)));
        if (kind == VantorCompiler::Stopped && error.startsWith("Compilation stopped after"))
            QVERIFY2(cpu >= budget - 50, qPrintable(QString::number(cpu)));
        expectOrdinaryConversion();
    }

    void killed_data() {
        QTest::addColumn<bool>("midConversion");
        QTest::newRow("between conversions") << false;
        QTest::newRow("mid-conversion") << true;
    }
    // kill -9 of the runtime: a clear error when it was converting, nothing at
    // all when it was idle; a fresh runtime converts next.
    void killed() {
        if (!HaveRuntime)
            QSKIP("built without Dart Sass");
        QFETCH(bool, midConversion);
        expectOrdinaryConversion();
        const pid_t runtime = runtimeOf(getpid());
        QVERIFY(runtime > 0);
        if (!midConversion) {
            // At once, not reaped: it may still look alive when the request goes
            // out, but it never reads it.
            QCOMPARE(kill(runtime, SIGKILL), 0);
            expectOrdinaryConversion();
            QVERIFY(runtimeOf(getpid()) != runtime);
            return;
        }
        // Killed once it is busy with the loop: a tenth of a second of its CPU time.
        const qint64 start = cpuMs(runtime);
        std::thread killer([&] {
            for (int i = 0; i < 30000 && cpuMs(runtime) >= 0 && cpuMs(runtime) - start < 100; ++i)
                usleep(1000);
            kill(runtime, SIGKILL);
        });
        const Result r = convert("$i: 1;\n@while $i > 0 { $i: $i + 1; }");
        killer.join();
        QVERIFY(r.cssNull);
        QCOMPARE(r.kind, int(VantorCompiler::CompilerFailed));
        QCOMPARE(r.error, QByteArray("Dart Sass failed on this input (SIGKILL). Your text is unchanged."));
        expectOrdinaryConversion();
    }

    // The program killed while the runtime loops: the launcher's guard ends it.
    void endsWithTheProgram() {
        if (!HaveRuntime)
            QSKIP("built without Dart Sass");
        // Orphans come to this process, so it sees the runtime end.
        QVERIFY(prctl(PR_SET_CHILD_SUBREAPER, 1) == 0);
        const pid_t program = fork();
        QVERIFY(program >= 0);
        if (program == 0) {
            execl(CONVERT_ONCE, CONVERT_ONCE, "--engine", "1", "$i: 1;\n@while $i > 0 { $i: $i + 1; }", nullptr);
            _exit(127);
        }
        pid_t runtime = -1;
        for (int i = 0; i < 30000 && runtime < 0; ++i) {
            runtime = runtimeOf(program);
            if (runtime < 0)
                usleep(1000);
        }
        QVERIFY(runtime > 0);
        const qint64 start = cpuMs(runtime);
        for (int i = 0; i < 30000 && cpuMs(runtime) - start < 100; ++i)
            usleep(1000);
        QCOMPARE(kill(program, SIGKILL), 0);
        QCOMPARE(waitpid(program, nullptr, 0), program);
        pid_t reaped = 0;
        for (int i = 0; i < 10000 && reaped == 0; ++i) {
            reaped = waitpid(runtime, nullptr, WNOHANG);
            if (reaped == 0)
                usleep(1000);
        }
        // The guard, the runtime's child, comes here too once the runtime is gone.
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        prctl(PR_SET_CHILD_SUBREAPER, 0);
        QCOMPARE(reaped, runtime);
    }

    void fakeRuntimes_data() {
        QTest::addColumn<QByteArray>("version");  // the answer to the version request; empty: exit 3 at once
        QTest::addColumn<QByteArray>("reply");    // then, to the compilation
        QTest::addColumn<QByteArray>("then");     // and then
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("error");
        const QByteArray good = QByteArray::fromStdString(versionPacket("3.4.0", "1.108.2"));
        QTest::newRow("ends as it starts") << QByteArray() << QByteArray() << QByteArray() << int(VantorCompiler::CannotRun)
                                           << QByteArray("Dart Sass cannot run: its process ended as it started (exit "
                                                         "status 3: fake runtime).");
        QTest::newRow("garbage for a version")
            << QByteArray(12, '\xff') << QByteArray() << QByteArray("exec sleep 60") << int(VantorCompiler::CannotRun)
            << QByteArray("Dart Sass cannot run: its process broke the protocol as it started (");
        QTest::newRow("another compiler") << QByteArray::fromStdString(versionPacket("3.4.0", "9.9.9")) << QByteArray()
                                          << QByteArray("exec sleep 60") << int(VantorCompiler::CannotRun)
                                          << QByteArray("Dart Sass cannot run: it is version 9.9.9, and this program is "
                                                        "built for 1.108.2.");
        QTest::newRow("another protocol") << QByteArray::fromStdString(versionPacket("4.0.0", "1.108.2")) << QByteArray()
                                          << QByteArray("exec sleep 60") << int(VantorCompiler::CannotRun)
                                          << QByteArray("Dart Sass cannot run: it speaks protocol 4.0.0, and this program "
                                                        "speaks 3.x.");
        QTest::newRow("another compilation's answer")
            << good << QByteArray::fromStdString(successPacket(7)) << QByteArray("exec sleep 60")
            << int(VantorCompiler::CompilerFailed) << QByteArray("Dart Sass failed on this input (it answered for compilation 7 during ");
        QTest::newRow("a huge length") << good << QByteArray("\xff\xff\xff\xff\x0f", 5) << QByteArray("exec sleep 60")
                                       << int(VantorCompiler::CompilerFailed) << QByteArray("Dart Sass failed on this input (");
        QTest::newRow("garbage") << good << QByteArray("\x05\x01garbage", 9) << QByteArray("exec sleep 60")
                                 << int(VantorCompiler::CompilerFailed) << QByteArray("Dart Sass failed on this input (");
        QTest::newRow("ends mid-message") << good << QByteArray("\x09\x01\x12", 3) << QByteArray("exit 0")
                                          << int(VantorCompiler::CompilerFailed)
                                          << QByteArray("Dart Sass failed on this input (exit status 0, in the middle of a "
                                                        "message). Your text is unchanged.");
        QTest::newRow("ends mid-compilation") << good << QByteArray() << QByteArray("exit 0")
                                              << int(VantorCompiler::CompilerFailed)
                                              << QByteArray("Dart Sass failed on this input (exit status 0). Your text is "
                                                            "unchanged.");
        // The backstop covers a runtime that stops talking.
        QTest::newRow("silence") << good << QByteArray() << QByteArray("exec sleep 60") << int(VantorCompiler::Stopped)
                                 << QByteArray("Compilation stopped: Dart Sass made no progress for 10 seconds (is it "
                                               "waiting for an @import of a pipe or device?)");
    }
    // A runtime that is not Dart Sass, or one that breaks the protocol, ends in
    // a clear error; the real one converts next.
    void fakeRuntimes() {
        QFETCH(QByteArray, version);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, then);
        QFETCH(int, kind);
        QFETCH(QByteArray, error);
        QTemporaryDir dir;
        const auto write = [&](const QString& name, const QByteArray& bytes) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        };
        write("version.bin", version);
        write("reply.bin", reply);
        write("sass.snapshot", QByteArray());
        const QByteArray request = QByteArray::number(qsizetype(
            VantorCompiler::dartsass::encodePacket(0, VantorCompiler::dartsass::versionRequest(1)).size()));
        const QByteArray folder = dir.path().toUtf8();
        write("dart", version.isEmpty()
                          ? QByteArray("#!/bin/sh\necho fake runtime >&2\nexit 3\n")
                          : "#!/bin/sh\nhead -c " + request + " >/dev/null\ncat '" + folder + "/version.bin'\n" +
                                "head -c 1 >/dev/null\ncat '" + folder + "/reply.bin'\n" + then + "\n");
        QFile(dir.filePath("dart")).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        {
            ScopedEnv env("VANTOR_DART_SASS", folder);
            const Result r = convert("a { b: c }");
            QVERIFY(r.cssNull);
            QVERIFY2(r.error.startsWith(error), r.error.constData());
            QCOMPARE(r.kind, kind);
        }
        if (HaveRuntime)
            expectOrdinaryConversion();
    }
};

QTEST_GUILESS_MAIN(TstDartSassEngine)
#include "tst_dartsassengine.moc"
