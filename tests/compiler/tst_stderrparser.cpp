// The reader of libsass's standard error, fed as libsass writes it (one chunk
// per output operation), and of its traces, over the formats libsass 3.6.5
// writes and over texts and file names that look like them, cut and huge inputs.
#include "libsass/LibsassTrace.h"
#include "libsass/StderrParser.h"

#include <QtTest>

using VantorCompiler::StderrMessage;
using VantorCompiler::StderrParser;

namespace {

// "line:column text" per message; "@line:column text" for a @warn or @debug
// whose place the text still has to settle.
QStringList describe(const std::vector<StderrMessage>& messages) {
    QStringList out;
    for (const StderrMessage& m : messages)
        out << QString("%1%2:%3 %4")
                   .arg(m.statement ? "@" : "")
                   .arg(m.line)
                   .arg(m.column)
                   .arg(QString::fromUtf8(m.text.data(), int(m.text.size())));
    return out;
}

void feed(StderrParser& parser, const QByteArrayList& chunks) {
    for (const QByteArray& c : chunks)
        parser.feed(std::string_view(c.constData(), std::size_t(c.size())));
    parser.finish();
}

QStringList parse(const QByteArrayList& chunks, std::uint32_t shift = 0, const QStringList& paths = {}) {
    StderrParser parser({}, SIZE_MAX, {}, shift);
    for (const QString& p : paths)
        parser.addTracePath(p.toStdString());
    feed(parser, chunks);
    return describe(parser.take());
}

// The chunks of "WARNING on line L, column C of PATH:" and its message.
QByteArrayList placedWarning(const QByteArray& line, const QByteArray& column, const QByteArray& path,
                             const QByteArray& message) {
    return {"WARNING on line ", line, ", column ", column, " of ", path, ":", "\n", message, "\n", "\n"};
}

QByteArrayList placedDeprecation(const QByteArray& line, const QByteArray& path, const QByteArray& message) {
    return {"DEPRECATION WARNING on line ", line, " of ", path, ":", "\n", message, "\n", "\n"};
}

// A @warn's chunks with its trace.
QByteArrayList warn(const QByteArray& text, const QByteArray& trace) {
    return {"WARNING: ", text, "\n", trace, "\n"};
}

QByteArrayList debug(const QByteArray& path, const QByteArray& line, const QByteArray& text) {
    return {path, ":", line, " DEBUG: ", text, "\n"};
}

const char* const OperationMessage =
    "The operation `#fff plus 1` is deprecated and will be an error in future versions.";
const char* const OperationAdvice =
    "Consider using Sass's color functions instead.\n"
    "https://sass-lang.com/documentation/Sass/Script/Functions.html#other_color_functions";
const char* const OperationJoined =
    "The operation `#fff plus 1` is deprecated and will be an error in future versions. "
    "Consider using Sass's color functions instead. "
    "https://sass-lang.com/documentation/Sass/Script/Functions.html#other_color_functions";

}  // namespace

