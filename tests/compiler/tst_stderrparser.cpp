// The reader of libsass's standard error and of its error traces, over the
// formats libsass 3.6.5 prints and over malformed, truncated and huge inputs.
#include "libsass/StderrParser.h"

#include <QtTest>

using VantorCompiler::StderrMessage;

namespace {

// "line:column text" per message, the form the tables below use.
QStringList describe(const std::vector<StderrMessage>& messages) {
    QStringList out;
    for (const StderrMessage& m : messages)
        out << QString("%1:%2 %3").arg(m.line).arg(m.column).arg(QString::fromStdString(m.text));
    return out;
}

std::vector<StderrMessage> parse(const QByteArray& text) {
    return VantorCompiler::parseStderr(std::string_view(text.constData(), std::size_t(text.size())));
}

const char* const OperationText =
    "The operation `#fff plus 1` is deprecated and will be an error in future versions.\n"
    "Consider using Sass's color functions instead.\n"
    "https://sass-lang.com/documentation/Sass/Script/Functions.html#other_color_functions\n";
const char* const OperationJoined =
    "The operation `#fff plus 1` is deprecated and will be an error in future versions. "
    "Consider using Sass's color functions instead. "
    "https://sass-lang.com/documentation/Sass/Script/Functions.html#other_color_functions";

}  // namespace

class TstStderrParser : public QObject {
    Q_OBJECT

private slots:
    void formats_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("messages");

        QTest::newRow("nothing") << QByteArray() << QStringList();
        QTest::newRow("blank lines only") << QByteArray("\n\n  \n\r\n") << QStringList();
        QTest::newRow("deprecation on a line of the text")
            << QByteArray("DEPRECATION WARNING on line 3 of stdin:\n") + OperationText + "\n"
            << QStringList{QString("3:1 DEPRECATION WARNING: ") + OperationJoined};
        QTest::newRow("deprecation with a column")
            << QByteArray("DEPRECATION WARNING on line 2, column 5 of stdin:\nmessage\nsecond line\n\n")
            << QStringList{"2:5 DEPRECATION WARNING: message second line"};
        QTest::newRow("deprecation in another file")
            << QByteArray("DEPRECATION WARNING on line 7 of _part.scss:\nmessage\n\n")
            << QStringList{"0:0 DEPRECATION WARNING: message (on line 7 of _part.scss)"};
        QTest::newRow("deprecation without a path")
            << QByteArray("DEPRECATION WARNING on line 7:\nmessage\n\n")
            << QStringList{"0:0 DEPRECATION WARNING: message (on line 7)"};
        QTest::newRow("path holding a colon")
            << QByteArray("DEPRECATION WARNING on line 1 of C:/a b/_x.scss:\nm\n\n")
            << QStringList{"0:0 DEPRECATION WARNING: m (on line 1 of C:/a b/_x.scss)"};
        QTest::newRow("warning with line and column")
            << QByteArray("WARNING on line 1, column 14 of stdin:\nIn Sass, \"&&\" means two copies of the parent "
                          "selector. You probably want to use \"and\" instead.\n\n")
            << QStringList{"1:14 WARNING: In Sass, \"&&\" means two copies of the parent selector. You probably "
                           "want to use \"and\" instead."};
        QTest::newRow("deprecated function, place on its own line")
            << QByteArray("DEPRECATION WARNING: foo is deprecated\nwill be an error in future versions of Sass.\n"
                          "        on line 4 of stdin\n")
            << QStringList{"4:1 DEPRECATION WARNING: foo is deprecated will be an error in future versions of Sass."};
        QTest::newRow("deprecated binding")
            << QByteArray("WARNING: bar\n        on line 2 of stdin\nThis will be an error in future versions of "
                          "Sass.\n")
            << QStringList{"2:1 WARNING: bar This will be an error in future versions of Sass."};
        QTest::newRow("warning with a trace into the text")
            << QByteArray("WARNING: careful\n         on line 3:5 of _part.scss, in mixin `m`\n"
                          "         from line 9:3 of stdin\n\n")
            << QStringList{"9:3 WARNING: careful"};
        QTest::newRow("warning with a trace outside the text")
            << QByteArray("WARNING: careful\n         on line 3:5 of _part.scss, in mixin `m`\n"
                          "         from line 1:9 of _other.scss\n\n")
            << QStringList{"0:0 WARNING: careful (on line 3 of _part.scss)"};
        QTest::newRow("plain Warning:") << QByteArray("Warning: x\n") << QStringList{"0:0 WARNING: x"};
        QTest::newRow("debug in the text") << QByteArray("stdin:4 DEBUG: 2\n") << QStringList{"4:1 DEBUG: 2"};
        QTest::newRow("debug elsewhere")
            << QByteArray("/tmp/p/_p.scss:4 DEBUG: (a: 1)\n") << QStringList{"0:0 DEBUG: (a: 1) (on line 4 of /tmp/p/_p.scss)"};
        QTest::newRow("deprecation without any place")
            << QByteArray("DEPRECATION WARNING: Passing a string to call() is deprecated and will be illegal\n"
                          "in Sass 4.0. Use call(get-function(\"rgb\")) instead.\n\n")
            << QStringList{"0:0 DEPRECATION WARNING: Passing a string to call() is deprecated and will be illegal in "
                           "Sass 4.0. Use call(get-function(\"rgb\")) instead."};
        QTest::newRow("messages without blank lines between")
            << QByteArray("DEPRECATION WARNING: a\n        on line 1 of stdin\nWARNING on line 2, column 3 of "
                          "stdin:\nb\nstdin:5 DEBUG: c\n")
            << QStringList{"1:1 DEPRECATION WARNING: a", "2:3 WARNING: b", "5:1 DEBUG: c"};
        QTest::newRow("unknown text, kept in runs")
            << QByteArray("libsass: something odd\n  second line\n\nthird\n")
            << QStringList{"0:0 libsass: something odd second line", "0:0 third"};
        QTest::newRow("unknown text before a header")
            << QByteArray("odd\nWARNING: w\n") << QStringList{"0:0 odd", "0:0 WARNING: w"};
        QTest::newRow("CRLF line ends")
            << QByteArray("WARNING on line 1, column 2 of stdin:\r\nmsg\r\n\r\n") << QStringList{"1:2 WARNING: msg"};
        QTest::newRow("header only") << QByteArray("WARNING on line 1, column 1 of stdin:\n\n")
                                     << QStringList{"1:1 WARNING:"};

