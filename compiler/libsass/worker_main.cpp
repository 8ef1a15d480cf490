// vantor-compiler-worker: runs libsass for Vantor.Compiler, out of the program's way.
//
// Started by the library with the request pipe on fd 3, the response pipe on
// fd 4, /dev/null as standard input and output, and the program's pid as the
// only argument. Works in the program's current directory, followed before
// every conversion. Serves one conversion at a time until the request pipe
// closes, and ends when the program's process ends. libsass may loop forever,
// exhaust memory or crash on some inputs; the library times out or reaps this
// process then, so here nothing is guarded beyond keeping each failure inside
// this process.
#include "Framing.h"
#include "LibsassTrace.h"
#include "SourceScan.h"
#include "StderrParser.h"
#include "VantorCompiler.h"
#include "core/TextPrefix.h"
#include "core/WarningCollector.h"

#include <sass.h>

#if defined(VANTOR_WORKER_MIMALLOC)
#include <mimalloc.h>
#endif

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define VANTOR_WORKER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VANTOR_WORKER_ASAN 1
#endif
#endif

#if defined(VANTOR_WORKER_ASAN)
// libsass's own crashes on some inputs are expected here and reported by the
// library from the exit signal; AddressSanitizer must let them happen as plain
// signals instead of printing a report of its own.
extern "C" const char* __asan_default_options() {
    return "handle_segv=0:handle_sigbus=0:handle_abort=0";
}
#endif

