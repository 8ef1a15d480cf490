// Vantor.Compiler: converts one SCSS text to CSS per call, with libsass (the
// default) or Dart Sass, chosen per conversion by CompilerOptions::engine.
//
// Each engine runs in a process of its own, started on the first conversion
// that needs it and kept for the next; both may live at once, and switching
// between them costs nothing after each one's first start.
// - libsass runs in vantor-compiler-worker, found beside this library or in
//   ../libexec relative to it (the environment variable VANTOR_COMPILER_WORKER
//   names another, as an absolute path).
// - Dart Sass (the pinned 1.108.2) runs from a dart-sass/ folder beside the
//   worker, through the launcher vantor-dart-sass beside it, over the Embedded
//   Sass protocol (VANTOR_DART_SASS names another folder holding dart and
//   sass.snapshot, as an absolute path). Nothing of Node runs.
// Relative loads (@import, and with Dart Sass @use, @forward and
// meta.load-css) resolve against the program's current working directory at
// each conversion. A conversion that uses more than 2 seconds of its
// process's CPU time (plus 10 microseconds per byte of text, so large
// stylesheets get their due), one that makes no progress for a long while
// (an @import of a named pipe), one past the process's memory cap, or one
// that crashes the compiler costs only that process: compile() returns null,
// error() and error_kind() explain, and the next conversion starts a fresh
// one. The CPU time counts the compiler's own work only, so a busy machine
// never stops a conversion. The processes end with the program's process,
// even while they loop; the program's exit does not wait for them.
//
// The functions are for one thread at a time, as the program calls them from
// its user-interface thread: nothing in the library is locked.
//
// Calling order, once per conversion: compile(), then error(), error_kind(),
// error_line(), error_column(), error_file(), error_file_line(),
// error_file_column() and the warning_*() functions as often as needed, then
// exactly one free_memory(). Every string returned belongs to the library and
// stays valid until that free_memory(); the fixed failure text and the texts of
// engine_version() and engine_error() stay valid while the library is loaded.
#pragma once

#include <sass.h>

#include <cstdint>

#if defined(VANTOR_COMPILER_BUILD)
#define VANTOR_COMPILER_API __attribute__((visibility("default")))
#else
#define VANTOR_COMPILER_API
#endif

namespace VantorCompiler {

// Output style code carried in CompilerOptions::output_style. Dart Sass
// writes only Expanded and Compressed.
enum OutputStyles : std::int32_t {
    Nested = 0,
    Compact = 1,
    Expanded = 2,
    Compressed = 3,
};

// Indent type code carried in CompilerOptions::indent_type; every value other
// than Tabs means spaces.
enum IndentTypes : std::int32_t {
    Spaces = 0,
    Tabs = 1,
};

// The compilers the library can run, chosen by CompilerOptions::engine.
enum Engines : std::int32_t {
    Libsass = 0,
    DartSass = 1,
};

// What kind of error the live conversion has, from error_kind().
enum ErrorKinds : std::int32_t {
    NoError = 0,
    SassError = 1,            // the stylesheet has an error the compiler reports
    ModuleSystemRefused = 2,  // libsass was given @use or @forward, which it cannot convert
    Stopped = 3,              // the CPU-time limit, no progress, or the memory cap
    CompilerFailed = 4,       // the compiler crashed or broke its protocol on this input
    CannotRun = 5,            // the engine is unknown or cannot run here, whatever the text
};

// Largest indent_width compile() accepts; larger (or negative) widths give the
// fixed failure text instead of a huge allocation.
constexpr std::int32_t MaxIndentWidth = 1024;

// Crosses the library boundary by value: field order and widths are part of
// the interface between the program and the library.
struct CompilerOptions {
    // NUL-terminated UTF-8 SCSS text. compile() takes it over and frees it with
    // free(): allocate it with sass_copy_c_string() or malloc(), and never free
    // it yourself. Not set by the constructor.
    char* input;
    // OutputStyles code, Nested to Compressed.
    std::int32_t output_style;
    bool source_map_embed;
    // IndentTypes code.
    std::int32_t indent_type;
    // Indentation characters per nesting level, 0 to MaxIndentWidth. Both
    // engines follow indent_type and indent_width; Dart Sass's expanded CSS
    // (two spaces per level as it writes it) is re-indented by the library.
    std::int32_t indent_width;
    // Engines code: the compiler that converts the text. The last field, so
    // the record's first five keep their places.
    std::int32_t engine;

