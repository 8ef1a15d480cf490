// What the library reports beyond the CSS: warnings with their places, the Sass
// module system refused, hints on libsass's limits, errors in imported files.
#include <VantorCompiler.h>

#include "CurrentFolder.h"

#include <QtTest>

#if defined(__SANITIZE_ADDRESS__)
#define VANTOR_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VANTOR_ASAN 1
#endif
#endif

using VantorCompiler::CompilerOptions;

namespace {

struct Result {
    bool cssNull = true;
    QByteArray css;
    bool errorNull = true;
    QByteArray error;
    int line = 0;
    int column = 0;
    bool fileNull = true;
    QByteArray file;
    int fileLine = 0;
    int fileColumn = 0;
    int kind = 0;
    // "line:column text" per warning.
    QStringList warnings;
};

Result convert(const QByteArray& scss, CompilerOptions options = CompilerOptions()) {
    options.input = sass_copy_c_string(scss.constData());
    Result r;
    const char* css = VantorCompiler::compile(options);
    r.cssNull = css == nullptr;
    r.css = css;
    const char* error = VantorCompiler::error();
    r.errorNull = error == nullptr;
    r.error = error;
    r.line = VantorCompiler::error_line();
    r.column = VantorCompiler::error_column();
    const char* file = VantorCompiler::error_file();
    r.fileNull = file == nullptr;
    r.file = file;
    r.fileLine = VantorCompiler::error_file_line();
    r.fileColumn = VantorCompiler::error_file_column();
    r.kind = VantorCompiler::error_kind();
    for (std::int32_t i = 0; i < VantorCompiler::warning_count(); ++i)
        r.warnings << QString("%1:%2 %3")
                          .arg(VantorCompiler::warning_line(i))
                          .arg(VantorCompiler::warning_column(i))
                          .arg(QString::fromUtf8(VantorCompiler::warning_text(i)));
    VantorCompiler::free_memory();
    return r;
}

const QString OperationWarning =
    "DEPRECATION WARNING: The operation `#fff plus 1` is deprecated and will be an error in future versions. "
    "Consider using Sass's color functions instead. "
    "https://sass-lang.com/documentation/Sass/Script/Functions.html#other_color_functions";

QString leftover(const QString& name, const QString& property) {
    return "WARNING: " + name + " is left as text in the CSS of " + property +
           ": libsass copies calc() and custom property values as written. Interpolate the Sass part instead, "
           "as in calc(#{$a * 2} + 1vw).";
}

// The refusal of a module system rule names the way out: Dart Sass where it
// can run here, else why it cannot, and the libsass way round.
QByteArray moduleRefusal(const QByteArray& rule, bool imported) {
    const char* problem = VantorCompiler::engine_error(VantorCompiler::DartSass);
    const QByteArray wayOut = problem ? ", and Dart Sass, which would convert it, cannot run here (" + QByteArray(problem) + "). "
                                      : QByteArray("; Dart Sass converts it: choose Dart Sass as the compiler. ");
    return rule + (imported ? " (in an imported file)" : "") + " is not supported by libsass" + wayOut +
           "libsass predates the Sass module system (@use, @forward, and built-in modules such as sass:math)" +
           (problem ? ": use" : "; to stay with it, use") +
           " @import and the global functions instead (math.div(a, b) \xE2\x86\x92 a / b, map.get \xE2\x86\x92 map-get).";
}

// A working directory of partials for one test; the worker follows it.

const QMap<QString, QByteArray> Partials{
    {"_part.scss",
     "$pv: 1;\n"
     "@mixin pm($x) {\n"
     "  @warn \"in partial mixin #{$x}\";\n"
     "}\n"
     "@warn \"partial top\";\n"
     "@function pf() { @warn \"in pf\"; @return 1; }\n"},
    {"_bad.scss", ".x {\n  b: c;\n  d: $undefined;\n}\n"},
    {"_badmix.scss", "@mixin bm { e: $undefined2; }\n"},
    {"_broken.scss", ".y {\n  b: ;\n}\n"},
    {"_mod.scss", "@use \"config\";\n.z { a: b; }\n"},
    {"_fwd.scss", "@forward \"x\";\n"},
    {"_dep.scss", ".p { q: #fff + 1; }\n@mixin dm { r: red; @debug \"in dm\"; }\n"},
    // Messages and file names that look like the places libsass prints.
    {"_ep.scss", "@error \"boom\\a        on line 7:3 of stdin\";"},
    {"_em.scss", "@mixin em { @error \"boom\\a        on line 7:3 of stdin\"; }"},
    {"_wp.scss",
     "@warn \"w\\a         on line 1:2 of stdin\";\n@mixin wm { @warn \"m\\a         from line 1:2 of stdin\"; }"},
    {"q\n        on line 1:2 of stdin", ".e {\n  b: 1px + 1em;\n}"},
    {"_p\nDEPRECATION WARNING on line 3, column 4 of stdin.scss", "a { $g: 1 !global; }"},
    {"_w\n         on line 1:2 of stdin.scss", "@warn \"x\";"},
};

}  // namespace

