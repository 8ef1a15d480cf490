// Dart Sass's places in a text, turned into the library's: the protocol's
// spans are 0-based and count UTF-16 code units, its stack traces are 1-based
// (also in UTF-16 units); the library's lines and columns are 1-based and
// count characters (code points) of the UTF-8 text.
//
// Nothing here is exported.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace VantorCompiler {
namespace dartsass {

struct Place {
    std::uint32_t line = 0;    // 1-based; 0 when unknown
    std::uint32_t column = 0;  // 1-based, in code points
};

// The place of a 0-based line and UTF-16 column in text; a column past the
// line's end gives the line's end, a line past the text's end gives 0:0.
Place placeInText(std::string_view text, std::uint32_t line0, std::uint32_t utf16Column);

// The place of text's first byte that is not part of well-formed UTF-8 (an
// overlong form, a surrogate, a code point past U+10FFFF, a cut sequence);
// line 0 when it is all UTF-8.
Place firstInvalidUtf8(std::string_view text);

// Whether text is all well-formed UTF-8, as firstInvalidUtf8() reads it;
// fast on ASCII, for CSS of megabytes.
bool isUtf8(std::string_view text);

// One frame of a stack trace: "_part.scss 2:13  pm()", 1-based.
struct Frame {
    std::string location;  // as Dart Sass prints it: a path relative to the current folder, or a URL
    std::uint32_t line = 0;
    std::uint32_t column = 0;
    std::string member;  // "root stylesheet", "@use", "pm()"
};

// The frames of a stack trace, innermost first. The position is the last
// " line:column " on a frame's line, so a location holding such a pattern
// (a file name is the user's) still reads right; lines without one are left out.
std::vector<Frame> parseFrames(std::string_view trace);

// The path of a file: URL, percent-decoded; empty for any other URL or a
// malformed one.
std::string filePath(std::string_view url);

// A file: URL for a path, percent-encoding what a URL cannot hold as it is.
std::string fileUrl(std::string_view path);

}  // namespace dartsass
}  // namespace VantorCompiler