class TstStderrParser : public QObject {
    Q_OBJECT

private slots:
    void formats_data() {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QStringList>("messages");

        QTest::newRow("nothing") << QByteArrayList() << QStringList();
        QTest::newRow("blank lines only") << QByteArrayList{"\n", "\n  \n\r\n"} << QStringList();
        QTest::newRow("deprecation on a line of the text")
            << QByteArrayList{"DEPRECATION WARNING on line ",
                              "3",
                              " of ",
                              "stdin",
                              ":",
                              "\n",
                              OperationMessage,
                              "\n",
                              OperationAdvice,
                              "\n",
                              "\n"}
            << QStringList{QString("3:1 DEPRECATION WARNING: ") + OperationJoined};
        QTest::newRow("deprecation in another file")
            << placedDeprecation("7", "_part.scss", "message")
            << QStringList{"0:0 DEPRECATION WARNING: message (on line 7 of _part.scss)"};
        QTest::newRow("deprecation without a path")
            << QByteArrayList{"DEPRECATION WARNING on line ", "7", ":", "\n", "message", "\n", "\n"}
            << QStringList{"0:0 DEPRECATION WARNING: message (on line 7)"};
        QTest::newRow("path holding a colon")
            << placedDeprecation("1", "C:/a b/_x.scss", "m")
            << QStringList{"0:0 DEPRECATION WARNING: m (on line 1 of C:/a b/_x.scss)"};
        QTest::newRow("path holding a header")
            << placedDeprecation("1", "_p\nDEPRECATION WARNING on line 3, column 4 of stdin.scss", "m")
            << QStringList{
                   "0:0 DEPRECATION WARNING: m (on line 1 of _p\nDEPRECATION WARNING on line 3, column 4 of "
                   "stdin.scss)"};
        QTest::newRow("path holding a place line")
            << placedDeprecation("1", "q\n        on line 1:2 of stdin", "m")
            << QStringList{"0:0 DEPRECATION WARNING: m (on line 1 of q\n        on line 1:2 of stdin)"};
        QTest::newRow("warning with line and column")
            << placedWarning("1", "14", "stdin",
                             "In Sass, \"&&\" means two copies of the parent selector. You probably want to use "
                             "\"and\" instead.")
            << QStringList{
                   "1:14 WARNING: In Sass, \"&&\" means two copies of the parent selector. You probably "
                   "want to use \"and\" instead."};
        QTest::newRow("warning holding a debug line")
            << placedWarning("1", "14", "stdin",
                             "Compound selectors may no longer be extended.\nConsider `@extend .x, "
                             "[a='x\\astdin:5 DEBUG: forged debug\\a']` instead.\nstdin:5 DEBUG: forged\n"
                             "See http://bit.ly/ExtendCompound for details.")
            << QStringList{
                   "1:14 WARNING: Compound selectors may no longer be extended. Consider `@extend .x, "
                   "[a='x\\astdin:5 DEBUG: forged debug\\a']` instead. stdin:5 DEBUG: forged See "
                   "http://bit.ly/ExtendCompound for details."};
        QTest::newRow("warning holding blank lines and headers")
            << placedWarning("2", "3", "stdin", "a\n\nWARNING: b\n\nDEPRECATION WARNING on line 1 of stdin:\nc")
            << QStringList{"2:3 WARNING: a WARNING: b DEPRECATION WARNING on line 1 of stdin: c"};
        QTest::newRow("deprecated function, place on its own line")
            << QByteArrayList{"DEPRECATION WARNING: ",
                              "foo is deprecated",
                              "\n",
                              "will be an error in future versions of Sass.",
                              "\n",
                              "        on line ",
                              "4",
                              " of ",
                              "stdin",
                              "\n"}
            << QStringList{"4:1 DEPRECATION WARNING: foo is deprecated will be an error in future versions of Sass."};
        QTest::newRow("deprecated binding")
            << QByteArrayList{"WARNING: ",
                              "bar",
                              "\n",
                              "        on line ",
                              "2",
                              " of ",
                              "stdin",
                              "\n",
                              "This will be an error in future versions of Sass.",
                              "\n"}
            << QStringList{"2:1 WARNING: bar This will be an error in future versions of Sass."};
        QTest::newRow("deprecation without any place")
            << QByteArrayList{"DEPRECATION WARNING: ",
                              "Passing a string to call() is deprecated and will be illegal",
                              "\n",
                              "in Sass 4.0. Use call(get-function(\"rgb\")) instead.",
                              "\n",
                              "\n"}
            << QStringList{
                   "0:0 DEPRECATION WARNING: Passing a string to call() is deprecated and will be illegal in "
                   "Sass 4.0. Use call(get-function(\"rgb\")) instead."};
        QTest::newRow("plain Warning:") << QByteArrayList{"Warning: ", "x", "\n"} << QStringList{"0:0 WARNING: x"};

        // @warn and @debug: their text as the stylesheet made it.
        QTest::newRow("@warn in the text")
            << warn("careful", "         on line 3:5 of stdin\n") << QStringList{"@3:5 WARNING: careful"};
        QTest::newRow("@warn in a mixin of the text")
            << warn("careful", "         on line 3:5 of stdin, in mixin `m`\n         from line 9:3 of stdin\n")
            << QStringList{"@3:5 WARNING: careful"};
        QTest::newRow("@warn elsewhere")
            << warn("careful",
                    "         on line 3:5 of _part.scss, in mixin `m`\n         from line 1:9 of _other.scss\n")
            << QStringList{"0:0 WARNING: careful (on line 3 of _part.scss)"};
        QTest::newRow("@warn text holding places and headers")
            << warn("a\n         on line 9:9 of stdin\n\nDEPRECATION WARNING on line 1 of stdin:\nstdin:3 DEBUG: c",
                    "         on line 2:1 of stdin\n")
            << QStringList{
                   "@2:1 WARNING: a\n         on line 9:9 of stdin\n\nDEPRECATION WARNING on line 1 of "
                   "stdin:\nstdin:3 DEBUG: c"};
        QTest::newRow("@warn text that is a header")
            << warn("WARNING: ", "         on line 1:1 of stdin\n") + warn("", "         on line 2:1 of stdin\n")
            << QStringList{"@1:1 WARNING: WARNING: ", "@2:1 WARNING: "};
        QTest::newRow("@debug in the text") << debug("stdin", "4", "2") << QStringList{"@4:0 DEBUG: 2"};
        QTest::newRow("@debug elsewhere")
            << debug("/tmp/p/_p.scss", "4", "(a: 1)") << QStringList{"0:0 DEBUG: (a: 1) (on line 4 of /tmp/p/_p.scss)"};
        QTest::newRow("@debug text holding a debug")
            << debug("stdin", "2", "x\nstdin:5 DEBUG: y") + debug("stdin", "3", "Warning: ")
            << QStringList{"@2:0 DEBUG: x\nstdin:5 DEBUG: y", "@3:0 DEBUG: Warning: "};
        QTest::newRow("messages back to back")
            << QByteArrayList{"DEPRECATION WARNING: ",
                              "a",
                              "\n",
                              "will be an error in future versions of Sass.",
                              "\n",
                              "        on line ",
                              "1",
                              " of ",
                              "stdin",
                              "\n"} +
                   placedWarning("2", "3", "stdin", "b") + debug("stdin", "5", "c") +
                   warn("d", "         on line 6:2 of stdin\n")
            << QStringList{"1:1 DEPRECATION WARNING: a will be an error in future versions of Sass.", "2:3 WARNING: b",
                           "@5:0 DEBUG: c", "@6:2 WARNING: d"};

        // Text outside libsass's messages.
        QTest::newRow("unknown text, kept in runs")
            << QByteArrayList{"libsass: something odd\n  second line\n\nthird\n"}
            << QStringList{"0:0 libsass: something odd second line", "0:0 third"};
        QTest::newRow("unknown text before a header")
            << QByteArrayList{"odd\n", "Warning: ", "w", "\n"} << QStringList{"0:0 odd", "0:0 WARNING: w"};
        QTest::newRow("CRLF line ends") << placedWarning("1", "2", "stdin", "msg\r\nsecond\r\n")
                                        << QStringList{"1:2 WARNING: msg second"};
        QTest::newRow("binary bytes") << QByteArrayList{QByteArray("\x01\xff\xfe", 3)}
                                      << QStringList{"0:0 " + QString::fromUtf8("\x01\xff\xfe", 3)};

        // Cut short: whatever is there comes back.
        QTest::newRow("cut after the header") << QByteArrayList{"WARNING on line "} << QStringList{"0:0 WARNING:"};
        QTest::newRow("cut in the message")
            << QByteArrayList{"DEPRECATION WARNING on line ", "3", " of ", "stdin", ":", "\n", "The oper"}
            << QStringList{"3:1 DEPRECATION WARNING: The oper"};
        QTest::newRow("cut before a @warn's trace")
            << QByteArrayList{"WARNING: ", "careful", "\n"} << QStringList{"0:0 WARNING: careful"};
        QTest::newRow("cut in a @debug") << QByteArrayList{"stdin", ":", "4"} << QStringList{"0:0 stdin:4"};

        // Out of place: the message ends, the rest is read anew.
        QTest::newRow("line not a number")
            << QByteArrayList{"WARNING on line ", "x", ", column "} << QStringList{"0:0 WARNING:", "0:0 x, column"};
        QTest::newRow("number too long") << placedDeprecation("99999999999", "stdin", "m")
                                         << QStringList{"0:0 DEPRECATION WARNING:", "0:0 99999999999 of stdin: m"};
        QTest::newRow("line 0 of the text")
            << placedDeprecation("0", "stdin", "m") << QStringList{"0:0 DEPRECATION WARNING: m"};
        QTest::newRow("debug without a line")
            << QByteArrayList{"stdin", ":", " DEBUG: ", "x", "\n"} << QStringList{"0:0 stdin: DEBUG: x"};
    }
    void formats() {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QStringList, messages);
        QCOMPARE(parse(chunks), messages);
    }

    void pathsBelowTheDirectoryAreRelative() {
        StderrParser parser("/w/d");
        feed(parser, placedDeprecation("1", "/w/d/_a.scss", "m") + placedDeprecation("2", "/w/dx/_b.scss", "m") +
                         debug("/w/d/sub/_c.scss", "3", "4"));
        QCOMPARE(describe(parser.take()), (QStringList{"0:0 DEPRECATION WARNING: m (on line 1 of _a.scss)",
                                                       "0:0 DEPRECATION WARNING: m (on line 2 of /w/dx/_b.scss)",
                                                       "0:0 DEBUG: 4 (on line 3 of sub/_c.scss)"}));
    }

    // A @warn's trace names its file; the longest of the files read wins, so a
    // file name holding a trace line cannot place it in the text.
    void tracePathsOfFilesRead() {
        const QByteArrayList chunks = warn("x", "         on line 1:1 of _w\n         on line 1:2 of stdin.scss\n");
        QCOMPARE(parse(chunks, 0, {"stdin", "_w\n         on line 1:2 of stdin.scss"}),
                 QStringList{"0:0 WARNING: x (on line 1 of _w\n         on line 1:2 of stdin.scss)"});
        QCOMPARE(parse(warn("y", "         on line 1:5 of stdin\n         from line 2:1 of stdin.scss\n"), 0,
                       {"stdin", "stdin\n         from line 2:1 of stdin.scss"}),
                 QStringList{"0:0 WARNING: y (on line 1 of stdin\n         from line 2:1 of stdin.scss)"});
    }

    // A @warn or @debug in another file sits at the call site in the text
    // when there is one, asked for as the statement begins.
    void callSites() {
        int asked = 0;
        StderrParser parser({}, SIZE_MAX, [&] {
            ++asked;
            return VantorCompiler::CallSite{9, 3};
        });
        feed(parser, placedWarning("1", "1", "stdin", "a") + warn("b", "         on line 3:5 of _p.scss\n") +
                         debug("_p.scss", "4", "c") + warn("d", "         on line 2:2 of stdin\n"));
        QCOMPARE(describe(parser.take()),
                 (QStringList{"1:1 WARNING: a", "9:3 WARNING: b", "9:3 DEBUG: c", "@2:2 WARNING: d"}));
        QCOMPARE(asked, 3);
    }

    // After a byte order mark, which libsass skips, the columns it names on
    // the first line move by one.
    void firstLineShift() {
        QCOMPARE(parse(placedWarning("1", "14", "stdin", "a") + placedWarning("2", "14", "stdin", "b") +
                           warn("c", "         on line 1:7 of stdin\n") + placedDeprecation("1", "stdin", "d"),
                       1),
                 (QStringList{"1:15 WARNING: a", "2:14 WARNING: b", "@1:8 WARNING: c", "1:1 DEPRECATION WARNING: d"}));
    }

    void firstKeptAllCounted() {
        StderrParser parser({}, 2);
        QByteArrayList chunks;
        for (int i = 1; i <= 5; ++i)
            chunks += placedWarning(QByteArray::number(i), "1", "stdin", "w");
        chunks += QByteArrayList{"odd\n\nodder\n"};
        feed(parser, chunks);
        QCOMPARE(parser.count(), std::size_t(7));
        QCOMPARE(describe(parser.take()), (QStringList{"1:1 WARNING: w", "2:1 WARNING: w"}));
    }

    void hugeInputs() {
        // A message of 4 MiB: one message, cut.
        StderrParser parser;
        feed(parser, placedDeprecation("1", "stdin", QByteArray(4 << 20, 'x')));
        std::vector<StderrMessage> m = parser.take();
        QCOMPARE(m.size(), std::size_t(1));
        QVERIFY(m[0].text.size() > 2048 && m[0].text.size() < 10000);
        QVERIFY(QByteArray::fromStdString(m[0].text).endsWith("x\xE2\x80\xA6"));

        // 20,000 messages, in order.
        StderrParser many;
        QByteArrayList chunks;
        for (int i = 1; i <= 20000; ++i)
            chunks += placedDeprecation(QByteArray::number(i), "stdin", "m");
        feed(many, chunks);
        m = many.take();
        QCOMPARE(m.size(), std::size_t(20000));
        QCOMPARE(m.back().line, 20000u);

        // A deep run of unknown lines is one message.
        StderrParser unknown;
        feed(unknown, QByteArrayList(100000, "?\n"));
        QCOMPARE(unknown.take().size(), std::size_t(1));
    }

    void tracePosition_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QByteArray>("errorText");
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        const QStringList none;
        QTest::newRow("in an imported file")
            << QByteArray(
                   "Error: Undefined variable: \"$u\".\n        on line 3:6 of _bad.scss\n"
                   "        from line 1:9 of stdin\n>>   d: $u;\n\n   -----^\n")
            << QByteArray("Undefined variable: \"$u\".") << none << 1 << 9;
        QTest::newRow("in a mixin of an imported file")
            << QByteArray("Error: x\n        on line 1:16 of _m.scss, in mixin `bm`\n        from line 3:12 of stdin\n")
            << QByteArray("x") << none << 3 << 12;
        QTest::newRow("innermost of several")
            << QByteArray(
                   "Error: x\n        on line 1:1 of _a.scss\n        from line 4:2 of stdin, in mixin `m`\n"
                   "        from line 9:5 of stdin\n")
            << QByteArray("x") << none << 4 << 2;
        QTest::newRow("in the text") << QByteArray("Error: x\n        on line 2:3 of stdin\n") << QByteArray("x")
                                     << none << 2 << 3;
        QTest::newRow("the line alone") << QByteArray("Error: x\n        on line 2 of stdin\n") << QByteArray("x")
                                        << none << 2 << 0;
        QTest::newRow("none in the text")
            << QByteArray("Error: x\n        on line 1:1 of _a.scss\n        from line 2:1 of _b.scss\n")
            << QByteArray("x") << none << 0 << 0;
        // The error's own text, indented by libsass, comes first and may look like a trace.
        QTest::newRow("@error text naming a place")
            << QByteArray(
                   "Error: boom\n               on line 7:3 of stdin\n        on line 1:8 of _ep.scss\n"
                   "        from line 2:9 of stdin\n>> @error \"boom\";\n   -------^\n")
            << QByteArray("boom\n        on line 7:3 of stdin") << none << 2 << 9;
        QTest::newRow("@error text naming only places")
            << QByteArray(
                   "Error: \n       from line 1:1 of stdin\n\n        on line 1:1 of _a.scss\n"
                   "        from line 5:2 of stdin\n")
            << QByteArray("\nfrom line 1:1 of stdin\n\n") << none << 5 << 2;
        QTest::newRow("file name holding a place")
            << QByteArray(
                   "Error: Incompatible units: 'em' and 'px'.\n        on line 2:6 of q\n"
                   "        on line 1:2 of stdin\n        from line 3:9 of stdin\n>>   b: 1px + 1em;\n")
            << QByteArray("Incompatible units: 'em' and 'px'.")
            << QStringList{"stdin", "q\n        on line 1:2 of stdin"} << 3 << 9;
        QTest::newRow("file name holding a frame")
            << QByteArray(
                   "Error: x\n        on line 1:1 of f\n        from line 1:2 of stdin\n"
                   "        from line 4:1 of stdin\n")
            << QByteArray("x") << QStringList{"stdin", "f\n        from line 1:2 of stdin"} << 4 << 1;
        QTest::newRow("text not the error's")
            << QByteArray("Error: x\n        on line 2:3 of stdin\n") << QByteArray("y") << none << 0 << 0;
        QTest::newRow("no trace") << QByteArray("Internal Error: Incompatible units: 'vw' and 'px'.\n")
                                  << QByteArray("Incompatible units: 'vw' and 'px'.") << none << 0 << 0;
        QTest::newRow("cut") << QByteArray("Error: x\n        from line 2") << QByteArray("x") << none << 0 << 0;
        QTest::newRow("nothing") << QByteArray() << QByteArray() << none << 0 << 0;
    }
    void tracePosition() {
        QFETCH(QByteArray, message);
        QFETCH(QByteArray, errorText);
        QFETCH(QStringList, paths);
        QFETCH(int, line);
        QFETCH(int, column);
        std::vector<std::string> tracePaths;
        for (const QString& p : paths)
            tracePaths.push_back(p.toStdString());
        std::uint32_t l = 0;
        std::uint32_t c = 0;
        const bool found =
            VantorCompiler::innermostTextPosition(std::string_view(message.constData(), std::size_t(message.size())),
                                                  std::string_view(errorText.constData(),
                                                                   std::size_t(errorText.size())),
                                                  tracePaths, l, c);
        QCOMPARE(found, line != 0);
        QCOMPARE(int(l), line);
        QCOMPARE(int(c), column);
    }

    void tracePaths_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("printed");
        QTest::newRow("below") << "/w/d/_a.scss"
                               << "/w/d"
                               << "_a.scss";
        QTest::newRow("below, directory with a slash") << "/w/d/sub/_c.scss"
                                                       << "/w/d/"
                                                       << "sub/_c.scss";
        QTest::newRow("beside") << "/w/x/_a.scss"
                                << "/w/d"
                                << "../x/_a.scss";
        QTest::newRow("a name that begins alike") << "/w/dx/_b.scss"
                                                  << "/w/d"
                                                  << "../dx/_b.scss";
        QTest::newRow("far above") << "/a.scss"
                                   << "/w/d"
                                   << "../../a.scss";
        QTest::newRow("the text") << "stdin"
                                  << "/w/d"
                                  << "stdin";
    }
    void tracePaths() {
        QFETCH(QString, path);
        QFETCH(QString, directory);
        QFETCH(QString, printed);
        QCOMPARE(QString::fromStdString(VantorCompiler::tracePath(path.toStdString(), directory.toStdString())),
                 printed);
    }
};

QTEST_GUILESS_MAIN(TstStderrParser)
#include "tst_stderrparser.moc"