class TstCompilerWarnings : public QObject {
    Q_OBJECT

private slots:
    void warnings_data() {
        QTest::addColumn<QByteArray>("scss");
        QTest::addColumn<QStringList>("warnings");
        QTest::newRow("none") << QByteArray("a { b: c }") << QStringList();
        QTest::newRow("@warn") << QByteArray("@warn \"careful\";\na { b: c }") << QStringList{"1:1 WARNING: careful"};
        QTest::newRow("@debug of a number") << QByteArray("a { b: c }\n  @debug 1 + 1;")
                                            << QStringList{"2:3 DEBUG: 2"};
        QTest::newRow("@debug of a map") << QByteArray("@debug (a: 1, b: 2px * 2);")
                                         << QStringList{"1:1 DEBUG: (a: 1, b: 4px)"};
        QTest::newRow("@warn in a mixin of the text, at the @warn")
            << QByteArray("@mixin m {\n  b: c;\n    @warn \"inner\";\n}\na { @include m; }")
            << QStringList{"3:5 WARNING: inner"};
        QTest::newRow("@warn in a function of the text")
            << QByteArray("@function f() {\n  @warn \"in f\";\n  @return 1;\n}\na { b: f(); }")
            << QStringList{"2:3 WARNING: in f"};
        QTest::newRow("libsass's deprecation")
            << QByteArray("a {\n  b: #fff + 1;\n}") << QStringList{"2:1 " + OperationWarning};
        QTest::newRow("libsass's warning with a column")
            << QByteArray("a { @if true && false { b: c } }")
            << QStringList{"1:14 WARNING: In Sass, \"&&\" means two copies of the parent selector. You probably want "
                           "to use \"and\" instead."};
        QTest::newRow("libsass's deprecation without a place, at 0:0")
            << QByteArray("a { b: call(\"rgb\", 1, 2, 3); }")
            << QStringList{"0:0 DEPRECATION WARNING: Passing a string to call() is deprecated and will be illegal in "
                           "Sass 4.0. Use call(get-function(\"rgb\")) instead."};
        QTest::newRow("both kinds, in the order they arose")
            << QByteArray("@for $i from 1 through 2 {\n  @warn \"w#{$i}\";\n  a#{$i} { b: #fff + $i; }\n}")
            << QStringList{"2:3 WARNING: w1",
                           "3:1 DEPRECATION WARNING: The operation `#fff plus 1` is deprecated and will be an error "
                           "in future versions. Consider using Sass's color functions instead. "
                           "https://sass-lang.com/documentation/Sass/Script/Functions.html#other_color_functions",
                           "2:3 WARNING: w2",
                           "3:1 DEPRECATION WARNING: The operation `#fff plus 2` is deprecated and will be an error "
                           "in future versions. Consider using Sass's color functions instead. "
                           "https://sass-lang.com/documentation/Sass/Script/Functions.html#other_color_functions"};
        QTest::newRow("warning before a Sass error")
            << QByteArray("@warn \"before\";\na { b: $nope; }") << QStringList{"1:1 WARNING: before"};
        QTest::newRow("variable left in calc()")
            << QByteArray("$a: 2px;\na {\n  width: calc($a * 2 + 1vw);\n}")
            << QStringList{"3:15 " + leftover("$a", "width")};
        QTest::newRow("variable left in a custom property")
            << QByteArray("$gap: 1px;\n:root { --gap: $gap; }") << QStringList{"2:16 " + leftover("$gap", "--gap")};
        QTest::newRow("variable left where the text does not show it, at 0:0")
            << QByteArray("a { b: calc(#{\"$\"}x + 1px); }") << QStringList{"0:0 " + leftover("$x", "b")};
        QTest::newRow("each declaration once")
            << QByteArray("$a: 1px;\n@for $i from 1 through 3 { .c#{$i} { w: calc($a + 1px); } }")
            << QStringList{"2:46 " + leftover("$a", "w")};
        // libsass's column drifts after an interpolation: the statement is found in the text.
        QTest::newRow("@warn after an unquoted interpolation")
            << QByteArray("$x: 1;\n@warn #{$x}abc;") << QStringList{"2:1 WARNING: 1abc"};
        QTest::newRow("two @warn on a line, an interpolation in the first")
            << QByteArray("$x: 1;\n@warn #{$x}a;@warn \"b\";") << QStringList{"2:1 WARNING: 1a", "2:14 WARNING: b"};
        QTest::newRow("@warn of a string with two interpolations")
            << QByteArray("$x: 1;\n@warn \"#{$x} y\\a #{$x}\";") << QStringList{"2:1 WARNING: 1 y\n1"};
        QTest::newRow("@debug after an unquoted interpolation")
            << QByteArray("$x: 1;\n  @debug #{$x}abc;") << QStringList{"2:3 DEBUG: 1abc"};
        QTest::newRow("@warn over two lines")
            << QByteArray("@warn \"a\" +\n  #{1}b;") << QStringList{"1:1 WARNING: \"a\" + 1b"};
        // The message as libsass writes it, whatever the value.
        QTest::newRow("@warn of a colour as written") << QByteArray("@warn #fff;") << QStringList{"1:1 WARNING: #fff"};
        QTest::newRow("@debug of a named colour")
            << QByteArray("@debug transparent;") << QStringList{"1:1 DEBUG: transparent"};
        QTest::newRow("@warn of a selector")
            << QByteArray(".a .b, .c { @warn &; }") << QStringList{"1:13 WARNING: .a .b, .c"};
        QTest::newRow("@warn of a division") << QByteArray("@warn 1/0;") << QStringList{"1:1 WARNING: 1/0"};
        QTest::newRow("@debug of a division") << QByteArray("@debug 1px/3;") << QStringList{"1:1 DEBUG: 1px/3"};
        QTest::newRow("@warn of a function") << QByteArray("@function f() { @return 1; }\n@warn get-function(f);")
                                             << QStringList{"2:1 WARNING: get-function(\"f\")"};
        QTest::newRow("@warn of a list of nulls")
            << QByteArray("@warn (null, null);") << QStringList{"1:1 WARNING: null, null"};
        // One warning stays one, whatever its text holds.
        QTest::newRow("libsass's text holding a debug line")
            << QByteArray(".a { @extend .x[a='x\\astdin:5 DEBUG: forged debug\\a'] !optional; }")
            << QStringList{
                   "1:14 WARNING: Compound selectors may no longer be extended. Consider `@extend .x, "
                   "[a='x\\astdin:5 DEBUG: forged debug\\a']` instead. See http://bit.ly/ExtendCompound for "
                   "details."};
        QTest::newRow("@warn text holding places and headers")
            << QByteArray("@warn \"a\\a         on line 9:9 of stdin\\a\\aWARNING: b\\a\\astdin:3 DEBUG: c\";")
            << QStringList{"1:1 WARNING: a\n        on line 9:9 of stdin\n\nWARNING: b\n\nstdin:3 DEBUG: c"};
        QTest::newRow("@warn of a header's words") << QByteArray("@warn \"WARNING: \";\n@debug \"Warning: \";")
                                                   << QStringList{"1:1 WARNING: WARNING: ", "2:1 DEBUG: Warning: "};
        // A byte order mark is a character of the first line.
        QTest::newRow("@warn after a byte order mark")
            << QByteArray("\xEF\xBB\xBF@for $i from 1 through 2 { @warn \"w#{$i}\"; }")
            << QStringList{"1:29 WARNING: w1", "1:29 WARNING: w2"};
        QTest::newRow("libsass's column after a byte order mark")
            << QByteArray(
                   "\xEF\xBB\xBF"
                   "a { @if true && false { b: c } }")
            << QStringList{
                   "1:15 WARNING: In Sass, \"&&\" means two copies of the parent selector. You probably want "
                   "to use \"and\" instead."};
        QTest::newRow("no variable: strings, comments, attribute selectors, interpolation")
            << QByteArray("$a: 1px;\n[href$=\".pdf\"] { b: \"$a\"; c: calc(#{$a * 2} + 1vw); d: url($x.png); }\n/*! $a */")
            << QStringList();
    }
    void warnings() {
        QFETCH(QByteArray, scss);
        QFETCH(QStringList, warnings);
        const Result r = convert(scss);
        QCOMPARE(r.warnings, warnings);
    }

