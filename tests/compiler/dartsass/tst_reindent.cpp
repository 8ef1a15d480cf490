// Re-indenting Dart Sass's expanded CSS and shifting its source map. The inputs are what Dart
// Sass 1.108.2 writes: the inline samples below, and samples/*.css with their .css.map, made by
// `sass --source-map X.scss X.css` from the samples/*.scss beside them.
#include <Reindent.h>
#include <Vlq.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtTest>

using namespace VantorCompiler::dartsass;

namespace {

std::string_view view(const QByteArray& bytes) { return std::string_view(bytes.constData(), std::size_t(bytes.size())); }

QByteArray bytes(const std::string& s) { return QByteArray(s.data(), qsizetype(s.size())); }

QByteArray sample(const QString& name) {
    QFile file(QStringLiteral(SAMPLES_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read sample %s", qPrintable(name));
    return file.readAll();
}

QByteArray sampleMappings(const QString& name) {
    return QJsonDocument::fromJson(sample(name + ".css.map")).object().value("mappings").toString().toLatin1();
}

// One decoded segment: its line, generated column and the other fields as they were.
struct Segment {
    int line;
    qint64 column;
    QByteArray rest;
};

// Decodes the generated columns, failing the test on any malformed segment.
QList<Segment> decode(const QByteArray& mappings) {
    QList<Segment> out;
    const std::string_view text = view(mappings);
    int line = 0;
    qint64 column = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == ';') {
            ++line;
            column = 0;
            ++pos;
            continue;
        }
        if (text[pos] == ',') {
            ++pos;
            continue;
        }
        std::int64_t delta = 0;
        if (!readVlq(text, pos, delta))
            return {};
        column += delta;
        const std::size_t rest = pos;
        while (pos < text.size() && text[pos] != ',' && text[pos] != ';')
            ++pos;
        out.append({line, column, QByteArray(text.data() + rest, qsizetype(pos - rest))});
    }
    return out;
}

// Every line of out is the line of in with its first oldLength bytes, spaces and tabs, swapped
// for newLength bytes of the indentation; nothing else differs.
void verifyLineShifts(const QByteArray& in, const Reindented& r, Indentation indentation) {
    const QList<QByteArray> inLines = in.split('\n');
    const QList<QByteArray> outLines = bytes(r.css).split('\n');
    QCOMPARE(outLines.size(), inLines.size());
    QCOMPARE(qsizetype(r.lines.size()), inLines.size());
    const char unit = indentation.tabs ? '\t' : ' ';
    for (qsizetype i = 0; i < inLines.size(); ++i) {
        const LineShift shift = r.lines[std::size_t(i)];
        const QByteArray oldIndent = inLines[i].left(qsizetype(shift.oldLength));
        QVERIFY2(oldIndent.count(' ') + oldIndent.count('\t') == qsizetype(shift.oldLength), qPrintable(QString::number(i)));
        QCOMPARE(outLines[i], QByteArray(qsizetype(shift.newLength), unit) + inLines[i].mid(qsizetype(shift.oldLength)));
        QVERIFY(shift.newLength % std::size_t(qMax(indentation.width, 1)) == 0);
    }
}

const Indentation Tab{true, 1};
const Indentation FourSpaces{false, 4};
const Indentation NoIndent{false, 0};
const Indentation TwoSpaces{false, 2};

// CSS as Dart Sass writes it, with every construct whose lines the re-indent treats apart:
// nesting, comments over lines, selector lists and preludes over lines, custom properties,
// values over lines, strings and urls.
QByteArray realisticCss() {
    const QByteArray constructs =
        "/* A comment\n   over lines */\n"
        ".a,\n.b > .c {\n  --x: {\n    a: b;\n  };\n  color: red;\n}\n"
        "@media (min-width: 10px) and\n  (max-width: 20px) {\n  .d {\n"
        "    background: url(a{b}.png),\n      url(\"c;d\");\n"
        "    content: \"x\\\n  y\";\n  }\n}\n";
    return sample("nesting.css") + "\n" + constructs + sample("values.css") + "\n" + constructs;
}

// The incremental re-indent of after, following one of before, equals the whole re-indent.
void verifyIncremental(ReindentCache& cache, const QByteArray& after, Indentation indentation,
                       std::size_t maxSize = DefaultMaxReindentedSize) {
    const Reindented whole = VantorCompiler::dartsass::reindent(view(after), indentation, maxSize);
    const Reindented& r = VantorCompiler::dartsass::reindent(view(after), indentation, cache, maxSize);
    QCOMPARE(QString::fromStdString(r.error), QString::fromStdString(whole.error));
    QCOMPARE(bytes(r.css), bytes(whole.css));
    QCOMPARE(r.lines.size(), whole.lines.size());
    for (std::size_t i = 0; i < whole.lines.size(); ++i) {
        QVERIFY2(r.lines[i].oldLength == whole.lines[i].oldLength && r.lines[i].newLength == whole.lines[i].newLength,
                 qPrintable(QString("line %1").arg(i)));
    }
}

}  // namespace

