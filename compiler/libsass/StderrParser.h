// Reads what libsass 3.6.5 writes to standard error during a conversion, as it
// writes it: one chunk per output operation on std::cerr. A message's parts
// (its texts, paths and numbers) are chunks of their own, so whatever they
// hold (line breaks, blank lines, words of a header or a trace) they never
// end a message or begin another. The messages, each a fixed run of chunks:
//   "Warning: " MESSAGE "\n"
//   "WARNING on line " L ", column " C " of " PATH ":" "\n" MESSAGE "\n" "\n"
//   "DEPRECATION WARNING: " MESSAGE "\n" "will be an error in future versions of Sass." "\n"
//       "        on line " L " of " PATH "\n"
//   "DEPRECATION WARNING: " MESSAGE "\n" MESSAGE "\n" "\n"
//   "DEPRECATION WARNING on line " L [" of " PATH] ":" "\n" MESSAGE "\n" [MESSAGE "\n"] "\n"
//   "WARNING: " MESSAGE "\n" "        on line " L " of " PATH "\n"
//       "This will be an error in future versions of Sass." "\n"
//   "WARNING: " TEXT "\n" TRACE "\n"                         @warn, TRACE as LibsassTrace.h reads it
//   PATH ":" L " DEBUG: " TEXT "\n"                          @debug
// libsass's own MESSAGEs are joined into one line; the TEXT of @warn and
// @debug is kept as the stylesheet made it. Chunks outside these runs come
// back as messages of their own text at 0:0.
//
// Compiled into the worker; nothing here is exported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace VantorCompiler {

struct StderrMessage {
    enum class Origin { Libsass, Warn, Debug };
    Origin origin = Origin::Libsass;
    // Kind and message, "DEPRECATION WARNING: The operation ..."; ends in
    // " (on line L of PATH)" when the message arose in another file.
    std::string text;
    // 1-based, in the converted text; both 0 when it arose elsewhere or libsass
    // named no place. Column 1 when libsass named only the line.
    std::uint32_t line = 0;
    std::uint32_t column = 0;
    // A @warn or @debug in the converted text: line and column are libsass's
    // place of the statement, which only the text settles (column 0 when
    // libsass named only the line). False once the place is final.
    bool statement = false;
};

// One step of a message's run of chunks (StderrParser.cpp).
struct StderrStep;

struct CallSite {
    std::uint32_t line = 0;
    std::uint32_t column = 0;
};

class StderrParser {
public:
    // directory: libsass's working directory, paths below it are named
    // relative to it. most: messages kept, the ones after only counted.
    // callSite: the innermost @include or function call in the converted text
    // at the moment, 0:0 when none; asked as a kept @warn or @debug begins,
    // its place when the statement lies in another file. firstLineShift: added to
    // the columns libsass names on the first line (1 after a byte order mark,
    // which libsass skips).
    explicit StderrParser(std::string_view directory = {}, std::size_t most = SIZE_MAX,
                          std::function<CallSite()> callSite = {}, std::uint32_t firstLineShift = 0);

    // A file libsass read, as its traces name it (LibsassTrace.h). libsass
    // runs some @warn while it reads the files, so they are added as they
    // become known.
    void addTracePath(std::string path);
    const std::vector<std::string>& tracePaths() const { return tracePaths_; }
    // One output operation's characters.
    void feed(std::string_view chunk);
    // Ends the run: a message cut short comes back with what it has.
    void finish();

    // All messages read, kept or not.
    std::size_t count() const { return count_; }
    std::vector<StderrMessage> take();

private:
    struct Chunk {
        std::string data;      // the first MaxChunkBytes
        std::size_t size = 0;  // all of it
        bool is(std::string_view literal) const { return size == literal.size() && data == literal; }
    };
    void atStart(Chunk chunk);
    void begin(const StderrStep* steps, std::string_view kind);
    bool step(const Chunk& chunk);
    void emit();
    StderrMessage message() const;
    void addUnknown(const Chunk& chunk);
    void flushUnknown();
    std::string relative(std::string_view path) const;
    std::uint32_t shifted(std::uint32_t line, std::uint32_t column) const;

    std::string directory_;
    std::size_t most_;
    std::function<CallSite()> callSite_;
    std::uint32_t firstLineShift_;
    std::vector<std::string> tracePaths_;

    std::vector<StderrMessage> messages_;
    std::size_t count_ = 0;
    // Chunks that may begin a @debug, which only its fourth chunk tells.
    std::vector<Chunk> pending_;
    std::string unknown_;
    bool hasUnknown_ = false;

    // The message being read.
    const StderrStep* steps_ = nullptr;
    std::size_t at_ = 0;
    StderrMessage::Origin origin_ = StderrMessage::Origin::Libsass;
    std::string kind_;
    std::vector<Chunk> parts_;
    std::uint32_t line_ = 0;
    std::uint32_t column_ = 0;
    bool hasPath_ = false;
    Chunk path_;
    Chunk trace_;
    CallSite site_;
};

}  // namespace VantorCompiler
