// Dart Sass through the library's public functions against the pinned command line's own output:
// each snippets/<name>.scss converts to the bytes of <name>.expanded.css and <name>.compressed.css,
// written by snippets/regenerate.sh. The conversions run in the snippets folder, so the partials
// there resolve as they did for the command line. Expanded CSS is asked for with two spaces, Dart
// Sass's own indentation; other indentations are checked against the two-space fixture re-indented
// by this test's own rule, with the embedded source map read back position by position.
#include <VantorCompiler.h>

#include <QtTest>

#include <optional>

namespace {

const QString SnippetsDir = QStringLiteral(SNIPPETS_DIR);

struct Result {
    bool cssNull = true;
    QByteArray css;
    QByteArray error;
};

// One whole conversion with Dart Sass, in the program's calling order.
Result convert(const QByteArray& scss, VantorCompiler::CompilerOptions options) {
    options.engine = VantorCompiler::DartSass;
    options.input = sass_copy_c_string(scss.constData());
    Result r;
    const char* css = VantorCompiler::compile(options);
    r.cssNull = css == nullptr;
    r.css = css;
    r.error = VantorCompiler::error();
    VantorCompiler::free_memory();
    return r;
}

VantorCompiler::CompilerOptions expanded(std::int32_t type, std::int32_t width) {
    VantorCompiler::CompilerOptions o;
    o.output_style = 2;
    o.indent_type = type;
    o.indent_width = width;
    return o;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// The library resolves relative loads against the current folder: the snippets folder while a
// conversion runs, the previous one again afterwards.
class InSnippetsDir {
public:
    InSnippetsDir() : previous_(QDir::currentPath()) { entered_ = QDir::setCurrent(SnippetsDir); }
    ~InSnippetsDir() { QDir::setCurrent(previous_); }
    InSnippetsDir(const InSnippetsDir&) = delete;
    InSnippetsDir& operator=(const InSnippetsDir&) = delete;
    bool entered() const { return entered_; }

private:
    QString previous_;
    bool entered_ = false;
};

int leadingSpaces(const QByteArray& line) {
    int n = 0;
    while (n < line.size() && line[n] == ' ')
        ++n;
    return n;
}

// Dart Sass's two-space expanded CSS with `unit` per level instead. A statement line's two
// spaces per level become units. A line continuing a comment keeps what follows the indentation
// of the line that opened the comment, which is itself swapped. The continuation lines of a
// custom property's value are kept as written, as are blank lines.
QByteArray reindentedFixture(const QByteArray& css, const QByteArray& unit) {
    QByteArray out;
    std::optional<int> commentIndent;  // set inside a comment spanning lines
    bool inCustomValue = false;
    const QList<QByteArray> lines = css.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const int spaces = leadingSpaces(line);
        const QByteArray rest = line.mid(spaces);
        if (commentIndent) {
            if (spaces >= *commentIndent)
                out += unit.repeated(*commentIndent / 2) + line.mid(*commentIndent);
            else
                out += line;
            if (line.contains("*/"))
                commentIndent.reset();
        } else if (inCustomValue) {
            out += line;
            inCustomValue = !rest.endsWith(';');
        } else {
            out += rest.isEmpty() ? line : unit.repeated(spaces / 2) + rest;
            if (rest.startsWith("/*") && !rest.contains("*/"))
                commentIndent = spaces;
            inCustomValue = rest.startsWith("--") && !rest.endsWith(';');
        }
        if (i + 1 < lines.size())
            out += '\n';
    }
    return out;
}

// Version 3 source map mappings: one segment of absolute values.
struct Segment {
    int generatedLine = 0;
    int generatedColumn = 0;
    int source = -1;
    int sourceLine = -1;
    int sourceColumn = -1;
};

// Decodes the base64 VLQ "mappings" of a source map; false on a malformed text.
bool decodeMappings(const QByteArray& mappings, QList<Segment>& segments) {
    static const QByteArray digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    int line = 0;
    int column = 0;
    int fields[4] = {0, 0, 0, 0};  // source, source line, source column, name: relative across lines
    qsizetype i = 0;
    while (i < mappings.size()) {
        const char c = mappings[i];
        if (c == ';') {
            ++line;
            column = 0;
            ++i;
            continue;
        }
        if (c == ',') {
            ++i;
            continue;
        }
        QList<int> values;
        while (i < mappings.size() && mappings[i] != ',' && mappings[i] != ';') {
            int value = 0;
            int shift = 0;
            bool more = true;
            while (more) {
                if (i >= mappings.size() || shift > 30)
                    return false;
                const qsizetype digit = digits.indexOf(mappings[i++]);
                if (digit < 0)
                    return false;
                more = digit & 32;
                value |= int(digit & 31) << shift;
                shift += 5;
            }
            values.append(value & 1 ? -(value >> 1) : value >> 1);
        }
        if (values.size() != 1 && values.size() != 4 && values.size() != 5)
            return false;
        Segment s;
        column += values[0];
        s.generatedLine = line;
        s.generatedColumn = column;
        if (values.size() >= 4) {
            for (int f = 0; f + 1 < values.size(); ++f)
                fields[f] += values[f + 1];
            s.source = fields[0];
            s.sourceLine = fields[1];
            s.sourceColumn = fields[2];
        }
        segments.append(s);
    }
    return true;
}

// The 0-based line and byte column of the only occurrence of token in text, or {-1, -1}.
QPair<int, int> placeOf(const QByteArray& text, const QByteArray& token) {
    const qsizetype at = text.indexOf(token);
    if (at < 0 || text.indexOf(token, at + 1) >= 0)
        return {-1, -1};
    const qsizetype lineStart = text.lastIndexOf('\n', at) + 1;
    return {int(text.left(at).count('\n')), int(at - lineStart)};
}

// The source map embedded at the end of a conversion's CSS, decoded from base64.
QJsonObject embeddedMap(const QByteArray& css, QByteArray& before) {
    static const QByteArray marker = "\n/*# sourceMappingURL=data:application/json;base64,";
    const qsizetype at = css.lastIndexOf(marker);
    if (at < 0 || !css.endsWith(" */"))
        return {};
    before = css.left(at);
    const qsizetype from = at + marker.size();
    const QByteArray payload = css.mid(from, css.size() - 3 - from);
    const auto decoded = QByteArray::fromBase64Encoding(payload, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return {};
    return QJsonDocument::fromJson(*decoded).object();
}

}  // namespace

class TstDartSassSnippets : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        const char* problem = VantorCompiler::engine_error(VantorCompiler::DartSass);
        if (!VANTOR_HAVE_DART_SASS && !VANTOR_REQUIRE_DART_SASS)
            QSKIP("Dart Sass was not available when the build was configured (VANTOR_HAVE_DART_SASS is 0)");
        QVERIFY2(!problem, problem);
        QVERIFY2(QFileInfo::exists(SnippetsDir + "/reindent.expanded.css"),
                 qPrintable("no fixtures in " + SnippetsDir + ": run its regenerate.sh"));
    }

    // Every snippet in both styles, byte for byte as the command line wrote it.
    void snippets_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("style");
        const QStringList names = QDir(SnippetsDir).entryList({"*.scss"}, QDir::Files, QDir::Name);
        for (const QString& file : names) {
            if (file.startsWith('_'))
                continue;
            const QString name = file.chopped(5);
            QTest::addRow("%s expanded", qPrintable(name)) << name << 2;
            QTest::addRow("%s compressed", qPrintable(name)) << name << 3;
        }
    }

    void snippets() {
        QFETCH(QString, name);
        QFETCH(int, style);
        const QByteArray scss = readFile(SnippetsDir + "/" + name + ".scss");
        const QString fixture = SnippetsDir + "/" + name + (style == 2 ? ".expanded.css" : ".compressed.css");
        QVERIFY2(QFileInfo::exists(fixture), qPrintable(fixture + " is missing: run regenerate.sh"));
        const QByteArray expected = readFile(fixture);

        VantorCompiler::CompilerOptions o = expanded(VantorCompiler::Spaces, 2);
        o.output_style = style;
        Result r;
        {
            InSnippetsDir here;
            QVERIFY(here.entered());
            r = convert(scss, o);
        }
        QVERIFY2(!r.cssNull, r.error.constData());
        QCOMPARE(r.css, expected);
        QVERIFY(r.css.isEmpty() || (r.css.endsWith('\n') && !r.css.endsWith("\n\n")));
    }

    // Other indentations re-indent comments, a custom property spanning lines and @media nested
    // in @supports, as the fixture re-indented by the rule above.
    void reindented_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("width");
        QTest::addColumn<QByteArray>("unit");
        QTest::newRow("tabs") << int(VantorCompiler::Tabs) << 1 << QByteArray("\t");
        QTest::newRow("two tabs") << int(VantorCompiler::Tabs) << 2 << QByteArray("\t\t");
        QTest::newRow("4 spaces") << int(VantorCompiler::Spaces) << 4 << QByteArray("    ");
        QTest::newRow("width 0") << int(VantorCompiler::Spaces) << 0 << QByteArray();
    }

    void reindented() {
        QFETCH(int, type);
        QFETCH(int, width);
        QFETCH(QByteArray, unit);
        const QByteArray fixture = readFile(SnippetsDir + "/reindent.expanded.css");
        const Result r = convert(readFile(SnippetsDir + "/reindent.scss"), expanded(type, width));
        QVERIFY2(!r.cssNull, r.error.constData());
        QCOMPARE(r.css, reindentedFixture(fixture, unit));
    }

    // The map of re-indented CSS: named as libsass names it, and each token's generated place
    // is where the token now stands, mapped to where it stands in the text.
    void sourceMapReindented() {
        VantorCompiler::CompilerOptions libsass;
        libsass.source_map_embed = true;
        libsass.input = sass_copy_c_string("a { b: c }");
        const QByteArray libsassCss = VantorCompiler::compile(libsass);
        VantorCompiler::free_memory();
        QByteArray unused;
        const QJsonObject libsassMap = embeddedMap(libsassCss, unused);
        QVERIFY2(!libsassMap.isEmpty(), libsassCss.constData());

        const QByteArray scss = readFile(SnippetsDir + "/reindent.scss");
        VantorCompiler::CompilerOptions o = expanded(VantorCompiler::Tabs, 1);
        o.source_map_embed = true;
        const Result r = convert(scss, o);
        QVERIFY2(!r.cssNull, r.error.constData());
        QByteArray css;
        const QJsonObject map = embeddedMap(r.css, css);
        QVERIFY2(!map.isEmpty(), r.css.constData());
        QCOMPARE(css, reindentedFixture(readFile(SnippetsDir + "/reindent.expanded.css"), "\t"));

        QCOMPARE(map.value("version").toInt(), 3);
        QCOMPARE(map.value("sources").toArray(), QJsonArray{"stdin"});
        QCOMPARE(map.value("sources"), libsassMap.value("sources"));
        QCOMPARE(map.value("file"), libsassMap.value("file"));

        QList<Segment> segments;
        QVERIFY(decodeMappings(map.value("mappings").toString().toLatin1(), segments));
        // At depths 1 and 3, where tabs move the columns by 1 and 3 bytes.
        for (const char* token : {"color: black", "color: blue", "--gap:"}) {
            const auto [sourceLine, sourceColumn] = placeOf(scss, token);
            QVERIFY2(sourceLine >= 0, token);
            const auto found = std::find_if(segments.cbegin(), segments.cend(), [&](const Segment& s) {
                return s.source == 0 && s.sourceLine == sourceLine && s.sourceColumn == sourceColumn;
            });
            QVERIFY2(found != segments.cend(), token);
            QCOMPARE(qMakePair(found->generatedLine, found->generatedColumn), placeOf(css, token));
        }
    }
};

QTEST_GUILESS_MAIN(TstDartSassSnippets)
#include "tst_dartsasssnippets.moc"
