#include <VantorCompiler.h>

#include <QtTest>

#include <climits>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define VANTOR_LSAN_DISABLE() __lsan_disable()
#define VANTOR_LSAN_ENABLE() __lsan_enable()
#else
#define VANTOR_LSAN_DISABLE()
#define VANTOR_LSAN_ENABLE()
#endif

using VantorCompiler::CompilerOptions;

namespace {

const char* const FailureText = "ERROR : Unhandled compiler error occurred please contact supplier";

struct Result {
    bool cssNull = true;
    QByteArray css;
    bool errorNull = true;
    QByteArray error;
};

// One whole conversion through the exported functions, in the program's calling order.
Result convert(const QByteArray& scss, CompilerOptions options = CompilerOptions()) {
    options.input = sass_copy_c_string(scss.constData());
    Result r;
    const char* css = VantorCompiler::compile(options);
    r.cssNull = css == nullptr;
    r.css = css;
    const char* error = VantorCompiler::error();
    r.errorNull = error == nullptr;
    r.error = error;
    VantorCompiler::free_memory();
    return r;
}

CompilerOptions withStyle(int code) {
    CompilerOptions o;
    o.output_style = code;
    return o;
}

}  // namespace

class TstCompiler : public QObject {
    Q_OBJECT

private slots:
    // Runs first: nothing is live before the first compile.
    void noLiveConversion() {
        QVERIFY(VantorCompiler::error() == nullptr);
        QCOMPARE(int(VantorCompiler::error_line()), 0);
        QCOMPARE(int(VantorCompiler::error_column()), 0);
        VantorCompiler::free_memory();
        VantorCompiler::free_memory();
        QVERIFY(VantorCompiler::error() == nullptr);

        CompilerOptions o;
        o.input = sass_copy_c_string("a{b:}");
        VantorCompiler::compile(o);
        QVERIFY(VantorCompiler::error() != nullptr);
        VantorCompiler::free_memory();
        QVERIFY(VantorCompiler::error() == nullptr);
        VantorCompiler::free_memory();  // a second release is harmless
    }

    void defaults() {
        const CompilerOptions o;
        QCOMPARE(o.output_style, 2);
        QCOMPARE(o.source_map_embed, false);
        QCOMPARE(o.indent_type, 0);
        QCOMPARE(o.indent_width, 4);
        QCOMPARE(o.engine, int(VantorCompiler::Libsass));
        QCOMPARE(sizeof(VantorCompiler::IndentTypes), size_t(4));
        // Default record: expanded, four spaces, no source comments.
        const Result r = convert("a { b { c: d } }");
        QCOMPARE(r.css, QByteArray("a b {\n    c: d;\n}\n"));
        QVERIFY(r.errorNull);
    }

