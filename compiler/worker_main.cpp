// vantor-compiler-worker: runs libsass for Vantor.Compiler, out of the program's way.
//
// Started by the library with the request pipe on fd 0, the response pipe on
// fd 1 and the program's pid as the only argument. Works in the program's
// current directory, followed before every conversion. Serves one conversion at a
// time until the request pipe closes. libsass may loop forever, exhaust memory
// or crash on some inputs; the library times out or reaps this process then,
// so here nothing is guarded beyond keeping each failure inside this process.
#include "Framing.h"
#include "VantorCompiler.h"

#include <sass.h>

#if defined(VANTOR_WORKER_MIMALLOC)
#include <mimalloc.h>
#endif

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
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

using namespace VantorCompiler::framing;

constexpr std::size_t StackSize = std::size_t(256) << 20;
constexpr rlim_t AddressSpaceLimit = rlim_t(2) << 30;
constexpr int Precision = 10;

// Output style code to libsass style: code 1 is compact and code 2 expanded.
const Sass_Output_Style StyleTable[4] = {
    SASS_STYLE_NESTED,
    SASS_STYLE_COMPACT,
    SASS_STYLE_EXPANDED,
    SASS_STYLE_COMPRESSED,
};

int requestFd = -1;
int responseFd = -1;
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

}  // namespace

int main(int argc, char** argv) {
    setUpAllocator();
    // Die with the program; if it is already gone, there is no one to serve.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc < 2 || getppid() != static_cast<pid_t>(std::strtol(argv[1], nullptr, 10)))
        return 1;
    programCwd = std::string("/proc/") + argv[1] + "/cwd";

#if !defined(VANTOR_WORKER_ASAN)
    // Runaway stylesheets make libsass fail with "Unable to allocate memory"
    // instead of taking the machine's memory. AddressSanitizer reserves far more
    // address space than this for its shadow, so it runs without the cap.
    const rlimit limit{AddressSpaceLimit, AddressSpaceLimit};
    setrlimit(RLIMIT_AS, &limit);
#endif

    // Keep the pipes off the standard descriptors: libsass writes warnings to the
    // standard streams, and an @import of /dev/stdin must not read requests.
    requestFd = fcntl(0, F_DUPFD_CLOEXEC, 3);
    responseFd = fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (requestFd < 0 || responseFd < 0)
        return 1;
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, 0);
        close(null);
    }
    dup2(2, 1);
    signal(SIGPIPE, SIG_IGN);

    // libsass recurses once per nesting level; a large stack lets deep but
    // finite stylesheets convert.
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