Q_DECLARE_METATYPE(Indentation)

class TstReindent : public QObject {
    Q_OBJECT

private slots:
    void reindent_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<Indentation>("indentation");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray nested =
            "@media screen {\n  .c {\n    x: y;\n  }\n  @supports (display: grid) {\n    .d {\n      display: grid;\n"
            "    }\n    @media screen and (min-width: 10px) {\n      .d {\n        e: f;\n      }\n    }\n  }\n}\n\n"
            ".str {\n  content: \"a\\a b\";\n}\n";
        QTest::newRow("nested at-rules, tabs")
            << nested << Tab
            << QByteArray("@media screen {\n\t.c {\n\t\tx: y;\n\t}\n\t@supports (display: grid) {\n\t\t.d {\n\t\t\tdisplay: grid;\n"
                          "\t\t}\n\t\t@media screen and (min-width: 10px) {\n\t\t\t.d {\n\t\t\t\te: f;\n\t\t\t}\n\t\t}\n\t}\n}\n\n"
                          ".str {\n\tcontent: \"a\\a b\";\n}\n");
        QTest::newRow("nested at-rules, three tabs")
            << nested.left(nested.indexOf("    .d")) << Indentation{true, 3}
            << QByteArray("@media screen {\n\t\t\t.c {\n\t\t\t\t\t\tx: y;\n\t\t\t}\n\t\t\t@supports (display: grid) {\n");

        // A comment's later lines keep their place under its first; one after a declaration
        // whose later lines Dart Sass leaves unindented stays so.
        QTest::newRow("comments, 4 spaces")
            << QByteArray("/* Layout\n   for the pages */\n.card {\n  color: red;\n  /* a loud comment */\n  /* a loud\n"
                          "   * comment\n\n   */\n}\n@media s {\n  .a {\n    c: d; /* after\ntwo */\n  }\n  /* media\n"
                          "     comment */\n}\n")
            << FourSpaces
            << QByteArray("/* Layout\n   for the pages */\n.card {\n    color: red;\n    /* a loud comment */\n    /* a loud\n"
                          "     * comment\n\n     */\n}\n@media s {\n    .a {\n        c: d; /* after\ntwo */\n    }\n"
                          "    /* media\n       comment */\n}\n");
        QTest::newRow("comment deeper than its rule, tabs")
            << QByteArray("@media screen and (min-width: 1px) {\n  .a {\n    /* deep\n             comment\n    back */\n"
                          "  }\n}\n")
            << Tab
            << QByteArray("@media screen and (min-width: 1px) {\n\t.a {\n\t\t/* deep\n\t\t         comment\n\t\tback */\n"
                          "\t}\n}\n");