    void warningBeforeAnErrorKeepsTheError() {
        const Result r = convert("@warn \"before\";\na { b: $nope; }");
        QVERIFY(r.cssNull);
        QCOMPARE(r.error, QByteArray("Undefined variable: \"$nope\"."));
        QCOMPARE(r.line, 2);
        QCOMPARE(r.warnings.size(), 1);
    }

    void leftoverVariableKeepsTheCss() {
        const Result r = convert("$a: 2px;\na { width: calc($a * 2 + 1vw); }");
        QCOMPARE(r.css, QByteArray("a {\n    width: calc($a * 2 + 1vw);\n}\n"));
        QVERIFY(r.errorNull);
    }

    void warningsOfImportedFiles() {
        CurrentFolder dir(Partials);
        const Result r = convert("@import \"part\";\na {\n  @include pm(3);\n  w: pf();\n}");
        QVERIFY2(r.errorNull, r.error.constData());
        // At the @include and the call in the text; the partial's own @warn at 0:0, naming its file and line.
        QCOMPARE(r.warnings, (QStringList{"0:0 WARNING: partial top (on line 5 of _part.scss)",
                                          "3:3 WARNING: in partial mixin 3", "4:6 WARNING: in pf"}));
    }

    void deprecationsOfImportedFiles() {
        CurrentFolder dir(Partials);
        const Result r = convert("@import \"dep\";\na { @include dm; }");
        QCOMPARE(r.warnings, (QStringList{"0:0 " + OperationWarning + " (on line 1 of _dep.scss)",
                                          "2:5 DEBUG: in dm"}));
    }