    CompilerOptions()
        : output_style(Expanded), source_map_embed(false), indent_type(Spaces), indent_width(4), engine(Libsass) {}
};

// Converts options.input. Returns the CSS, null when there is none (a Sass
// error, a stylesheet stopped at a limit, a crash of the compiler, an engine
// that is unknown or cannot run here, with libsass a stylesheet of the Sass
// module system, with Dart Sass output style 0 or 1: read the reason with
// error() and error_kind()), or the fixed failure text
// "ERROR : Unhandled compiler error occurred please contact supplier" for a
// record with an output style outside 0..3 or an indent width outside
// 0..MaxIndentWidth (error_kind() CompilerFailed). An empty text gives null
// and leaves no conversion live. Non-empty CSS ends in one newline.
// libsass predates the module system and would copy its rules into the CSS as
// they stand: a text with a @use or @forward statement is not converted, and
// a conversion whose CSS still holds one (from an @import'ed file) gives null.
// Dart Sass's CSS is what its command line (sass --stdin --no-source-map)
// prints for the same text in the same folder, @charset and BOM included, but
// for the indentation asked for; source_map_embed appends its map as libsass's
// is appended, the text named "stdin".
VANTOR_COMPILER_API const char* compile(CompilerOptions options);

// The live conversion's error text, or null when it reported none or when no
// conversion is live.
// - A Sass error: libsass's own text (followed by one sentence of the
//   library's where the text shows a known limit of libsass, such as range
//   media queries, and the usual way round it); Dart Sass's message, without
//   terminal colours or drawing, followed by "(_partial.scss, line 2, column
//   6)" when the error lies in another file.
// - libsass given @use or @forward: "@use is not supported by libsass, ...",
//   at the rule (at 0 for one from an imported file), naming the way out:
//   Dart Sass, or why it cannot run here.
// - The library's texts for a conversion stopped at the CPU-time limit
//   ("Compilation stopped after 2 seconds: ...", more seconds for a long
//   text), for one that made no progress ("Compilation stopped: the Sass
//   compiler made no progress for 10 seconds ..."), for a crash ("The Sass
//   compiler failed on this input (SIGSEGV). Your text is unchanged."), for a
//   compiler that cannot run here whatever the text ("The Sass compiler cannot
//   run: ..." with the reason) or cannot be started (naming its path and the
//   system's reason). Dart Sass's name "Dart Sass" where these say "the Sass
//   compiler"; its memory cap gives "Compilation stopped: the stylesheet
//   needs more memory than Dart Sass may use (2 GB)."
// - An unknown engine, or one that cannot run here: which and why, as
//   engine_error() says it.
// With SIGCHLD ignored the system reaps the processes by itself, so a crash is
// reported without its signal.
VANTOR_COMPILER_API const char* error();

// The 1-based line and column of the live conversion's Sass error, for both
// engines; 0 when it has none, when no conversion is live, and for the
// library's own errors. Both count in the text compile() was given. The column
// counts characters (Unicode code points), not bytes nor UTF-16 units: "é" and
// "😀" each count one, so a column equals a QString position only on lines
// without characters outside the Basic Multilingual Plane. A byte order mark
// at the start is the first line's first character, as in the editor's text.
// Lines end at a line feed; with libsass a lone carriage return does not end a
// line. libsass's error of an escape that names no character ("Invalid code
// point", \d800 in a string) is placed at the first such escape in a string.
VANTOR_COMPILER_API std::int32_t error_line();
VANTOR_COMPILER_API std::int32_t error_column();

// The file of the live conversion's Sass error when it lies in another file
// than the text compile() was given (a loaded partial): its path as libsass
// names it, or Dart Sass's file: URL as a path. Null when the error is in the
// given text, when there is no error and when no conversion is live.
// error_line() and error_column() then give the position of the load rule in
// the given text (libsass: the @import or @include; Dart Sass: where its
// stack trace shows it, at an @import's URL), or 0 when the library cannot
// tell.
VANTOR_COMPILER_API const char* error_file();

// The live conversion's warnings, in the order they arose: @warn and @debug
// messages and the compiler's own warnings (deprecations and the like), also
// those raised before a Sass error, for both engines. warning_count() is 0
// when there are none or no conversion is live; index runs from 0 to
// warning_count() - 1. warning_text() is the message prefixed by its kind,
// null for an index out of range: libsass's "WARNING: careful", "DEBUG: 2",
// "DEPRECATION WARNING: ..."; Dart Sass's as its command line prints them,
// "WARNING: ", "DEBUG: " and "DEPRECATION WARNING [id]: " with the
// deprecation's id (Dart Sass reports a few of each kind of deprecation, then
// one summary). warning_line() and warning_column() are 1-based and count in
// the text compile() was given as error_line() does; 0 for an index out of
// range and for a warning that arose outside that text (its text then names
// the file and line). libsass: the message of a @warn or @debug as libsass
// writes it (a colour, a selector, a slash stay as written; line breaks are
// kept), its own warnings joined into one line; whatever a message or a file
// name holds, one warning stays one. A @warn or @debug sits at its statement
// when that lies in the text (libsass names only the line of a @debug: of
// several on one line, the first), else at the innermost @include or function
// call in the text that leads to it; libsass's own warnings where it places
// them, column 1 when it names only the line; never past the end of a line.
// Dart Sass: at its span, and a @warn (which has none) at the innermost frame
// of its stack trace that lies in the text. At most 100 are kept, then one
// last "… and N more warnings" at 0, N counting every one after them. With
// libsass the library adds warnings of its own: a Sass variable left as text
// in the CSS (libsass copies calc() as written).
VANTOR_COMPILER_API std::int32_t warning_count();
VANTOR_COMPILER_API const char* warning_text(std::int32_t index);
VANTOR_COMPILER_API std::int32_t warning_line(std::int32_t index);
VANTOR_COMPILER_API std::int32_t warning_column(std::int32_t index);

// The engine's name and version, "libsass 3.6.5" or "Dart Sass 1.108.2"; null
// for an unknown engine. Never starts a process; the text stays valid while
// the library is loaded.
VANTOR_COMPILER_API const char* engine_version(std::int32_t engine);

// Null when the engine can run here as far as can be told without starting
// it (its files are present and executable), else the reason, such as "Dart
// Sass is not installed here: /path/dart-sass/dart is missing". Never starts
// a process; the text stays valid while the library is loaded.
VANTOR_COMPILER_API const char* engine_error(std::int32_t engine);

// The live conversion's kind of error, an ErrorKinds code; NoError when it has
// none or no conversion is live. Act on it, never on error()'s words.
VANTOR_COMPILER_API std::int32_t error_kind();

// When error_file() is not null: the 1-based line and column of the error
// inside that file (characters, as error_column()), as the engine names them;
// 0 when unknown. 0 otherwise.
VANTOR_COMPILER_API std::int32_t error_file_line();
VANTOR_COMPILER_API std::int32_t error_file_column();

// Releases the live conversion and all its strings; does nothing when none is live.
VANTOR_COMPILER_API void free_memory();

}  // namespace VantorCompiler
