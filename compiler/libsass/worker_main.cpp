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
#include "SourceScan.h"
#include "StderrParser.h"
#include "VantorCompiler.h"
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
#include <sys/mman.h>
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

// libsass writes its own warnings to standard error. During a conversion that
// descriptor is a memory file, read back afterwards; captureFd stays open
// between conversions and is emptied before each.
int captureFd = -1;
// Bytes of standard error parsed at a time.
constexpr std::size_t CaptureChunk = std::size_t(256) << 10;
// The most of it one conversion may write.
constexpr rlim_t CaptureLimit = rlim_t(16) << 20;

class StderrCapture {
public:
    StderrCapture() {
        if (captureFd < 0)
            captureFd = memfd_create("vantor-stderr", MFD_CLOEXEC);
        if (captureFd < 0 || ftruncate(captureFd, 0) != 0 || lseek(captureFd, 0, SEEK_SET) != 0)
            return;
        std::cerr.flush();
        std::fflush(stderr);
        // With standard error closed there is nothing to restore; with it open
        // but not copyable, it is left alone.
        const bool open = fcntl(2, F_GETFD) != -1;
        saved_ = open ? fcntl(2, F_DUPFD_CLOEXEC, 3) : -1;
        if (open && saved_ < 0)
            return;
        active_ = dup2(captureFd, 2) == 2;
        if (!active_ && saved_ >= 0) {
            close(saved_);
            saved_ = -1;
        }
    }
    ~StderrCapture() { stop(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    bool active() const { return active_; }
    // Bytes written so far; with std::cerr unbuffered, all of libsass's so far.
    std::size_t written() const {
        const off_t at = active_ ? lseek(captureFd, 0, SEEK_CUR) : 0;
        return at > 0 ? static_cast<std::size_t>(at) : 0;
    }
    void stop() {
        if (!active_)
            return;
        std::cerr.flush();
        std::cerr.clear();
        std::fflush(stderr);
        if (saved_ >= 0) {
            dup2(saved_, 2);
            close(saved_);
        } else {
            close(2);
        }
        saved_ = -1;
        active_ = false;
    }

private:
    int saved_ = -1;
    bool active_ = false;
};

struct PendingWarning {
    std::size_t offset;  // standard error written before it
    std::string text;
    std::uint32_t line;
    std::uint32_t column;
};

// What the @warn and @debug functions see of the conversion.
struct WarningSink {
    const std::string* text = nullptr;
    const StderrCapture* capture = nullptr;
    std::vector<PendingWarning> kept;  // the first ones, in order
    std::size_t count = 0;             // all of them
};

struct WarningFunction {
    const char* keyword;
    const char* prefix;
    WarningSink* sink;
};

// Paths below the working directory as libsass prints them, relative.
std::string consolePath(const char* path) {
    std::string p = path ? path : "";
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) {
        std::string dir = std::string(cwd) + "/";
        if (p.compare(0, dir.size(), dir) == 0)
            p.erase(0, dir.size());
    }
    return p;
}

// The message of @warn or @debug as libsass would print it.
std::string messageText(const Sass_Value* value) {
    if (!value)
        return std::string();
    if (sass_value_is_string(value))
        return sass_string_get_value(value) ? sass_string_get_value(value) : "";
    Sass_Value* text = sass_value_stringify(value, false, Precision);
    std::string result = text && sass_value_is_string(text) && sass_string_get_value(text)
                             ? sass_string_get_value(text)
                             : "";
    if (text)
        sass_delete_value(text);
    return result;
}

// Overrides @warn and @debug: keeps the message and the innermost place of the
// call chain in the converted text.
Sass_Value* warningFunction(const Sass_Value* args, Sass_Function_Entry entry, Sass_Compiler* compiler) {
    const auto* function = static_cast<const WarningFunction*>(sass_function_get_cookie(entry));
    WarningSink& sink = *function->sink;
    if (sink.count++ >= WarningCollector::MaxKept)
        return sass_make_null();
    PendingWarning w{sink.capture->written(), function->prefix, 0, 0};
    w.text += messageText(sass_list_get_length(args) > 0 ? sass_list_get_value(args, 0) : nullptr);
    const std::size_t depth = sass_compiler_get_callee_stack_size(compiler);
    for (std::size_t i = depth; i-- > 0;) {
        Sass_Callee_Entry callee = sass_compiler_get_callee_entry(compiler, i);
        const char* path = sass_callee_get_path(callee);
        if (path && path == TextPath) {
            const TextPlace place{static_cast<std::uint32_t>(sass_callee_get_line(callee)),
                                  static_cast<std::uint32_t>(sass_callee_get_column(callee))};
            // The @warn or @debug itself, else the @include or call that leads to it.
            const TextPlace at = i + 1 == depth ? lastKeywordBefore(*sink.text, place, function->keyword)
                                                : keywordStart(*sink.text, place, {"include"});
            w.line = at.line;
            w.column = at.column;
            break;
        }
    }
    if (w.line == 0 && depth > 0) {
        Sass_Callee_Entry callee = sass_compiler_get_callee_entry(compiler, depth - 1);
        w.text += otherFilePlace(sass_callee_get_line(callee), consolePath(sass_callee_get_path(callee)));
    }
    sink.kept.push_back(std::move(w));
    return sass_make_null();
}

// libsass's messages on standard error, read back in chunks that end at a
// blank line: the first ones kept, all counted.
void readCaptured(std::vector<StderrMessage>& kept, std::size_t& count, std::size_t size) {
    char cwd[4096];
    const std::string_view directory = getcwd(cwd, sizeof cwd) ? std::string_view(cwd) : std::string_view();
    std::string buffer;
    std::size_t base = 0;  // offset of buffer[0]
    std::size_t readTo = 0;
    while (readTo < size || !buffer.empty()) {
        if (readTo < size) {
            const std::size_t want = std::min(CaptureChunk, size - readTo);
            const std::size_t old = buffer.size();
            buffer.resize(old + want);
            const ssize_t n = pread(captureFd, &buffer[old], want, static_cast<off_t>(readTo));
            if (n <= 0) {
                buffer.resize(old);
                size = readTo;
            } else {
                buffer.resize(old + static_cast<std::size_t>(n));
                readTo += static_cast<std::size_t>(n);
            }
        }
        std::size_t end = buffer.size();
        if (readTo < size) {
            const std::size_t blank = buffer.rfind("\n\n");
            if (blank != std::string::npos)
                end = blank + 2;
            else if (buffer.size() < 4 * CaptureChunk)
                continue;  // one message longer than a chunk: read on
        }
        for (StderrMessage& m : parseStderr(std::string_view(buffer).substr(0, end), directory)) {
            if (count++ < WarningCollector::MaxKept) {
                m.offset += base;
                kept.push_back(std::move(m));
            }
        }
        buffer.erase(0, end);
        base += end;
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

    StderrCapture capture;
    WarningSink sink;
    sink.text = &*request.input;
    sink.capture = &capture;
    WarningFunction warn{"warn", "WARNING: ", &sink};
    WarningFunction debug{"debug", "DEBUG: ", &sink};
    // The options own the list and its entries from here on.
    Sass_Function_List functions = sass_make_function_list(2);
    sass_function_set_list_entry(functions, 0, sass_make_function("@warn($message)", warningFunction, &warn));
    sass_function_set_list_entry(functions, 1, sass_make_function("@debug($message)", warningFunction, &debug));
    sass_option_set_c_functions(options, functions);
    sass_data_context_set_options(data, options);

    Sass_Compiler* compiler = sass_make_data_compiler(data);
    sass_compiler_parse(compiler);
    sass_compiler_execute(compiler);
    sass_delete_compiler(compiler);

    const std::size_t written = capture.written();
    const bool captured = capture.active();
    capture.stop();
    std::vector<StderrMessage> printed;
    std::size_t printedCount = 0;
    if (captured && written > 0) {
        readCaptured(printed, printedCount, written);
        // Give the memory back until the next conversion.
        if (ftruncate(captureFd, 0) != 0) {
            // Emptied again before the next conversion anyway.
        }
    }

    // Both kinds in the order they arose: a message printed before a @warn ran
    // began before the offset that @warn saw.
    WarningCollector warnings;
    std::size_t w = 0;
    std::size_t p = 0;
    while (!warnings.full() && (w < sink.kept.size() || p < printed.size())) {
        if (p < printed.size() && (w == sink.kept.size() || printed[p].offset < sink.kept[w].offset)) {
            warnings.add(printed[p].text, printed[p].line, printed[p].column);
            ++p;
        } else {
            warnings.add(sink.kept[w].text, sink.kept[w].line, sink.kept[w].column);
            ++w;
        }
    }
    warnings.skip(sink.count - w + printedCount - p);

    const char* css = sass_context_get_output_string(context);
    const char* error = sass_context_get_error_text(context);
    const bool failed = sass_context_get_error_status(context) != 0;
    std::uint32_t line = failed ? static_cast<std::uint32_t>(sass_context_get_error_line(context)) : 0;
    std::uint32_t column = failed ? static_cast<std::uint32_t>(sass_context_get_error_column(context)) : 0;
    const char* file = failed ? sass_context_get_error_file(context) : nullptr;
    std::string errorFile;
    std::uint32_t fileLine = 0;
    std::uint32_t fileColumn = 0;
    if (file && file != TextPath) {
        // An error in an imported file: its place in the converted text is the
        // innermost one of libsass's trace, the @import or @include.
        errorFile = file;
        fileLine = line;
        fileColumn = column;
        line = 0;
        column = 0;
        const char* message = sass_context_get_error_message(context);
        if (message && innermostTextPosition(message, line, column)) {
            const TextPlace at = keywordStart(*request.input, {line, column}, {"import", "include"});
            line = at.line;
            column = at.column;
        }
    }
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
    // libsass's warnings go to a memory file, which the address-space cap does
    // not count: a loop that warns on every pass would fill memory until the
    // CPU budget ends it. Past this size writes fail (EFBIG, no signal) and the
    // rest of that conversion's printed warnings are dropped.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit captureLimit{CaptureLimit, CaptureLimit};
    setrlimit(RLIMIT_FSIZE, &captureLimit);

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