    // Messages and file names of partials that look like libsass's places
    // and headers: each warning once, at its true place.
    void warningsOfHostilePartials_data() {
        QTest::addColumn<QByteArray>("scss");
        QTest::addColumn<QStringList>("warnings");
        QTest::newRow("a file name holding a deprecation's header")
            << QByteArray("\n\n@import \"p\\a DEPRECATION WARNING on line 3, column 4 of stdin\";")
            << QStringList{
                   "0:0 DEPRECATION WARNING: !global assignments won't be able to declare new variables in "
                   "future versions. Consider adding `$g: null` at the top level. (on line 1 of _p\nDEPRECATION "
                   "WARNING on line 3, column 4 of stdin.scss)"};
        QTest::newRow("a file name holding a trace line")
            << QByteArray("a { b: c; }\n@import \"w\\a          on line 1:2 of stdin\";")
            << QStringList{"0:0 WARNING: x (on line 1 of _w\n         on line 1:2 of stdin.scss)"};
        QTest::newRow("@warn texts holding trace lines")
            << QByteArray("@import \"wp\";\na { @include wm; }")
            << QStringList{"0:0 WARNING: w\n        on line 1:2 of stdin (on line 1 of _wp.scss)",
                           "2:5 WARNING: m\n        from line 1:2 of stdin"};
    }
    void warningsOfHostilePartials() {
        QFETCH(QByteArray, scss);
        QFETCH(QStringList, warnings);
        CurrentFolder dir(Partials);
        const Result r = convert(scss);
        QVERIFY2(r.errorNull, r.error.constData());
        QCOMPARE(r.warnings, warnings);
    }

    // A warning of libsass's longer than any read of its output stays one.
    void longPrintedWarningStaysOne() {
        const Result r = convert(".a { @extend .x[a='" + QByteArray(1200000, 'v') + "'] !optional; }");
        QVERIFY2(r.errorNull, r.error.constData());
        QCOMPARE(r.warnings.size(), 1);
        QVERIFY(
            r.warnings.first().startsWith("1:14 WARNING: Compound selectors may no longer be extended. Consider "
                                          "`@extend .x, [a='vvv"));
        QVERIFY(r.warnings.first().endsWith(QString::fromUtf8("\xE2\x80\xA6")));
    }

