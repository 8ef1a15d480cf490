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
#include "VantorCompiler.h"

#include <sass.h>

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

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

namespace {

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

bool readAll(int fd, unsigned char* data, std::size_t size) {
    while (size) {
        const ssize_t n = read(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
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
    std::string indent(static_cast<std::size_t>(width), request.indent_type == 1 ? '\t' : ' ');
    sass_option_set_precision(options, Precision);
    sass_option_set_source_comments(options, false);
    sass_option_set_source_map_embed(options, request.source_map_embed ? 1 : 0);
    sass_option_set_output_style(options, StyleTable[request.output_style]);
    sass_option_set_indent(options, indent.c_str());
    sass_data_context_set_options(data, options);

    Sass_Compiler* compiler = sass_make_data_compiler(data);
    sass_compiler_parse(compiler);
    sass_compiler_execute(compiler);
    sass_delete_compiler(compiler);

    const char* error = sass_context_get_error_text(context);
    const bool failed = sass_context_get_error_status(context) != 0;
    std::string frame = encodeResponse(sass_context_get_output_string(context), error,
                                       failed ? static_cast<std::uint32_t>(sass_context_get_error_line(context)) : 0,
                                       failed ? static_cast<std::uint32_t>(sass_context_get_error_column(context)) : 0);
    sass_delete_data_context(data);
    return frame;
}

// Request, conversion, response, until the library closes the pipe. Anything
// malformed ends the process: the library reports it like a crash.
void* serve(void*) {
    std::string payload;
    for (;;) {
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
            request.output_style < 0 || request.output_style > 3 || request.indent_width < 0 ||
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
    if (programFd >= 0)
        fcntl(programFd, F_SETFD, FD_CLOEXEC);
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

    // One arena, the main one, as libsass has inside the program: a thread of
    // its own would otherwise get a separate mmap'd arena, which is slower.
    mallopt(M_ARENA_MAX, 1);

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