        // Truncated: whatever is there comes back.
        QTest::newRow("cut in the header") << QByteArray("DEPRECATION WARNING on line ")
                                           << QStringList{"0:0 DEPRECATION WARNING on line"};
        QTest::newRow("cut in the number") << QByteArray("DEPRECATION WARNING on line 12")
                                           << QStringList{"0:0 DEPRECATION WARNING on line 12"};
        QTest::newRow("cut before the colon") << QByteArray("WARNING on line 1, column 2 of stdin")
                                              << QStringList{"0:0 WARNING on line 1, column 2 of stdin"};
        QTest::newRow("cut in the message") << QByteArray("DEPRECATION WARNING on line 3 of stdin:\nThe oper")
                                            << QStringList{"3:1 DEPRECATION WARNING: The oper"};
        QTest::newRow("cut in a place line")
            << QByteArray("WARNING: careful\n         on line 3:")
            << QStringList{"0:0 WARNING: careful on line 3:"};

        // Malformed.
        QTest::newRow("number too long")
            << QByteArray("DEPRECATION WARNING on line 99999999999 of stdin:\nm\n\n")
            << QStringList{"0:0 DEPRECATION WARNING on line 99999999999 of stdin: m"};
        QTest::newRow("column not a number")
            << QByteArray("WARNING on line 1, column x of stdin:\nm\n")
            << QStringList{"0:0 WARNING on line 1, column x of stdin: m"};
        QTest::newRow("line 0 of the text") << QByteArray("DEPRECATION WARNING on line 0 of stdin:\nm\n")
                                            << QStringList{"0:0 DEPRECATION WARNING: m"};
        QTest::newRow("debug without a line") << QByteArray("stdin: DEBUG: x\n") << QStringList{"0:0 stdin: DEBUG: x"};
        QTest::newRow("binary bytes") << QByteArray("\x01\xff\xfe", 3) << QStringList{"0:0 " + QString::fromUtf8("\x01\xff\xfe", 3)};
    }
    void formats() {
        QFETCH(QByteArray, input);
        QFETCH(QStringList, messages);
        QCOMPARE(describe(parse(input)), messages);
    }

    void pathsBelowTheDirectoryAreRelative() {
        const QByteArray input = "DEPRECATION WARNING on line 1 of /w/d/_a.scss:\nm\n\n"
                                 "DEPRECATION WARNING on line 2 of /w/dx/_b.scss:\nm\n\n"
                                 "/w/d/sub/_c.scss:3 DEBUG: 4\n";
        QCOMPARE(describe(VantorCompiler::parseStderr(std::string_view(input.constData(), std::size_t(input.size())), "/w/d")),
                 (QStringList{"0:0 DEPRECATION WARNING: m (on line 1 of _a.scss)",
                              "0:0 DEPRECATION WARNING: m (on line 2 of /w/dx/_b.scss)",
                              "0:0 DEBUG: 4 (on line 3 of sub/_c.scss)"}));
    }

    void offsetsMarkWhereEachBegan() {
        const QByteArray input = "\nWARNING: a\n\nstdin:2 DEBUG: b\nodd\n";
        const std::vector<StderrMessage> m = parse(input);
        QCOMPARE(m.size(), std::size_t(3));
        QCOMPARE(m[0].offset, std::size_t(1));
        QCOMPARE(m[1].offset, std::size_t(13));
        QCOMPARE(m[2].offset, std::size_t(30));
    }

    void hugeInputs() {
        // One line of 4 MiB: one message, nothing lost.
        const QByteArray line(4 << 20, 'x');
        std::vector<StderrMessage> m = parse("DEPRECATION WARNING on line 1 of stdin:\n" + line + "\n\n");
        QCOMPARE(m.size(), std::size_t(1));
        QCOMPARE(m[0].text.size(), std::size_t(line.size()) + 21);

        // 20,000 messages, in order.
        QByteArray many;
        for (int i = 1; i <= 20000; ++i)
            many += "DEPRECATION WARNING on line " + QByteArray::number(i) + " of stdin:\nm\n\n";
        m = parse(many);
        QCOMPARE(m.size(), std::size_t(20000));
        QCOMPARE(m.back().line, 20000u);
        for (std::size_t i = 1; i < m.size(); ++i)
            QVERIFY(m[i - 1].offset < m[i].offset);

        // A deep run of unknown lines is one message.
        m = parse(QByteArray("?\n").repeated(100000));
        QCOMPARE(m.size(), std::size_t(1));
    }

    void tracePosition_data() {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::newRow("in an imported file")
            << QByteArray("Error: Undefined variable: \"$u\".\n        on line 3:6 of _bad.scss\n"
                          "        from line 1:9 of stdin\n>>   d: $u;\n\n   -----^\n")
            << 1 << 9;
        QTest::newRow("in a mixin of an imported file")
            << QByteArray("Error: x\n        on line 1:16 of _m.scss, in mixin `bm`\n        from line 3:12 of stdin\n")
            << 3 << 12;
        QTest::newRow("innermost of several")
            << QByteArray("Error: x\n        on line 1:1 of _a.scss\n        from line 4:2 of stdin, in mixin `m`\n"
                          "        from line 9:5 of stdin\n")
            << 4 << 2;
        QTest::newRow("in the text") << QByteArray("Error: x\n        on line 2:3 of stdin\n") << 2 << 3;
        QTest::newRow("none in the text")
            << QByteArray("Error: x\n        on line 1:1 of _a.scss\n        from line 2:1 of _b.scss\n") << 0 << 0;
        QTest::newRow("no trace") << QByteArray("Internal Error: Incompatible units: 'vw' and 'px'.\n") << 0 << 0;
        QTest::newRow("cut") << QByteArray("Error: x\n        from line 2") << 0 << 0;
        QTest::newRow("nothing") << QByteArray() << 0 << 0;
    }
    void tracePosition() {
        QFETCH(QByteArray, message);
        QFETCH(int, line);
        QFETCH(int, column);
        std::uint32_t l = 0;
        std::uint32_t c = 0;
        const bool found =
            VantorCompiler::innermostTextPosition(std::string_view(message.constData(), std::size_t(message.size())), l, c);
        QCOMPARE(found, line != 0);
        QCOMPARE(int(l), line);
        QCOMPARE(int(c), column);
    }
};

QTEST_GUILESS_MAIN(TstStderrParser)
#include "tst_stderrparser.moc"