    // libsass writes each @warn with its trace, some microseconds apiece (and
    // four times that in the sanitizer build, where libsass's allocations are
    // watched). Measured with load 5 on the two cores: 0.09 s of the worker's
    // CPU for the 10,000, 0.38 s in the sanitizer build, a fifth of its 2 s.
    void manyWarningsAreBounded() {
        QElapsedTimer timer;
        timer.start();
        const Result r = convert("@for $i from 1 through 10000 { @warn \"w#{$i}\"; }\na { b: c }");
        qInfo("10,000 @warn: %lld ms", static_cast<long long>(timer.elapsed()));
        QCOMPARE(r.css, QByteArray("a {\n    b: c;\n}\n"));
        QVERIFY(r.errorNull);
        QCOMPARE(r.warnings.size(), 101);
        QCOMPARE(r.warnings.first(), QString("1:32 WARNING: w1"));
        QCOMPARE(r.warnings.at(99), QString("1:32 WARNING: w100"));
        QCOMPARE(r.warnings.last(), QString::fromUtf8("0:0 \xE2\x80\xA6 and 9900 more warnings"));
    }

    void manyDeprecationsAreBounded() {
        const Result r = convert("@for $i from 1 through 3000 { a#{$i} { b: #fff + $i; } }");
        QVERIFY(!r.cssNull);
        QCOMPARE(r.warnings.size(), 101);
        QVERIFY(r.warnings.at(99).contains("`#fff plus 100`"));
        QCOMPARE(r.warnings.last(), QString::fromUtf8("0:0 \xE2\x80\xA6 and 2900 more warnings"));
    }

    // Printed warnings are read as libsass writes them and only the first are
    // kept: a loop that prints on every pass still converts, every warning is
    // counted, and the next conversion starts afresh. Each pass prints a
    // deprecation naming a number whose unit has 13,200 characters, so the
    // 1,300 passes print about 17.5 MB, past 16 MiB. Measured with load 5 on
    // the two cores: 0.05 s of the worker's CPU, 0.52 s in the sanitizer build
    // (which watches libsass's allocations), a quarter of its 2 s budget.
    void endlessPrintedWarningsStayBounded() {
        const int passes = 1300;
        const Result r = convert("@for $i from 1 through " + QByteArray::number(passes) + " { $x: 1" +
                                 QByteArray(13200, 'v') + " + #fff; }\na { b: c }");
        QCOMPARE(r.css, QByteArray("a {\n    b: c;\n}\n"));
        QVERIFY2(r.errorNull, r.error.constData());
        QVERIFY(r.warnings.size() > 1 && r.warnings.size() <= 101);
        QVERIFY(r.warnings.first().startsWith("1:1 DEPRECATION WARNING: The operation `1vvv"));
        // The summary counts every warning, past the first 16 MiB of output too.
        QCOMPARE(r.warnings.last(),
                 QString::fromUtf8("0:0 \xE2\x80\xA6 and %1 more warnings").arg(passes - int(r.warnings.size()) + 1));
        const Result next = convert("a { b: #fff + 1 }");
        QCOMPARE(next.css, QByteArray("a {\n    b: white;\n}\n"));
        QCOMPARE(next.warnings.size(), 1);
        QVERIFY(next.warnings.first().contains("`#fff plus 1`"));
    }

    void manyLeftoverVariablesAreBounded() {
        const Result r = convert("$a: 1px;\n@for $i from 1 through 300 { .c#{$i} { w: calc($a + #{$i}px); } }");
        QVERIFY(!r.cssNull);
        QCOMPARE(r.warnings.size(), 101);
        // Interpolated per rule, so the value as the CSS shows it is not in the text.
        QCOMPARE(r.warnings.first(), "0:0 " + leftover("$a", "w"));
        QCOMPARE(r.warnings.last(), QString::fromUtf8("0:0 \xE2\x80\xA6 and 200 more warnings"));
    }

    void longWarningTextsAreCut() {
        const Result r = convert("@warn \"" + QByteArray(100000, 'x') + "\";\n@warn \"" + QByteArray(3000, 'y') + "\";");
        QCOMPARE(r.warnings.size(), 2);
        for (const QString& w : r.warnings) {
            QVERIFY(w.startsWith("1:1 WARNING: xxx") || w.startsWith("2:1 WARNING: yyy"));
            QVERIFY(w.endsWith(QString::fromUtf8("\xE2\x80\xA6")));
            QVERIFY(w.toUtf8().size() <= 2048 + 4);
        }
        // So many long texts that their bytes, not their number, bound them.
        QByteArray scss;
        for (int i = 0; i < 60; ++i)
            scss += "@warn \"" + QByteArray(2000, 'a' + i % 26) + "\";\n";
        const Result many = convert(scss);
        QVERIFY(many.warnings.size() < 60);
        QVERIFY(many.warnings.last().contains(QString::fromUtf8("\xE2\x80\xA6 and ")));
        int bytes = 0;
        for (const QString& w : many.warnings)
            bytes += w.toUtf8().size();
        QVERIFY(bytes <= 64 * 1024 + 100 * 16);
    }