    void styles_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("css");
        QTest::newRow("0 nested") << 0 << QByteArray("a b {\n    c: d; }\n");
        QTest::newRow("1 compact") << 1 << QByteArray("a b { c: d; }\n");
        QTest::newRow("2 expanded") << 2 << QByteArray("a b {\n    c: d;\n}\n");
        QTest::newRow("3 compressed") << 3 << QByteArray("a b{c:d}\n");
    }
    void styles() {
        QFETCH(int, code);
        QFETCH(QByteArray, css);
        const Result r = convert("a { b { c: d } }", withStyle(code));
        QCOMPARE(r.css, css);
        QVERIFY(r.errorNull);
    }

    void indentation_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("width");
        QTest::addColumn<QByteArray>("indent");
        QTest::newRow("tabs x3") << 1 << 3 << QByteArray("\t\t\t");
        QTest::newRow("spaces x4") << 0 << 4 << QByteArray("    ");
        QTest::newRow("spaces x1") << 0 << 1 << QByteArray(" ");
        QTest::newRow("other type means spaces") << 7 << 2 << QByteArray("  ");
        QTest::newRow("width 0") << 1 << 0 << QByteArray("");
        QTest::newRow("width at the bound") << 0 << int(VantorCompiler::MaxIndentWidth)
                                            << QByteArray(VantorCompiler::MaxIndentWidth, ' ');
    }
    void indentation() {
        QFETCH(int, type);
        QFETCH(int, width);
        QFETCH(QByteArray, indent);
        CompilerOptions o;
        o.indent_type = type;
        o.indent_width = width;
        const Result r = convert("a { b: c }", o);
        QCOMPARE(r.css, "a {\n" + indent + "b: c;\n}\n");
    }

    void precision() {
        const Result r = convert("a { b: (1/3); c: 1.25 * 1rem; d: 1.5rem / 4 * 1; }");
        QCOMPARE(r.css, QByteArray("a {\n    b: 0.3333333333;\n    c: 1.25rem;\n    d: 0.375rem;\n}\n"));
    }

    void sourceMap() {
        CompilerOptions o;
        o.source_map_embed = true;
        const Result on = convert("a { b: c }", o);
        QVERIFY(on.css.startsWith("a {\n    b: c;\n}\n"));
        QVERIFY(on.css.contains("/*# sourceMappingURL=data:application/json;base64,"));
        // No map file is named, so libsass refers to its default input name only.
        const QByteArray map = QByteArray::fromBase64(on.css.split(',').last().split(' ').first());
        QVERIFY2(map.contains("\"sources\""), map.constData());

        o.source_map_embed = false;
        QVERIFY(!convert("a { b: c }", o).css.contains("sourceMappingURL"));
    }

    void sassErrors_data() {
        QTest::addColumn<QByteArray>("scss");
        QTest::addColumn<QByteArray>("error");
        QTest::newRow("syntax") << QByteArray("a{b:}")
                                << QByteArray("Invalid CSS after \"a{b:\": expected expression (e.g. 1px, bold), was \"}\"");
        QTest::newRow("undefined variable") << QByteArray("a { b: $nope; }") << QByteArray("Undefined variable: \"$nope\".");
        QTest::newRow("unclosed block") << QByteArray("a {") << QByteArray("Invalid CSS after \"a {\": expected \"}\", was \"\"");
    }
    void sassErrors() {
        QFETCH(QByteArray, scss);
        QFETCH(QByteArray, error);
        CompilerOptions o;
        o.input = sass_copy_c_string(scss.constData());
        QVERIFY(VantorCompiler::compile(o) == nullptr);
        QCOMPARE(QByteArray(VantorCompiler::error()), error);
        // Asking again gives the same text.
        QCOMPARE(QByteArray(VantorCompiler::error()), error);
        QCOMPARE(int(VantorCompiler::error_kind()), int(VantorCompiler::SassError));
        VantorCompiler::free_memory();
        QVERIFY(VantorCompiler::error() == nullptr);
        QCOMPARE(int(VantorCompiler::error_kind()), int(VantorCompiler::NoError));
    }

    void unknownEngines_data() {
        QTest::addColumn<int>("code");
        QTest::newRow("-1") << -1;
        QTest::newRow("2") << 2;
        QTest::newRow("INT_MAX") << INT_MAX;
    }
    // Refused whatever the text, saying which engines there are; nothing of the
    // next conversion is affected.
    void unknownEngines() {
        QFETCH(int, code);
        QVERIFY(VantorCompiler::engine_version(code) == nullptr);
        QVERIFY(VantorCompiler::engine_error(code) != nullptr);
        CompilerOptions o;
        o.engine = code;
        o.input = sass_copy_c_string("a { b: c }");
        QVERIFY(VantorCompiler::compile(o) == nullptr);
        QCOMPARE(int(VantorCompiler::error_kind()), int(VantorCompiler::CannotRun));
        const QByteArray error = VantorCompiler::error();
        QVERIFY2(error.startsWith("Unknown compiler (engine code " + QByteArray::number(code) + "): "), error.constData());
        QCOMPARE(int(VantorCompiler::error_line()), 0);
        VantorCompiler::free_memory();
        QCOMPARE(convert("a { b: c }").css, QByteArray("a {\n    b: c;\n}\n"));
    }

    void libsassEngine() {
        QCOMPARE(QByteArray(VantorCompiler::engine_version(VantorCompiler::Libsass)), QByteArray("libsass 3.6.5"));
        QVERIFY(VantorCompiler::engine_error(VantorCompiler::Libsass) == nullptr);
        // The same text each time, valid while the library is loaded.
        QCOMPARE(VantorCompiler::engine_version(VantorCompiler::Libsass),
                 VantorCompiler::engine_version(VantorCompiler::Libsass));
        // The version named is the one the worker runs (Debian adds a date: 3.6.5+20220909).
        QVERIFY2(QByteArray(libsass_version()).startsWith("3.6.5"), libsass_version());
    }

    void errorPosition_data() {
        QTest::addColumn<QByteArray>("scss");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::newRow("no error") << QByteArray("a { b: c }") << 0 << 0;
        QTest::newRow("first line") << QByteArray("a{b:}") << 1 << 4;
        QTest::newRow("third line") << QByteArray("a {\n  b: c;\n  d: $nope;\n}") << 3 << 6;
        QTest::newRow("after spaces") << QByteArray("a {\n  b: \"eeee\"; c: $nope;\n}") << 2 << 17;
        // libsass counts characters: two-, three- and four-byte UTF-8 each count one.
        QTest::newRow("after e-acute") << QByteArray("a {\n  b: \"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\"; c: $nope;\n}") << 2 << 17;
        QTest::newRow("after euro sign") << QByteArray("a {\n  b: \"\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\"; c: $nope;\n}") << 2 << 17;
        QTest::newRow("after emoji") << QByteArray("a {\n  b: \"\xF0\x9F\x98\x80\xF0\x9F\x98\x80\"; c: $nope;\n}") << 2 << 15;
        // libsass skips a byte order mark; the column counts it, as the editor's text holds it.
        QTest::newRow("after a byte order mark") << QByteArray(
                                                        "\xEF\xBB\xBF"
                                                        "a{b:}")
                                                 << 1 << 5;
        QTest::newRow("below a byte order mark") << QByteArray(
                                                        "\xEF\xBB\xBF"
                                                        "a {\n  d: $nope;\n}")
                                                 << 2 << 6;
        // libsass names no place for an escape of no character; the escape's own.
        QTest::newRow("escape of a surrogate") << QByteArray("a { b: c; }\n@warn \"x\\d800\";") << 2 << 9;
        QTest::newRow("escape past the last code point") << QByteArray("a { b: unquote(\"\\110000\"); }") << 1 << 17;
    }
    void errorPosition() {
        QFETCH(QByteArray, scss);
        QFETCH(int, line);
        QFETCH(int, column);
        CompilerOptions o;
        o.input = sass_copy_c_string(scss.constData());
        VantorCompiler::compile(o);
        QCOMPARE(VantorCompiler::error() != nullptr, line != 0);
        QCOMPARE(int(VantorCompiler::error_line()), line);
        QCOMPARE(int(VantorCompiler::error_column()), column);
        // Asking again gives the same position; releasing the conversion clears it.
        QCOMPARE(int(VantorCompiler::error_line()), line);
        VantorCompiler::free_memory();
        QCOMPARE(int(VantorCompiler::error_line()), 0);
        QCOMPARE(int(VantorCompiler::error_column()), 0);
    }

    void errorPositionOfTheLiveConversion() {
        VANTOR_LSAN_DISABLE();
        CompilerOptions o;
        o.input = sass_copy_c_string("a {\n\n  b: $first;\n}");
        VantorCompiler::compile(o);
        VANTOR_LSAN_ENABLE();
        QCOMPARE(int(VantorCompiler::error_line()), 3);
        o.input = sass_copy_c_string("x{y:}");
        VantorCompiler::compile(o);
        QCOMPARE(int(VantorCompiler::error_line()), 1);
        QCOMPARE(int(VantorCompiler::error_column()), 4);
        VantorCompiler::free_memory();
        QCOMPARE(int(VantorCompiler::error_line()), 0);

        // A bad record is the library's own failure: no position.
        o.indent_width = -1;
        o.input = sass_copy_c_string("a{b:}");
        QCOMPARE(QByteArray(VantorCompiler::compile(o)), QByteArray(FailureText));
        QCOMPARE(int(VantorCompiler::error_line()), 0);
        QCOMPARE(int(VantorCompiler::error_column()), 0);
        VantorCompiler::free_memory();
    }

    void nullAndEmptyStayApart() {
        // A stylesheet without output gives an empty CSS text, not null.
        const Result r = convert("$x: 1; a {}");
        QVERIFY(!r.cssNull);
        QCOMPARE(r.css, QByteArray(""));
        QVERIFY(r.errorNull);
    }

    void emptyInput() {
        const Result r = convert("");
        QVERIFY(r.cssNull);
        QVERIFY(r.errorNull);
    }

    void twoCompilesWithoutRelease() {
        // The first conversion is never released by design; keep it out of the leak report.
        VANTOR_LSAN_DISABLE();
        CompilerOptions o;
        o.input = sass_copy_c_string("a { b: first }");
        const char* first = VantorCompiler::compile(o);
        VANTOR_LSAN_ENABLE();
        o.input = sass_copy_c_string("x { y: }");
        const char* second = VantorCompiler::compile(o);
        QVERIFY(second == nullptr);
        QCOMPARE(QByteArray(first), QByteArray("a {\n    b: first;\n}\n"));
        QVERIFY(QByteArray(VantorCompiler::error()).startsWith("Invalid CSS after \"x { y:"));
        VantorCompiler::free_memory();
        QCOMPARE(QByteArray(first), QByteArray("a {\n    b: first;\n}\n"));
    }

    void badRecords_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("width");
        QTest::newRow("width -1") << 2 << -1;
        QTest::newRow("width INT_MIN") << 2 << INT_MIN;
        QTest::newRow("width above bound") << 2 << int(VantorCompiler::MaxIndentWidth) + 1;
        QTest::newRow("width INT_MAX") << 2 << INT_MAX;
        QTest::newRow("style -1") << -1 << 4;
        QTest::newRow("style 4") << 4 << 4;
        QTest::newRow("style INT_MAX") << INT_MAX << 4;
    }
    void badRecords() {
        QFETCH(int, style);
        QFETCH(int, width);
        CompilerOptions o;
        o.output_style = style;
        o.indent_width = width;
        o.input = sass_copy_c_string("a { b: c }");
        QCOMPARE(QByteArray(VantorCompiler::compile(o)), QByteArray(FailureText));
        QVERIFY(VantorCompiler::error() == nullptr);
        QCOMPARE(int(VantorCompiler::error_kind()), int(VantorCompiler::CompilerFailed));
        VantorCompiler::free_memory();
        // The next ordinary conversion is unaffected.
        QCOMPARE(convert("a { b: c }").css, QByteArray("a {\n    b: c;\n}\n"));
    }

    // Under the leak checker this proves every conversion is released completely.
    void repeatedConversionsRelease() {
        for (int i = 0; i < 200; ++i) {
            CompilerOptions o;
            o.output_style = i % 4;
            o.indent_type = i % 2;
            o.indent_width = i % 11;
            o.source_map_embed = i % 3 == 0;
            const Result r = convert(i % 5 ? "$c: red; a { b { color: darken($c, 10%); } }" : "a { b: }", o);
            QCOMPARE(r.cssNull, i % 5 == 0);
        }
    }
};

QTEST_GUILESS_MAIN(TstCompiler)
#include "tst_compiler.moc"