        // Values spanning lines, in strings too, are kept to the byte; the declarations start.
        const QByteArray custom =
            "@media print {\n  :root {\n    --theme: {\n      color: red;\n      background: blue\n    };\n"
            "    --stack: 1px\n             2px;\n    --quoted: \"a\\\n    b\";\n    --empty: ;\n  }\n}\n";
        QTest::newRow("custom properties, width 0")
            << custom << NoIndent
            << QByteArray("@media print {\n:root {\n--theme: {\n      color: red;\n      background: blue\n    };\n"
                          "--stack: 1px\n             2px;\n--quoted: \"a\\\n    b\";\n--empty: ;\n}\n}\n");
        QTest::newRow("custom properties, tabs")
            << custom << Tab
            << QByteArray("@media print {\n\t:root {\n\t\t--theme: {\n      color: red;\n      background: blue\n    };\n"
                          "\t\t--stack: 1px\n             2px;\n\t\t--quoted: \"a\\\n    b\";\n\t\t--empty: ;\n\t}\n}\n");

        // Selector lists and at-rule preludes on several lines; braces and "/*" in urls and
        // strings open nothing.
        QTest::newRow("preludes on several lines, tabs")
            << QByteArray("@media print {\n  .list,\n  .grid .item, .other {\n    background: url(img/*.png);\n"
                          "    --raw: url(x{y);\n    content: \"}{;/*\";\n  }\n  @supports (--a: b) {\n    .s:is(.a,\n"
                          "    .b) {\n      t: u;\n    }\n  }\n  @foo bar\n     baz {\n    x: y;\n  }\n}\n@foo bar\n"
                          "   baz {\n  x: y;\n}\n")
            << Tab
            << QByteArray("@media print {\n\t.list,\n\t.grid .item, .other {\n\t\tbackground: url(img/*.png);\n"
                          "\t\t--raw: url(x{y);\n\t\tcontent: \"}{;/*\";\n\t}\n\t@supports (--a: b) {\n\t\t.s:is(.a,\n"
                          "\t\t.b) {\n\t\t\tt: u;\n\t\t}\n\t}\n\t@foo bar\n\t   baz {\n\t\tx: y;\n\t}\n}\n@foo bar\n"
                          "   baz {\n\tx: y;\n}\n");

        QTest::newRow("charset, keyframes, margin rules, 4 spaces")
            << QByteArray("@charset \"UTF-8\";\n.card:hover {\n  content: \"{;}\";\n}\n@media screen {\n  @keyframes spin {\n"
                          "    from {\n      transform: rotate(0deg);\n    }\n  }\n}\n@page :first {\n  margin: 1in;\n"
                          "  @top-left {\n    content: \"x\";\n  }\n}\n")
            << FourSpaces
            << QByteArray("@charset \"UTF-8\";\n.card:hover {\n    content: \"{;}\";\n}\n@media screen {\n    @keyframes spin {\n"
                          "        from {\n            transform: rotate(0deg);\n        }\n    }\n}\n@page :first {\n"
                          "    margin: 1in;\n    @top-left {\n        content: \"x\";\n    }\n}\n");