    void warningsBelongToTheLiveConversion() {
        CompilerOptions o;
        o.input = sass_copy_c_string("@warn \"w\";");
        VantorCompiler::compile(o);
        QCOMPARE(int(VantorCompiler::warning_count()), 1);
        QCOMPARE(QByteArray(VantorCompiler::warning_text(0)), QByteArray("WARNING: w"));
        QVERIFY(VantorCompiler::warning_text(1) == nullptr);
        QVERIFY(VantorCompiler::warning_text(-1) == nullptr);
        QCOMPARE(int(VantorCompiler::warning_line(1)), 0);
        QCOMPARE(int(VantorCompiler::warning_column(-1)), 0);
        VantorCompiler::free_memory();
        QCOMPARE(int(VantorCompiler::warning_count()), 0);
        QVERIFY(VantorCompiler::warning_text(0) == nullptr);
        QCOMPARE(int(VantorCompiler::warning_line(0)), 0);
        // The next conversion's warnings replace them.
        QCOMPARE(convert("a { b: c }").warnings, QStringList());
    }

    void moduleRulesRefused_data() {
        QTest::addColumn<QByteArray>("scss");
        QTest::addColumn<QByteArray>("rule");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::newRow("@use") << QByteArray("@use \"config\";\na { b: c }") << QByteArray("@use") << 1 << 1;
        QTest::newRow("@forward") << QByteArray("@forward \"x\";") << QByteArray("@forward") << 1 << 1;
        QTest::newRow("@use with a built-in module")
            << QByteArray("@use \"sass:math\";\n.a { width: math.div(10px, 3); }") << QByteArray("@use") << 1 << 1;
        QTest::newRow("after comments and other rules")
            << QByteArray("// @forward \"no\";\n/* @use */ a { b: c }\n  @use 'x' as y;") << QByteArray("@use") << 3
            << 3;
        QTest::newRow("nested") << QByteArray("a {\n  b: c;\n  @use \"x\";\n}") << QByteArray("@use") << 3 << 3;
        QTest::newRow("the first of both") << QByteArray("a{}\n@forward \"f\";\n@use \"u\";") << QByteArray("@forward")
                                           << 2 << 1;
        QTest::newRow("after a string holding quotes and interpolation")
            << QByteArray("a { content: \"x\\\"#{\"}\"}\"; } \xC3\xA9{} @use \"u\";") << QByteArray("@use") << 1 << 33;
        QTest::newRow("then a Sass error") << QByteArray("@use \"x\";\na { b: }") << QByteArray("@use") << 1 << 1;
    }
    void moduleRulesRefused() {
        QFETCH(QByteArray, scss);
        QFETCH(QByteArray, rule);
        QFETCH(int, line);
        QFETCH(int, column);
        const Result r = convert(scss);
        QVERIFY(r.cssNull);
        QCOMPARE(r.error, moduleRefusal(rule, false));
        QCOMPARE(r.kind, int(VantorCompiler::ModuleSystemRefused));
        QCOMPARE(r.line, line);
        QCOMPARE(r.column, column);
        QVERIFY(r.fileNull);
    }

    void moduleRulesNotRefused_data() {
        QTest::addColumn<QByteArray>("scss");
        QTest::addColumn<QByteArray>("css");
        QTest::newRow("in a line comment") << QByteArray("// @use \"x\";\na { b: c }") << QByteArray("a {\n    b: c;\n}\n");
        QTest::newRow("in a block comment")
            << QByteArray("/* @forward \"x\"; */\na { b: c }") << QByteArray("/* @forward \"x\"; */\na {\n    b: c;\n}\n");
        QTest::newRow("in a string") << QByteArray("a { content: \"@use\"; }")
                                     << QByteArray("a {\n    content: \"@use\";\n}\n");
        QTest::newRow("in a url") << QByteArray("a { b: url(//x.org/@use); }")
                                  << QByteArray("a {\n    b: url(//x.org/@use);\n}\n");
        QTest::newRow("a longer at-keyword") << QByteArray("@usefoo {}\na { b: c }")
                                             << QByteArray("@usefoo {}a {\n    b: c;\n}\n");
        QTest::newRow("a longer at-keyword with a dash") << QByteArray("@forward-x;")
                                                         << QByteArray("@forward-x;\n");
        QTest::newRow("never mentioned") << QByteArray("$c: red;\na { b { color: $c; } }")
                                         << QByteArray("a b {\n    color: red;\n}\n");
    }
    void moduleRulesNotRefused() {
        QFETCH(QByteArray, scss);
        QFETCH(QByteArray, css);
        const Result r = convert(scss);
        QVERIFY2(r.errorNull, r.error.constData());
        QCOMPARE(r.css, css);
    }