#if defined(VANTOR_WORKER_MIMALLOC)
// mimalloc's own operator new aborts the process when memory runs out, which
// at the address-space cap would turn a run-away stylesheet into a crash.
// These replace it with the standard behaviour, so libsass sees std::bad_alloc
// and reports "Unable to allocate memory". Their deletes stay mimalloc's.
namespace {

void* allocateOrThrow(std::size_t size, std::size_t alignment) {
    for (;;) {
        void* p = alignment ? mi_malloc_aligned(size, alignment) : mi_malloc(size);
        if (p)
            return p;
        std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

}  // namespace

void* operator new(std::size_t size) { return allocateOrThrow(size, 0); }
void* operator new[](std::size_t size) { return allocateOrThrow(size, 0); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    return allocateOrThrow(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return allocateOrThrow(size, static_cast<std::size_t>(alignment));
}
#endif

namespace {

using namespace VantorCompiler;
using namespace VantorCompiler::framing;

constexpr std::size_t StackSize = std::size_t(256) << 20;
constexpr std::size_t WatchStackSize = std::size_t(256) << 10;
constexpr rlim_t AddressSpaceLimit = rlim_t(2) << 30;
constexpr int Precision = 10;

// Output style code to libsass style: code 1 is compact and code 2 expanded.
const Sass_Output_Style StyleTable[4] = {
    SASS_STYLE_NESTED,
    SASS_STYLE_COMPACT,
    SASS_STYLE_EXPANDED,
    SASS_STYLE_COMPRESSED,
};

// The pipes from and to the library.
const int requestFd = 3;
const int responseFd = 4;
pid_t program = -1;
int programFd = -1;  // a pidfd of the program, or -1
// The program's working directory, which it may change while the worker runs.
std::string programCwd;

// Moves all `size` bytes with read() or write(), again after a signal; false
// at the end of the input or on an error.
template <typename Byte, typename Transfer>
bool transferAll(Transfer transfer, int fd, Byte* data, std::size_t size) {
    while (size) {
        const ssize_t n = transfer(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool readAll(int fd, unsigned char* data, std::size_t size) {
    return transferAll(::read, fd, data, size);
}

bool writeAll(int fd, const char* data, std::size_t size) {
    return transferAll(::write, fd, data, size);
}

// std::cerr's buffer during a conversion: hands each of libsass's output
// operations (all its warnings, @warn and @debug go to std::cerr) to the
// parser as one chunk, which keeps the first messages and counts them all.
// std::cerr is unit-buffered, so nothing waits between operations.
class ChunkCapture : public std::streambuf {
public:
    explicit ChunkCapture(StderrParser& parser) : parser_(parser), previous_(std::cerr.rdbuf(this)) {}
    ~ChunkCapture() override {
        std::cerr.rdbuf(previous_);
        // A chunk that could not be read leaves the stream failed; the next
        // conversion writes again.
        std::cerr.clear();
    }
    ChunkCapture(const ChunkCapture&) = delete;
    ChunkCapture& operator=(const ChunkCapture&) = delete;

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const char character = traits_type::to_char_type(c);
        parser_.feed(std::string_view(&character, 1));
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        parser_.feed(std::string_view(s, static_cast<std::size_t>(n)));
        return n;
    }

private:
    StderrParser& parser_;
    std::streambuf* previous_;
};

// libsass's column for the first line of a text that begins with a byte order
// mark, which libsass skips and the text's columns count.
std::uint32_t firstLineShift(std::string_view text) {
    return startsWith(text, "\xEF\xBB\xBF") ? 1 : 0;
}

TextPlace libsassPlace(std::string_view text, std::size_t line, std::size_t column) {
    if (line == 0 || line > 0x7FFFFFFFu || column > 0x7FFFFFFFu)
        return {};
    TextPlace place{static_cast<std::uint32_t>(line), static_cast<std::uint32_t>(column)};
    if (place.line == 1 && place.column > 0)
        place.column += firstLineShift(text);
    return place;
}

// The innermost @include or function call in the text on libsass's call stack.
CallSite innermostCallSite(Sass_Compiler* compiler, std::string_view text) {
    const std::size_t depth = sass_compiler_get_callee_stack_size(compiler);
    for (std::size_t i = depth; i-- > 0;) {
        Sass_Callee_Entry callee = sass_compiler_get_callee_entry(compiler, i);
        const char* path = sass_callee_get_path(callee);
        if (path && path == TextPath) {
            const TextPlace place = libsassPlace(text, sass_callee_get_line(callee), sass_callee_get_column(callee));
            const TextPlace at = withinLine(text, keywordStart(text, place, {"include"}));
            return {at.line, at.column};
        }
    }
    return {};
}

// Places the @warn and @debug statements libsass placed in the text. libsass
// places a @warn at the last part of its message, with a column that drifts
// right after an interpolation (past the line's end, or onto the next
// statement), and a @debug by its line alone. So the statement is the one on
// that line; of several, the one whose rank among the columns libsass gave
// them matches when it gave each its own, else the last one the column has
// passed.
void placeStatements(std::vector<StderrMessage>& messages, std::string_view text) {
    struct Raw {
        bool statement;
        StderrMessage::Origin origin;
        TextPlace place;
    };
    std::vector<Raw> raw;
    raw.reserve(messages.size());
    for (const StderrMessage& m : messages)
        raw.push_back({m.statement, m.origin, {m.line, m.column}});
    std::vector<TextPlace> statements[2];
    bool scanned[2] = {false, false};
    for (std::size_t i = 0; i < messages.size(); ++i) {
        StderrMessage& m = messages[i];
        if (!m.statement)
            continue;
        const int k = m.origin == StderrMessage::Origin::Warn ? 0 : 1;
        const std::string_view keyword = k == 0 ? "warn" : "debug";
        if (!scanned[k]) {
            statements[k] = statementPlaces(text, keyword);
            scanned[k] = true;
        }
        std::vector<TextPlace> onLine;
        for (const TextPlace& p : statements[k]) {
            if (p.line == m.line)
                onLine.push_back(p);
        }
        TextPlace at;
        if (onLine.empty()) {
            // A message over several lines: libsass names a later one.
            const TextPlace from = withinLine(text, {m.line, m.column ? m.column : 0x7FFFFFFFu});
            at = lastKeywordBefore(text, from, keyword);
        } else if (onLine.size() == 1 || m.column == 0) {
            at = onLine.front();
        } else {
            std::vector<std::uint32_t> columns;
            for (const Raw& r : raw) {
                if (r.statement && r.origin == m.origin && r.place.line == m.line &&
                    std::find(columns.begin(), columns.end(), r.place.column) == columns.end())
                    columns.push_back(r.place.column);
            }
            std::sort(columns.begin(), columns.end());
            if (columns.size() == onLine.size()) {
                at = onLine[std::size_t(std::find(columns.begin(), columns.end(), m.column) - columns.begin())];
            } else {
                at = onLine.front();
                for (const TextPlace& p : onLine) {
                    if (p.column <= m.column)
                        at = p;
                }
            }
        }
        m.line = at.line;
        m.column = at.column;
        m.statement = false;
    }
}

// Our own warnings about the CSS: Sass variables libsass left in it as text.
void addLeftoverVariables(WarningCollector& warnings, const char* css, const std::string& text) {
    if (!css || !std::strchr(css, '$'))
        return;
    std::size_t count = 0;
    const std::vector<LeftoverVariable> found =
        findLeftoverVariables(css, text, warnings.full() ? 0 : WarningCollector::MaxKept, count);
    warnings.skip(count - found.size());
    for (const LeftoverVariable& v : found) {
        std::string message = "WARNING: " + v.name + " is left as text in the CSS of " + v.property +
                              ": libsass copies calc() and custom property values as written. Interpolate the "
                              "Sass part instead, as in calc(#{$a * 2} + 1vw).";
        warnings.add(message, v.place.line, v.place.column);
    }
}

// How long the worker waits for the next request before it hands back what it
// holds: longer than the pauses of typing, short enough that memory returns
// soon after the user stops.
constexpr int IdleReturnMs = 3000;
// What glibc keeps at the top of the heap after the idle return.
constexpr std::size_t IdleReserve = std::size_t(4) << 20;

// libsass allocates and frees a great many small objects per conversion. With
// glibc's defaults the heap is trimmed after each conversion and faulted in
// again by the next one, so freed memory is kept for reuse instead and handed
// back only by returnIdleMemory(), while no one waits for a conversion.
void setUpAllocator() {
#if defined(VANTOR_WORKER_MIMALLOC)
    // Freed pages stay committed until the idle return; purging them sooner
    // costs the next conversion the same page faults again.
    mi_option_set(mi_option_decommit_delay, 24L * 3600 * 1000);
    mi_option_set(mi_option_segment_decommit_delay, 24L * 3600 * 1000);
#else
    // One arena, the main one: a thread of its own would otherwise get a
    // separate mmap'd arena, which is slower. No trimming, and large blocks
    // from the heap rather than from mmap, which would unmap them on free.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_TOP_PAD, 64 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
#endif
}

void returnIdleMemory() {
#if defined(VANTOR_WORKER_MIMALLOC)
    mi_collect(true);
#else
    malloc_trim(IdleReserve);
#endif
}

// Waits until the next request has begun to arrive (or the pipe closed). When
// none comes for IdleReturnMs, the memory kept for reuse goes back to the
// system once, then the wait goes on without a limit.
void awaitRequest(int fd) {
    pollfd p{fd, POLLIN, 0};
    int n;
    while ((n = poll(&p, 1, IdleReturnMs)) < 0 && errno == EINTR) {
    }
    if (n == 0)
        returnIdleMemory();
}

// One conversion with the options the program has always used.
std::string convert(const Request& request) {
    if (!request.input || request.input->empty())
        return encodeResponse(nullptr, nullptr, 0, 0);

    // The data context takes the copy over and frees it.
    Sass_Data_Context* data = sass_make_data_context(sass_copy_c_string(request.input->c_str()));
    Sass_Options* options = sass_data_context_get_options(data);
    Sass_Context* context = sass_data_context_get_context(data);

    const std::int32_t width = request.indent_width;
    std::string indent(static_cast<std::size_t>(width), request.indent_type == VantorCompiler::Tabs ? '\t' : ' ');
    sass_option_set_precision(options, Precision);
    sass_option_set_source_comments(options, false);
    sass_option_set_source_map_embed(options, request.source_map_embed ? 1 : 0);
    sass_option_set_output_style(options, StyleTable[request.output_style]);
    sass_option_set_indent(options, indent.c_str());
    sass_data_context_set_options(data, options);

    const std::string& text = *request.input;
    char cwd[4096];
    const std::string directory = getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string();
    Sass_Compiler* compiler = sass_make_data_compiler(data);
    // As a @warn or @debug begins: its call site in the text, and the files
    // being read at the moment, which its trace may name.
    StderrParser parser(
        directory, WarningCollector::MaxKept,
        [&] {
            const std::size_t imports = sass_compiler_get_import_stack_size(compiler);
            for (std::size_t i = 0; i < imports; ++i) {
                const char* path = sass_import_get_abs_path(sass_compiler_get_import_entry(compiler, i));
                if (path)
                    parser.addTracePath(tracePath(path, directory));
            }
            return innermostCallSite(compiler, text);
        },
        firstLineShift(text));
    parser.addTracePath(std::string(TextPath));
    {
        ChunkCapture capture(parser);
        // The files libsass read, once it has read them all.
        if (sass_compiler_parse(compiler) == 0) {
            for (char** file = sass_context_get_included_files(context); file && *file; ++file)
                parser.addTracePath(tracePath(*file, directory));
        }
        sass_compiler_execute(compiler);
    }
    parser.finish();
    sass_delete_compiler(compiler);

    std::vector<StderrMessage> printed = parser.take();
    placeStatements(printed, text);
    WarningCollector warnings;
    for (const StderrMessage& m : printed) {
        const TextPlace at = withinLine(text, {m.line, m.column});
        warnings.add(m.text, at.line, at.column);
    }
    warnings.skip(parser.count() - printed.size());

    const char* css = sass_context_get_output_string(context);
    const char* error = sass_context_get_error_text(context);
    const bool failed = sass_context_get_error_status(context) != 0;
    TextPlace place =
        failed ? libsassPlace(text, sass_context_get_error_line(context), sass_context_get_error_column(context))
               : TextPlace();
    const char* file = failed ? sass_context_get_error_file(context) : nullptr;
    std::string errorFile;
    std::uint32_t fileLine = 0;
    std::uint32_t fileColumn = 0;
    if (file && file != TextPath) {
        // An error in an imported file: its place in the converted text is the
        // innermost one of libsass's trace, the @import or @include.
        errorFile = file;
        fileLine = static_cast<std::uint32_t>(std::min<std::size_t>(sass_context_get_error_line(context), 0xFFFFFFFFu));
        fileColumn =
            static_cast<std::uint32_t>(std::min<std::size_t>(sass_context_get_error_column(context), 0xFFFFFFFFu));
        place = TextPlace();
        // An error while libsass reads the files leaves them unlisted: the
        // error's own file is one the trace names.
        std::vector<std::string> tracePaths = parser.tracePaths();
        tracePaths.push_back(tracePath(file, directory));
        const char* message = sass_context_get_error_message(context);
        std::uint32_t line = 0;
        std::uint32_t column = 0;
        if (message && error && innermostTextPosition(message, error, tracePaths, line, column))
            place = withinLine(text, keywordStart(text, libsassPlace(text, line, column), {"import", "include"}));
    } else if (failed && place.line == 0 && !file && error && std::string_view(error) == "Invalid code point") {
        place = invalidCodePointEscape(text);
    }
    const std::uint32_t line = place.line;
    const std::uint32_t column = place.column;
    if (!failed)
        addLeftoverVariables(warnings, css, *request.input);

    std::string frame = encodeResponse(css, error, line, column, errorFile.empty() ? nullptr : errorFile.c_str(),
                                       warnings.take(), fileLine, fileColumn);
    sass_delete_data_context(data);
    return frame;
}

// Request, conversion, response, until the library closes the pipe. Anything
// malformed ends the process: the library reports it like a crash.
void* serve(void*) {
    std::string payload;
    for (;;) {
        awaitRequest(requestFd);
        unsigned char header[HeaderSize];
        if (!readAll(requestFd, header, HeaderSize))
            return nullptr;
        const std::uint32_t size = payloadLength(header);
        if (size > MaxPayload)
            _exit(2);
        payload.resize(size);
        if (!readAll(requestFd, reinterpret_cast<unsigned char*>(&payload[0]), size))
            return nullptr;
        Request request;
        if (!decodeRequest(reinterpret_cast<const unsigned char*>(payload.data()), size, request) ||
            request.output_style < VantorCompiler::Nested || request.output_style > VantorCompiler::Compressed || request.indent_width < 0 ||
            request.indent_width > VantorCompiler::MaxIndentWidth)
            _exit(2);
        payload.clear();
        payload.shrink_to_fit();
        // Relative @imports resolve against the program's directory of the moment,
        // as they did when libsass ran inside the program.
        if (chdir(programCwd.c_str()) != 0) {
            // Gone or unreachable: keep the last one.
        }
        const std::string response = convert(request);
        if (!writeAll(responseFd, response.data(), response.size()))
            return nullptr;
    }
}

// Ends this process with the program's: a pidfd of the program turns
// readable when its last thread has ended. Not PR_SET_PDEATHSIG, which fires
// when the thread that started the worker ends. Where pidfds are not to be
// had, the parent is looked at a few times a second instead.
void* watchProgram(void*) {
    for (;;) {
        if (programFd >= 0) {
            pollfd p{programFd, POLLIN, 0};
            if (poll(&p, 1, -1) > 0)
                break;
        } else {
            const timespec pause{0, 200000000};
            nanosleep(&pause, nullptr);
            if (getppid() != program)
                break;
        }
    }
    raise(SIGKILL);
    return nullptr;
}

bool startThread(void* (*run)(void*), std::size_t stackSize) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackSize);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attr, run, nullptr) == 0;
    pthread_attr_destroy(&attr);
    if (started)
        pthread_detach(thread);
    return started;
}

}  // namespace

int main(int argc, char** argv) {
    setUpAllocator();
    // Only the program that started it, while it lives: a pidfd opened before
    // the parent is checked is the parent's own.
    if (argc < 2)
        return 1;
    program = static_cast<pid_t>(std::strtol(argv[1], nullptr, 10));
    if (program <= 1)
        return 1;
    programFd = static_cast<int>(syscall(SYS_pidfd_open, program, 0));
    if (getppid() != program)
        return 1;
    programCwd = std::string("/proc/") + argv[1] + "/cwd";

    // A crash of libsass is reported from its signal; a core file would only
    // fill the program's directory and slow the answer.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);

#if !defined(VANTOR_WORKER_ASAN)
    // Runaway stylesheets make libsass fail with "Unable to allocate memory"
    // instead of taking the machine's memory. AddressSanitizer reserves far more
    // address space than this for its shadow, so it runs without the cap.
    const rlimit limit{AddressSpaceLimit, AddressSpaceLimit};
    setrlimit(RLIMIT_AS, &limit);
#endif

    // The pipes are on 3 and 4, off the standard descriptors: libsass writes
    // to the standard streams, and an @import of /dev/stdin must not read
    // requests. Nothing started from here inherits them.
    if (fcntl(requestFd, F_SETFD, FD_CLOEXEC) != 0 || fcntl(responseFd, F_SETFD, FD_CLOEXEC) != 0)
        return 1;
    signal(SIGPIPE, SIG_IGN);

    if (!startThread(watchProgram, WatchStackSize))
        return 1;
    // libsass recurses once per nesting level; a large stack lets deep but
    // finite stylesheets convert. Without the address space for it (a small
    // ulimit -v) the worker cannot run; the library sees it end before it read
    // the request and says so.
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, StackSize);
    pthread_t thread;
    if (pthread_create(&thread, &attr, serve, nullptr) != 0)
        return 1;
    pthread_attr_destroy(&attr);
    pthread_join(thread, nullptr);
    return 0;
}