        // Not Dart Sass's, but CSS all the same: the depth decides, not the old indentation.
        QTest::newRow("closing brace after a declaration without semicolon, tabs")
            << QByteArray("a {\n      b: c\n  }\n    d {\ne: f;\n}") << Tab
            << QByteArray("a {\n\tb: c\n}\nd {\n\te: f;\n}");
        QTest::newRow("block brace on a line of its own, tabs")
            << QByteArray("@media s {\n  a,\n  b\n  {\n    c: d;\n  }\n}\n") << Tab
            << QByteArray("@media s {\n\ta,\n\tb\n\t{\n\t\tc: d;\n\t}\n}\n");
        QTest::newRow("unclosed comment and string, 4 spaces")
            << QByteArray("a {\n  b: \"c\n  d: e;\n  /* f\n  g") << FourSpaces
            << QByteArray("a {\n    b: \"c\n  d: e;\n    /* f\n    g");
    }

    void reindent() {
        QFETCH(QByteArray, input);
        QFETCH(Indentation, indentation);
        QFETCH(QByteArray, expected);
        const Reindented r = VantorCompiler::dartsass::reindent(view(input), indentation);
        QCOMPARE(QString::fromStdString(r.error), QString());
        QCOMPARE(bytes(r.css), expected);
        verifyLineShifts(input, r, indentation);
        // Applying it again changes nothing.
        QCOMPARE(bytes(VantorCompiler::dartsass::reindent(r.css, indentation).css), expected);
    }

    void twoSpacesUnchanged_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("nesting") << "nesting";
        QTest::newRow("values") << "values";
    }

    void twoSpacesUnchanged() {
        QFETCH(QString, name);
        const QByteArray css = sample(name + ".css");
        const Reindented r = VantorCompiler::dartsass::reindent(view(css), TwoSpaces);
        QCOMPARE(bytes(r.css), css);
        const QByteArray mappings = sampleMappings(name);
        QVERIFY(!mappings.isEmpty());
        const ShiftedMappings shifted = shiftMappings(view(mappings), r.lines);
        QCOMPARE(QString::fromStdString(shifted.error), QString());
        QCOMPARE(bytes(shifted.mappings), mappings);
    }

    // Each generated column of Dart Sass's map lands on the same text after re-indenting, or at
    // the line's start where it lay in the old indentation.
    void mappings_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Indentation>("indentation");
        for (const char* name : {"nesting", "values"}) {
            QTest::addRow("%s, tab", name) << name << Tab;
            QTest::addRow("%s, 4 spaces", name) << name << FourSpaces;
            QTest::addRow("%s, width 0", name) << name << NoIndent;
            QTest::addRow("%s, 3 tabs", name) << name << Indentation{true, 3};
        }
    }

    void mappings() {
        QFETCH(QString, name);
        QFETCH(Indentation, indentation);
        const QByteArray css = sample(name + ".css");
        const Reindented r = VantorCompiler::dartsass::reindent(view(css), indentation);
        QVERIFY(r.error.empty());
        const QByteArray mappings = sampleMappings(name);
        const ShiftedMappings shifted = shiftMappings(view(mappings), r.lines);
        QCOMPARE(QString::fromStdString(shifted.error), QString());

        const QList<Segment> before = decode(mappings);
        const QList<Segment> after = decode(bytes(shifted.mappings));
        QVERIFY(before.size() > 20);
        QCOMPARE(after.size(), before.size());
        const QList<QByteArray> oldLines = css.split('\n');
        const QList<QByteArray> newLines = bytes(r.css).split('\n');
        int moved = 0;
        for (qsizetype i = 0; i < before.size(); ++i) {
            const Segment& b = before[i];
            const Segment& a = after[i];
            QCOMPARE(a.line, b.line);
            QCOMPARE(a.rest, b.rest);
            const LineShift shift = r.lines[std::size_t(b.line)];
            const QByteArray place = QString("line %1 column %2").arg(b.line).arg(b.column).toUtf8();
            if (shift.oldLength == shift.newLength)
                QVERIFY2(a.column == b.column, place);
            else if (b.column < qint64(shift.oldLength))
                QVERIFY2(a.column == 0, place);
            else
                QVERIFY2(newLines[b.line].mid(a.column) == oldLines[b.line].mid(b.column) && a.column != b.column, place);
            moved += a.column != b.column;
        }
        QVERIFY(moved > 10);
    }

    // Edits of one CSS after another: the incremental result equals the whole re-indent, and
    // so does going back to the first CSS.
    void incremental_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<Indentation>("indentation");
        const QByteArray css = realisticCss();
        const auto edited = [&](const char* find, const char* replacement, int nth = 0) {
            qsizetype at = -1;
            for (int i = 0; i <= nth; ++i)
                at = css.indexOf(find, at + 1);
            if (at < 0)
                qFatal("no %s in the CSS", find);
            return QByteArray(css).replace(at, qsizetype(qstrlen(find)), replacement);
        };
        QTest::newRow("same text") << css << css << FourSpaces;
        QTest::newRow("value changed") << css << edited("red", "blue") << FourSpaces;
        QTest::newRow("declaration added")
            << css << edited("color: red;\n", "color: red;\n  margin: 0;\n") << FourSpaces;
        QTest::newRow("line removed") << css << edited("  color: red;\n", "") << Tab;
        QTest::newRow("block opened") << css << edited("color: red;", "color: red; .e {") << FourSpaces;
        QTest::newRow("block closed") << css << edited("color: red;", "}") << FourSpaces;
        QTest::newRow("block added, same depth after")
            << css << edited("color: red;\n", "color: red;\n  .e {\n    f: g;\n  }\n") << FourSpaces;
        QTest::newRow("comment left open") << css << edited("color: red;", "color: /* red;") << FourSpaces;
        QTest::newRow("comment closed early") << css << edited("over lines */", "*/ over lines */") << FourSpaces;
        QTest::newRow("string left open") << css << edited("color: red;", "color: \"red;") << FourSpaces;
        QTest::newRow("selector over lines") << css << edited(".a,\n.b", ".a,\n  .x,\n.b") << Indentation{true, 3};
        QTest::newRow("custom property changed") << css << edited("    a: b;", "      a: {b};") << FourSpaces;
        QTest::newRow("two lines changed, the second at its start")
            << css << edited("color: red;\n}", "color: rex;\n]") << FourSpaces;
        QTest::newRow("url changed") << css << edited("url(a{b}", "url(a{{b}") << FourSpaces;
        QTest::newRow("first byte") << css << "\n" + css << FourSpaces;
        QTest::newRow("last byte") << css << css.chopped(1) << FourSpaces;
        QTest::newRow("appended") << css << css + "x {\n  y: z;\n}\n" << FourSpaces;
        QTest::newRow("second of two equal parts") << css << edited("color: red;", "color: green;", 1) << FourSpaces;
        QTest::newRow("indent changed by an edit")
            << css << edited("\n  color: red;", "\n    color: red;") << FourSpaces;
        QTest::newRow("from empty") << QByteArray() << css << FourSpaces;
        QTest::newRow("to empty") << css << QByteArray() << FourSpaces;
        QTest::newRow("all replaced") << css << sample("values.css") << FourSpaces;
        QTest::newRow("width 0") << css << edited("red", "blue") << NoIndent;
    }

    void incremental() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(Indentation, indentation);
        ReindentCache cache;
        verifyIncremental(cache, before, indentation);
        verifyIncremental(cache, after, indentation);
        verifyIncremental(cache, before, indentation);
        // Another indentation starts afresh.
        verifyIncremental(cache, after, Indentation{!indentation.tabs, indentation.width + 1});
    }

    // A result the size limit refuses, after one it allowed, is refused as the whole re-indent
    // refuses it; the next one is built again.
    void incrementalRefused() {
        QByteArray deep;
        for (int i = 0; i < 64; ++i)
            deep += "{\n";
        deep += "a;";
        const std::size_t fits = VantorCompiler::dartsass::reindent(view(deep), Tab).css.size();
        QByteArray deeper = deep;
        deeper.replace("a;", "{\na;");
        ReindentCache cache;
        verifyIncremental(cache, deep, Tab, fits);
        verifyIncremental(cache, deeper, Tab, fits);
        verifyIncremental(cache, deep, Tab, fits);
        verifyIncremental(cache, deep, Indentation{false, -1});
        verifyIncremental(cache, deeper, Tab);
    }

    // A long series of random edits, each re-indented from the one before: typing, deleting,
    // pasting parts of the CSS elsewhere and bytes that change the scan's state.
    void incrementalRandomEdits() {
        const QByteArray original = realisticCss();
        const QByteArrayList pieces = {"{",         "}",
                                       ";",         "\n",
                                       "/*",        "*/",
                                       "\"",        "'",
                                       "url(",      ")",
                                       "  ",        "\\",
                                       "--y:",      "a {\n  b: c;\n}\n",
                                       "\n  d: e;", "@media x {\n",
                                       ",\n"};
        QRandomGenerator random(20261211);
        ReindentCache cache;
        QByteArray css = original;
        for (int step = 0; step < 2000; ++step) {
            const qsizetype at = css.isEmpty() ? 0 : qsizetype(random.bounded(quint32(css.size() + 1)));
            switch (random.bounded(6)) {
            case 0:
                css.insert(at, pieces[random.bounded(qsizetype(pieces.size()))]);
                break;
            case 1:
                css.remove(at, qsizetype(random.bounded(1, 12)));
                break;
            case 2:
                css.insert(at, char(random.bounded(32, 127)));
                break;
            case 3: {
                // Overwritten in place, the length kept.
                const QByteArray& piece = pieces[random.bounded(qsizetype(pieces.size()))];
                css.replace(at, qMin(piece.size(), css.size() - at), piece.left(css.size() - at));
                break;
            }
            case 4: {
                const qsizetype from = qsizetype(random.bounded(quint32(css.size() + 1)));
                css.insert(at, css.mid(from, qsizetype(random.bounded(1, 80))));
                break;
            }
            default:
                if (css.size() > 3 * original.size() || random.bounded(20) == 0)
                    css = original;
                break;
            }
            verifyIncremental(cache, css, step % 500 < 450 ? FourSpaces : Tab);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QString("step %1").arg(step)));
        }
    }

    // Columns Dart Sass's maps lack: inside the old indentation, and past 32 KiB of indentation.
    void shiftedMappings_data() {
        QTest::addColumn<QList<int>>("shifts");  // old, new length per line
        QTest::addColumn<QByteArray>("mappings");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("inside and after the old indentation") << QList<int>{2, 1} << QByteArray("CAAA,EAAC")
                                                               << QByteArray("AAAA,EAAC");
        QTest::newRow("line whose indentation kept its length")
            << QList<int>{2, 2} << QByteArray("CAAA,EAAC") << QByteArray("CAAA,EAAC");
        QTest::newRow("widest indentation, names kept")
            << QList<int>{4, 1024} << QByteArray("IAAAA,CAACC") << QByteArray("ggCAAAA,CAACC");
        QTest::newRow("columns relative within each line")
            << QList<int>{0, 0, 2, 4, 2, 0} << QByteArray(";EAAA;EAAA,EAAA") << QByteArray(";IAAA;AAAA,EAAA");
        QTest::newRow("lines without segments") << QList<int>{2, 4, 2, 4} << QByteArray(";") << QByteArray(";");
        QTest::newRow("nothing") << QList<int>{2, 4} << QByteArray() << QByteArray();
    }

    void shiftedMappings() {
        QFETCH(QList<int>, shifts);
        QFETCH(QByteArray, mappings);
        QFETCH(QByteArray, expected);
        std::vector<LineShift> lines;
        for (qsizetype i = 0; i + 1 < shifts.size(); i += 2)
            lines.push_back({std::size_t(shifts[i]), std::size_t(shifts[i + 1])});
        const ShiftedMappings r = shiftMappings(view(mappings), lines);
        QCOMPARE(QString::fromStdString(r.error), QString());
        QCOMPARE(bytes(r.mappings), expected);
    }

    void vlq_data() {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("0") << qint64(0) << QByteArray("A");
        QTest::newRow("1") << qint64(1) << QByteArray("C");
        QTest::newRow("-1") << qint64(-1) << QByteArray("D");
        QTest::newRow("15, the largest of one digit") << qint64(15) << QByteArray("e");
        QTest::newRow("16") << qint64(16) << QByteArray("gB");
        QTest::newRow("-16") << qint64(-16) << QByteArray("hB");
        QTest::newRow("1000") << qint64(1000) << QByteArray("w+B");
        QTest::newRow("largest") << qint64(MaxVlqMagnitude) << QByteArray("+/////D");
        QTest::newRow("smallest") << -qint64(MaxVlqMagnitude) << QByteArray("//////D");
    }

    void vlq() {
        QFETCH(qint64, value);
        QFETCH(QByteArray, text);
        std::string out;
        appendVlq(out, value);
        QCOMPARE(bytes(out), text);
        const QByteArray followed = text + "A";
        std::size_t pos = 0;
        std::int64_t read = 1;
        QVERIFY(readVlq(view(followed), pos, read));
        QCOMPARE(qint64(read), value);
        QCOMPARE(qsizetype(pos), text.size());
    }

    void badVlq_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("stop");
        QTest::newRow("nothing") << QByteArray() << 0;
        QTest::newRow("ends inside") << QByteArray("wg") << 2;
        QTest::newRow("not base64") << QByteArray("g=") << 1;
        QTest::newRow("just over 32 bits") << QByteArray("ggggggE") << 6;
        QTest::newRow("endless digits") << QByteArray(100000, 'g') << 7;
    }

    void badVlq() {
        QFETCH(QByteArray, text);
        QFETCH(int, stop);
        std::size_t pos = 0;
        std::int64_t value = 0;
        QVERIFY(!readVlq(view(text), pos, value));
        QCOMPARE(int(pos), stop);
    }

    void badMappings_data() {
        QTest::addColumn<QByteArray>("mappings");
        QTest::newRow("leading comma") << QByteArray(",AAAA");
        QTest::newRow("empty segment") << QByteArray("AAAA,,CAAC");
        QTest::newRow("comma before a line break") << QByteArray("AAAA,;AAAA");
        QTest::newRow("trailing comma") << QByteArray("AAAA,");
        QTest::newRow("2 fields") << QByteArray("AA");
        QTest::newRow("6 fields") << QByteArray("AAAAAA");
        QTest::newRow("negative column") << QByteArray("C,F");
        QTest::newRow("past the last line") << QByteArray("A;A;A;A");
        QTest::newRow("not base64") << QByteArray("AA*A");
        QTest::newRow("column past 32 bits") << QByteArray("+/////D,C");
    }

    void badMappings() {
        QFETCH(QByteArray, mappings);
        const std::vector<LineShift> lines(3, LineShift{2, 4});
        const ShiftedMappings r = shiftMappings(view(mappings), lines);
        QVERIFY(!r.error.empty());
        QVERIFY(r.mappings.empty());
    }

    void refused_data() {
        QTest::addColumn<Indentation>("indentation");
        QTest::addColumn<qsizetype>("maxSize");
        QTest::addColumn<bool>("done");
        // 512 lines of "{" then "a;": line i is i levels deep.
        QTest::newRow("width under 0") << Indentation{false, -1} << qsizetype(1) << false;
        QTest::newRow("width over 1024") << Indentation{true, 1025} << qsizetype(1) << false;
        QTest::newRow("deep, widest") << Indentation{false, 1024} << qsizetype(256) << false;
        QTest::newRow("just fits") << Indentation{true, 2} << qsizetype(1026 + 511 * 512 + 512 * 2) << true;
        QTest::newRow("one byte over") << Indentation{true, 2} << qsizetype(1026 + 511 * 512 + 512 * 2 - 1)
                                       << false;
    }

    void refused() {
        QFETCH(Indentation, indentation);
        QFETCH(qsizetype, maxSize);
        QFETCH(bool, done);
        QByteArray deep;
        for (int i = 0; i < 512; ++i)
            deep += "{\n";
        deep += "a;";
        const Reindented r = VantorCompiler::dartsass::reindent(view(deep), indentation, std::size_t(maxSize));
        QCOMPARE(r.error.empty(), done);
        if (done) {
            QCOMPARE(qsizetype(r.css.size()), maxSize);
            verifyLineShifts(deep, r, indentation);
        } else {
            QVERIFY(r.css.empty() && r.lines.empty());
        }
    }
};

QTEST_APPLESS_MAIN(TstReindent)
#include "tst_reindent.moc"