    void moduleRulesOfImportedFilesRefused_data() {
        QTest::addColumn<QByteArray>("scss");
        QTest::addColumn<QByteArray>("rule");
        QTest::newRow("@use") << QByteArray("@import \"mod\";\na { b: c }") << QByteArray("@use");
        QTest::newRow("@forward") << QByteArray("a { b: c }\n@import \"fwd\";") << QByteArray("@forward");
    }
    void moduleRulesOfImportedFilesRefused() {
        QFETCH(QByteArray, scss);
        QFETCH(QByteArray, rule);
        CurrentFolder dir(Partials);
        const Result r = convert(scss);
        QVERIFY(r.cssNull);
        QCOMPARE(r.error, moduleRefusal(rule, true));
        QCOMPARE(r.kind, int(VantorCompiler::ModuleSystemRefused));
        QCOMPARE(r.line, 0);
        QCOMPARE(r.column, 0);
    }

    void hints_data() {
        QTest::addColumn<QByteArray>("scss");
        QTest::addColumn<QByteArray>("error");
        const QByteArray media = "libsass does not know range media queries such as (width >= 600px): write "
                                 "(min-width: 600px) or (max-width: 600px) instead.";
        const QByteArray colour = "libsass does not know the space-separated colour syntax such as rgb(0 0 0 / 50%): "
                                  "write rgba(0, 0, 0, 0.5) with commas instead.";
        const QByteArray minMax = "libsass computes min() and max() itself and cannot compare different units: write "
                                  "unquote(\"min(10px, 5vw)\") to pass the CSS function through.";
        const QByteArray module = "libsass predates the Sass module system, so module functions such as math.div do "
                                  "not exist: use the global functions instead (math.div(a, b) \xE2\x86\x92 a / b, "
                                  "map.get \xE2\x86\x92 map-get, color.adjust \xE2\x86\x92 adjust-color).";
        QTest::newRow("range media query") << QByteArray("@media (width >= 600px) { a { b: c } }")
                                           << "unclosed parenthesis in media query expression. " + media;
        QTest::newRow("rgb() with spaces") << QByteArray("a { b: rgb(0 0 0 / 50%); }")
                                           << "Function rgb is missing argument $green. " + colour;
        QTest::newRow("hsl() with spaces") << QByteArray("a { b: hsl(10deg 20% 30%); }")
                                           << "Function hsl is missing argument $saturation. " + colour;
        QTest::newRow("rgba() with spaces")
            << QByteArray("a { b: rgba(0 0 0 / 50%); }")
            << "overloaded function `rgba` given wrong number of arguments. " + colour;
        QTest::newRow("min() with mixed units") << QByteArray("a { b: min(10px, 5vw); }")
                                                << "Incompatible units: 'vw' and 'px'. " + minMax;
        QTest::newRow("max() with mixed units") << QByteArray("a { b: max(100%, 5px); }")
                                                << "Incompatible units: '%' and 'px'. " + minMax;
        QTest::newRow("math.div without @use")
            << QByteArray("a { width: math.div(10px, 3); }")
            << "Invalid CSS after \"a { width: math\": expected expression (e.g. 1px, bold), was \".div(10px, 3); }\". " +
                   module;
        QTest::newRow("map.get without @use")
            << QByteArray("$x: map.get($m, a);")
            << "Invalid CSS after \"$x: map\": expected expression (e.g. 1px, bold), was \".get($m, a);\". " + module;
        // No row: libsass's text exactly.
        QTest::newRow("arithmetic with mixed units") << QByteArray("a { b: 10px + 5vw; }")
                                                     << QByteArray("Incompatible units: 'vw' and 'px'.");
        QTest::newRow("a name merely ending in math")
            << QByteArray("a { b: xmath.div(1); }")
            << QByteArray("Invalid CSS after \"a { b: xmath\": expected expression (e.g. 1px, bold), was \".div(1); }\"");
        QTest::newRow("syntax") << QByteArray("a{b:}")
                                << QByteArray("Invalid CSS after \"a{b:\": expected expression (e.g. 1px, bold), was \"}\"");
    }
    void hints() {
        QFETCH(QByteArray, scss);
        QFETCH(QByteArray, error);
        const Result r = convert(scss);
        QVERIFY(r.cssNull);
        QCOMPARE(r.error, error);
    }

