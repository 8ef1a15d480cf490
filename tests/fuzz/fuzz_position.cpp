// libFuzzer target for mapping a compiler position in the trimmed text back
// to the editor's untrimmed text.
//
// The first 8 bytes are the line and the column (two native-endian ints, any
// values); the rest is the text, read once as UTF-8 and once as UTF-16 so that
// lone surrogates occur. The result must be a real place in the untrimmed text
// (a line that exists, a column from 1 to one past that line's end), must lie
// within the trimmed part and never between the halves of a surrogate pair,
// and must be where the clamped position falls when the trimmed text is
// walked by Qt's own trimming, line splitting and code point decoding (a
// byte-order mark that starts the trimmed text not counted).
#include "TextPosition.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Names the broken invariant, then stops the run as a crash.
[[noreturn]] void fail(int line, const char* condition) {
    std::fprintf(stderr, "fuzz_position.cpp:%d: %s does not hold\n", line, condition);
    std::abort();
}
#define require(condition) ((condition) ? void() : fail(__LINE__, #condition))

// UTF-16 units taken by the first `codePoints` code points of `text`.
qsizetype unitsOfCodePoints(const QString& text, qsizetype codePoints) {
    const QList<uint> ucs4 = text.toUcs4();  // a lone surrogate decodes as one U+FFFD
    qsizetype units = 0;
    for (qsizetype i = 0; i < codePoints; ++i)
        units += QChar::requiresSurrogates(ucs4.at(i)) ? 2 : 1;
    return units;
}

void check(const QString& text, int line, int column) {
    const pelorin::TextPosition result = pelorin::mapTrimmedPosition(text, line, column);

    // A real place in the untrimmed text, lines split at '\n'.
    QList<qsizetype> lineStarts{0};
    for (qsizetype i = text.indexOf(u'\n'); i >= 0; i = text.indexOf(u'\n', i + 1))
        lineStarts.append(i + 1);
    require(result.line >= 1 && result.line <= lineStarts.size());
    const qsizetype start = lineStarts.at(result.line - 1);
    const qsizetype end = result.line < lineStarts.size() ? lineStarts.at(result.line) - 1 : text.size();
    require(result.column >= 1 && result.column <= end - start + 1);
    const qsizetype offset = start + result.column - 1;
    require(!(offset > 0 && offset < text.size() && text.at(offset - 1).isHighSurrogate() &&
              text.at(offset).isLowSurrogate()));

    // Where the clamped position falls in text.trimmed().
    const QString trimmed = text.trimmed();
    qsizetype begin = 0;
    while (begin < text.size() && text.at(begin).isSpace())
        ++begin;
    require(QStringView(text).mid(begin, trimmed.size()) == trimmed);
    require(offset >= begin && offset <= begin + trimmed.size());
    const QStringList trimmedLines = trimmed.split(u'\n');
    const qsizetype wantedLine = std::clamp<qsizetype>(line, 1, trimmedLines.size());
    // libsass skips a byte-order mark that starts its text: first-line columns count after it.
    const qsizetype skipped = wantedLine == 1 && trimmed.startsWith(QChar(0xfeff)) ? 1 : 0;
    const QString lineText = trimmedLines.at(wantedLine - 1).mid(skipped);
    const qsizetype lineCodePoints = lineText.toUcs4().size();
    const qsizetype wantedColumn = line > trimmedLines.size() ? lineCodePoints + 1
                                                               : std::clamp<qsizetype>(column, 1, lineCodePoints + 1);
    qsizetype expected = begin;
    for (qsizetype l = 0; l < wantedLine - 1; ++l)
        expected += trimmedLines.at(l).size() + 1;
    expected += skipped + unitsOfCodePoints(lineText, wantedColumn - 1);
    require(offset == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8)
        return 0;
    int line = 0;
    int column = 0;
    std::memcpy(&line, data, sizeof line);
    std::memcpy(&column, data + 4, sizeof column);
    data += 8;
    size -= 8;

    check(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)), line, column);

    std::vector<char16_t> units(size / 2);
    if (!units.empty())
        std::memcpy(units.data(), data, units.size() * 2);
    check(QString(reinterpret_cast<const QChar*>(units.data()), qsizetype(units.size())), line, column);
    return 0;
}