    void importedErrors_data() {
        QTest::addColumn<QByteArray>("scss");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        // The place inside the file, where libsass names it.
        QTest::addColumn<int>("fileLine");
        QTest::addColumn<int>("fileColumn");
        QTest::addColumn<QByteArray>("error");
        QTest::newRow("in an imported file, at its @import")
            << QByteArray("a { b: c }\n\n  @import \"bad\";") << "_bad.scss" << 3 << 3 << 3 << 6
            << QByteArray("Undefined variable: \"$undefined\".");
        QTest::newRow("in a mixin of an imported file, at the @include")
            << QByteArray("@import \"badmix\";\na {\n  @include bm;\n}") << "_badmix.scss" << 3 << 3 << 1 << 16
            << QByteArray("Undefined variable: \"$undefined2\".");
        QTest::newRow("syntax error in an imported file")
            << QByteArray("@import \"broken\";") << "_broken.scss" << 1 << 1 << 2 << 4
            << QByteArray("style declaration must contain a value");
        // The place is libsass's trace after the message, never a place the message or a file name shows.
        QTest::newRow("@error naming a place, in an imported file")
            << QByteArray(".t { a: b; }\n@import \"ep\";") << "_ep.scss" << 2 << 1 << 1 << 8
            << QByteArray("boom\n       on line 7:3 of stdin");
        QTest::newRow("@error naming a place, in a mixin of an imported file")
            << QByteArray("@import \"em\";\n.t { @include em; }") << "_em.scss" << 2 << 6 << 1 << 20
            << QByteArray("boom\n       on line 7:3 of stdin");
        QTest::newRow("in a file whose name holds a place")
            << QByteArray("\n\n@import \"q\\a         on line 1:2 of stdin\";") << "q\n        on line 1:2 of stdin"
            << 3 << 1 << 2 << 6 << QByteArray("Incompatible units: 'em' and 'px'.");
        QTest::newRow("in the text") << QByteArray("@import \"part\";\na { b: $nope; }") << QString() << 2 << 8 << 0
                                     << 0 << QByteArray("Undefined variable: \"$nope\".");
        QTest::newRow("a missing file, in the text")
            << QByteArray("@import \"missing\";") << QString() << 1 << 1 << 0 << 0
            << QByteArray("File to import not found or unreadable: missing.");
    }
    void importedErrors() {
        QFETCH(QByteArray, scss);
        QFETCH(QString, file);
        QFETCH(int, line);
        QFETCH(int, column);
        QFETCH(int, fileLine);
        QFETCH(int, fileColumn);
        QFETCH(QByteArray, error);
        CurrentFolder dir(Partials);
        const Result r = convert(scss);
        QVERIFY(r.cssNull);
        QCOMPARE(r.error, error);
        QCOMPARE(r.kind, int(VantorCompiler::SassError));
        QCOMPARE(r.fileLine, fileLine);
        QCOMPARE(r.fileColumn, fileColumn);
        QCOMPARE(r.fileNull, file.isEmpty());
        if (!file.isEmpty())
            QCOMPARE(QString::fromUtf8(r.file), dir.path(file));
        QCOMPARE(r.line, line);
        QCOMPARE(r.column, column);
    }

    void errorFileBelongsToTheLiveConversion() {
        CurrentFolder dir(Partials);
        CompilerOptions o;
        o.input = sass_copy_c_string("@import \"bad\";");
        VantorCompiler::compile(o);
        QVERIFY(VantorCompiler::error_file() != nullptr);
        VantorCompiler::free_memory();
        QVERIFY(VantorCompiler::error_file() == nullptr);
        QVERIFY(convert("a { b: c }").fileNull);
    }
};

QTEST_GUILESS_MAIN(TstCompilerWarnings)
#include "tst_compilerwarnings.moc"
