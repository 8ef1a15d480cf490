#include "WorkerProcess.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

extern char** environ;

namespace VantorCompiler {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using std::chrono::steady_clock;

const char* const WorkerName = "vantor-compiler-worker";

// The descriptors the worker finds its request and response pipes on.
constexpr int WorkerRequestFd = 3;
constexpr int WorkerResponseFd = 4;
// The lowest descriptor the pipes are kept at here, so that placing them on
// 3 and 4 in the worker never overwrites one with the other.
constexpr int FirstFreeFd = 5;
// The capacity asked for each pipe: 1 MiB, what an unprivileged process may have.
constexpr int PipeCapacity = 1 << 20;

// Below this address-space limit the worker cannot start: its conversion
// thread alone takes a 256 MiB stack.
constexpr rlim_t WorkerAddressSpace = rlim_t(512) << 20;

// How often a wait for the worker looks at its CPU clock.
constexpr milliseconds MeterInterval{250};
// Less CPU time than this within the backstop is no progress: a worker blocked
// on a pipe or stopped, not one that converts slowly on a busy machine.
constexpr milliseconds ProgressQuantum{50};

// Any address inside this library, for dladdr.
void libraryAnchor() {}

bool isExecutable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

void closeFd(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Moves fd to FirstFreeFd or above, close-on-exec.
int aboveWorkerFds(int fd) {
    if (fd >= FirstFreeFd)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, FirstFreeFd);
    close(fd);
    return moved;
}

std::string describe(int status) {
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        if (const char* abbrev = sigabbrev_np(sig))
            return std::string("SIG") + abbrev;
        return "signal " + std::to_string(sig);
    }
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    return "unknown status";
}

// The absolute path of this library's file: the loader's name for it when
// that is absolute, else the kernel's from /proc/self/maps (a library found
// through a relative search path has a relative name). Empty when unknown.
std::string libraryFile() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&libraryAnchor), &info) && info.dli_fname && info.dli_fname[0] == '/')
        return info.dli_fname;
    const auto anchor = reinterpret_cast<std::uintptr_t>(&libraryAnchor);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        unsigned long long from = 0, to = 0;
        int pathAt = -1;
        if (std::sscanf(line.c_str(), "%llx-%llx %*s %*s %*s %*s %n", &from, &to, &pathAt) < 2 || pathAt < 0)
            continue;
        if (anchor >= from && anchor < to && line.size() > std::size_t(pathAt) && line[std::size_t(pathAt)] == '/')
            return line.substr(std::size_t(pathAt));
    }
    return {};
}

// The worker beside this library, else in ../libexec relative to it; found
// once, as an absolute path. Empty when this library's own place is unknown.
const std::string& installedWorker() {
    static const std::string path = [] {
        const std::string library = libraryFile();
        const std::size_t slash = library.rfind('/');
        if (slash == std::string::npos)
            return std::string();
        const std::string dir = library.substr(0, slash);
        const std::string beside = dir + "/" + WorkerName;
        const std::string installed = dir + "/../libexec/" + WorkerName;
        return isExecutable(beside) || !isExecutable(installed) ? beside : installed;
    }();
    return path;
}

// The worker to start: $VANTOR_COMPILER_WORKER, else the installed one. Only
// absolute paths: a relative one would run whatever file the current directory
// holds under that name. False with problem set when there is none.
bool workerPath(std::string& path, std::string& problem) {
    if (const char* value = std::getenv("VANTOR_COMPILER_WORKER"); value && *value) {
        path = value;
        if (path[0] != '/') {
            problem = "VANTOR_COMPILER_WORKER is not an absolute path: " + path;
            return false;
        }
        return true;
    }
    path = installedWorker();
    if (path.empty()) {
        problem = std::string("the place of its library is unknown, so ") + WorkerName + " cannot be found";
        return false;
    }
    return true;
}

// The address-space limit (ulimit -v) when it is too small for the worker, else 0.
rlim_t smallAddressSpaceLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= WorkerAddressSpace)
        return 0;
    return limit.rlim_cur;
}

std::string addressSpaceProblem(rlim_t limit) {
    return "the address-space limit (ulimit -v) of " + std::to_string(limit >> 20) +
           " MB is too small for it to start";
}

// With SIGCHLD ignored the system reaps the worker by itself, so how it ended
// is lost (and its pid may soon be another process's: signals go through a
// pidfd).
bool sigchldIgnored() {
    struct sigaction action {};
    if (sigaction(SIGCHLD, nullptr, &action) != 0)
        return false;
    return action.sa_handler == SIG_IGN || (action.sa_flags & SA_NOCLDWAIT) != 0;
}

// How a worker ended that was reaped elsewhere.
std::string unknownEnd() {
    return sigchldIgnored() ? "how it ended is unknown: this program ignores SIGCHLD" : "how it ended is unknown";
}

// Blocks SIGPIPE for the calling thread while it writes to a pipe whose reader
// may be gone, and discards a SIGPIPE raised meanwhile, so the write fails with
// EPIPE instead of ending the program. A SIGPIPE already pending before is left.
class SigpipeBlock {
public:
    SigpipeBlock() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~SigpipeBlock() {
        if (raised && !wasPending_) {
            const timespec zero{0, 0};
            while (sigtimedwait(&pipe_, nullptr, &zero) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

    bool raised = false;

private:
    sigset_t pipe_;
    sigset_t old_;
    bool wasPending_ = false;
};

}  // namespace

// Keeps one exchange within its budget: the worker's CPU time since the
// exchange began, and the wall clock as a backstop for a worker that makes no
// progress, measured from the last time its CPU clock moved on noticeably.
class WorkerProcess::Meter {
public:
    Meter(const WorkerProcess& worker, Budget budget)
        : worker_(worker), budget_(budget), start_(used()), progressAt_(steady_clock::now()) {}

    enum class Wait { Ready, OverBudget, Stalled };

    // Waits until fd is ready for events or the budget runs out.
    Wait waitFor(int fd, short events) {
        for (;;) {
            const nanoseconds spent = used() - start_;
            if (spent >= budget_.cpu)
                return Wait::OverBudget;
            const auto now = steady_clock::now();
            if (spent - progressCpu_ >= ProgressQuantum) {
                progressCpu_ = spent;
                progressAt_ = now;
            }
            const auto deadline = progressAt_ + budget_.wall;
            if (now >= deadline)
                return Wait::Stalled;
            // The worker converts on one thread, so it cannot use up what is
            // left of its CPU budget sooner than that much wall-clock time.
            const nanoseconds wait =
                std::min({budget_.cpu - spent, nanoseconds(deadline - now), nanoseconds(MeterInterval)});
            const int ms =
                static_cast<int>(std::max<milliseconds::rep>(1, std::chrono::ceil<milliseconds>(wait).count()));
            pollfd p{fd, events, 0};
            const int n = poll(&p, 1, ms);
            if (n > 0 || (n < 0 && errno != EINTR))
                return Wait::Ready;  // let the read or write report any problem
        }
    }

private:
    nanoseconds used() const {
        timespec t{};
        if (!worker_.haveCpuClock_ || clock_gettime(worker_.cpuClock_, &t) != 0)
            return nanoseconds(0);  // gone: the next read or write tells
        return std::chrono::seconds(t.tv_sec) + nanoseconds(t.tv_nsec);
    }

    const WorkerProcess& worker_;
    const Budget budget_;
    const nanoseconds start_;
    nanoseconds progressCpu_{0};
    steady_clock::time_point progressAt_;
};

WorkerProcess::~WorkerProcess() {
    dropInherited();
    if (pid_ >= 0)
        killWorker();
    forget();
}

WorkerProcess::Exchange WorkerProcess::exchange(const std::string& frame, Budget budget) {
    Exchange result;
    dropInherited();
    // Any way out of an exchange but a whole, well-formed reply ends the worker,
    // an exception included: the rest of what it wrote is never read.
    struct Discard {
        WorkerProcess* worker;
        ~Discard() {
            if (worker && worker->pid_ >= 0) {
                try {
                    worker->stop(true);
                } catch (...) {
                }
            }
        }
    };

    for (int attempt = 0;; ++attempt) {
        // idle() forgets a worker that ended; one still running that is not
        // idle is ended here. Either way a fresh one starts, silently.
        if (pid_ >= 0 && !idle() && pid_ >= 0)
            stop(true);
        const bool fresh = pid_ < 0;
        if (fresh && !start(result))
            return result;

        Discard discard{this};
        const Step step = talk(frame, budget, result.response);
        bool killedHere = false;
        switch (step) {
        case Step::Ok:  // answered
            discard.worker = nullptr;
            result.outcome = Outcome::Answered;
            return result;
        case Step::NotTaken: {
            // It ended, or stopped reading, before it had the whole request:
            // the text did not cause it.
            const std::string how = stop(false, &killedHere);
            if (!fresh && attempt == 0)
                continue;  // ended while idle: once more with a fresh worker
            result.outcome = Outcome::CannotRun;
            if (const rlim_t limit = smallAddressSpaceLimit())
                result.detail = addressSpaceProblem(limit);
            else if (killedHere)
                result.detail = "its process stopped reading the text";
            else
                result.detail = "its process ended before it read the text (" + how + ")";
            return result;
        }
        case Step::Ended:
            result.outcome = Outcome::Died;
            result.detail = stop(false);
            return result;
        case Step::OverBudget:
            result.outcome = Outcome::TimedOut;
            return result;
        case Step::Stalled:
            result.outcome = Outcome::Stalled;
            return result;
        case Step::Malformed:
            result.outcome = Outcome::Died;
            result.detail = "an unreadable reply";
            return result;
        }
        return result;
    }
}

bool WorkerProcess::start(Exchange& result) {
    std::string path;
    if (!workerPath(path, result.detail)) {
        result.outcome = Outcome::NotStarted;
        return false;
    }
    const auto fail = [&](int error) {
        const rlim_t limit = smallAddressSpaceLimit();
        if (error == ENOMEM && limit) {
            result.outcome = Outcome::CannotRun;
            result.detail = addressSpaceProblem(limit);
        } else {
            result.outcome = Outcome::NotStarted;
            result.detail = path + ": " + std::strerror(error);
        }
        return false;
    };

    int request[2];
    int response[2];
    if (pipe2(request, O_CLOEXEC) != 0)
        return fail(errno);
    if (pipe2(response, O_CLOEXEC) != 0) {
        const int error = errno;
        close(request[0]);
        close(request[1]);
        return fail(error);
    }
    // A pipe holds 64 KiB by default, so a big stylesheet and its CSS would
    // cross in many turns, each a wake-up of the other side. A bigger one (the
    // system may refuse it: then the default stays) takes most in one write.
    for (int fd : {request[1], response[1]})
        fcntl(fd, F_SETPIPE_SZ, PipeCapacity);
    for (int* fd : {&request[0], &request[1], &response[0], &response[1]})
        *fd = aboveWorkerFds(*fd);
    if (std::min({request[0], request[1], response[0], response[1]}) < 0) {
        const int error = errno;
        for (int fd : {request[0], request[1], response[0], response[1]})
            if (fd >= 0)
                close(fd);
        return fail(error);
    }

    // The worker gets its two pipes on 3 and 4, /dev/null as standard input and
    // output (so nothing printed there can reach the protocol), the program's
    // standard error, and nothing else the program has open.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, request[0], WorkerRequestFd);
    posix_spawn_file_actions_adddup2(&actions, response[1], WorkerResponseFd);
    posix_spawn_file_actions_addclosefrom_np(&actions, FirstFreeFd);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The caller may have blocked or ignored signals; the worker starts clean.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const std::string parent = std::to_string(getpid());
    char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(parent.c_str()), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, path.c_str(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(request[0]);
    close(response[1]);
    if (rc != 0) {
        close(request[1]);
        close(response[0]);
        return fail(rc);
    }
    pid_ = pid;
    // A handle on the worker that never names another process, even after the
    // system reaped it behind this library's back (SIGCHLD ignored).
    pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    owner_ = getpid();
    requestFd_ = request[1];
    responseFd_ = response[0];
    haveCpuClock_ = clock_getcpuclockid(pid_, &cpuClock_) == 0;
    fcntl(requestFd_, F_SETFL, fcntl(requestFd_, F_GETFL) | O_NONBLOCK);
    fcntl(responseFd_, F_SETFL, fcntl(responseFd_, F_GETFL) | O_NONBLOCK);
    return true;
}

bool WorkerProcess::idle() {
    // Ended while idle (killed from outside, say). ECHILD: reaped elsewhere.
    int status;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno == ECHILD)) {
        forget();
        return false;
    }
    // An idle worker has nothing to say: anything readable now, bytes or the
    // end of its pipe, would be taken for the next answer.
    pollfd p{responseFd_, POLLIN, 0};
    return poll(&p, 1, 0) == 0;
}

WorkerProcess::Step WorkerProcess::talk(const std::string& frame, Budget budget, framing::Response& response) {
    Meter meter(*this, budget);
    Step step = send(frame, meter);
    if (step != Step::Ok)
        return step;
    std::string payload;
    step = receive(payload, meter);
    if (step != Step::Ok)
        return step;
    if (!framing::decodeResponse(reinterpret_cast<const unsigned char*>(payload.data()), payload.size(), response))
        return Step::Malformed;
    return Step::Ok;
}

WorkerProcess::Step WorkerProcess::send(const std::string& frame, Meter& meter) {
    SigpipeBlock block;
    const char* data = frame.data();
    std::size_t left = frame.size();
    while (left) {
        const ssize_t n = write(requestFd_, data, left);
        if (n > 0) {
            data += n;
            left -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            switch (meter.waitFor(requestFd_, POLLOUT)) {
            case Meter::Wait::Ready:
                continue;
            case Meter::Wait::OverBudget:
                return Step::OverBudget;
            case Meter::Wait::Stalled:
                return Step::Stalled;
            }
        }
        block.raised = n < 0 && errno == EPIPE;
        return Step::NotTaken;  // the worker closed its end before taking it all
    }
    return Step::Ok;
}

WorkerProcess::Step WorkerProcess::receive(std::string& payload, Meter& meter) {
    unsigned char header[framing::HeaderSize];
    std::size_t headerGot = 0;
    std::size_t announced = 0;
    // The payload grows with what arrives, never ahead of it from the header.
    char chunk[64 * 1024];
    for (;;) {
        char* into;
        std::size_t want;
        if (headerGot < framing::HeaderSize) {
            into = reinterpret_cast<char*>(header) + headerGot;
            want = framing::HeaderSize - headerGot;
        } else {
            if (payload.size() == announced)
                return Step::Ok;
            into = chunk;
            want = std::min(sizeof chunk, announced - payload.size());
        }
        const ssize_t n = read(responseFd_, into, want);
        if (n > 0) {
            if (headerGot < framing::HeaderSize) {
                headerGot += static_cast<std::size_t>(n);
                if (headerGot == framing::HeaderSize) {
                    const std::uint32_t length = framing::payloadLength(header);
                    if (length > framing::MaxPayload)
                        return Step::Malformed;
                    announced = length;
                }
            } else {
                payload.append(chunk, static_cast<std::size_t>(n));
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            switch (meter.waitFor(responseFd_, POLLIN)) {
            case Meter::Wait::Ready:
                continue;
            case Meter::Wait::OverBudget:
                return Step::OverBudget;
            case Meter::Wait::Stalled:
                return Step::Stalled;
            }
        }
        if (n == 0 && headerGot == 0) {
            // Gone without a word: had it taken the whole request?
            int unread = 0;
            if (ioctl(requestFd_, FIONREAD, &unread) == 0 && unread > 0)
                return Step::NotTaken;
        }
        return Step::Ended;
    }
}

std::string WorkerProcess::stop(bool killNow, bool* killedHere) {
    closeFd(requestFd_);
    closeFd(responseFd_);
    int status = 0;
    if (killedHere)
        *killedHere = false;
    if (pid_ < 0) {
        forget();
        return "unknown status";
    }
    if (!killNow) {
        // The worker closed its pipe, so it is on its way out: give it a moment
        // to end by itself and so report its own signal or exit status.
        const auto deadline = steady_clock::now() + milliseconds(500);
        for (;;) {
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_ || (r < 0 && errno != EINTR)) {
                const bool known = r == pid_;
                forget();
                return known ? describe(status) : unknownEnd();
            }
            if (steady_clock::now() >= deadline)
                break;
            const timespec pause{0, 1000000};
            nanosleep(&pause, nullptr);
        }
        if (killedHere)
            *killedHere = true;
    }
    killWorker();
    pid_t r;
    while ((r = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    forget();
    return r == pid_ ? describe(status) : unknownEnd();
}

void WorkerProcess::killWorker() {
    // Through the pidfd only, when there is one: with SIGCHLD ignored the
    // system may have reaped the worker already, and its bare pid may then
    // name another process.
    if (pidFd_ >= 0)
        syscall(SYS_pidfd_send_signal, pidFd_, SIGKILL, nullptr, 0);
    else
        kill(pid_, SIGKILL);
}

void WorkerProcess::forget() {
    closeFd(requestFd_);
    closeFd(responseFd_);
    closeFd(pidFd_);
    pid_ = -1;
    owner_ = -1;
    haveCpuClock_ = false;
}

void WorkerProcess::dropInherited() {
    // After a fork the child holds copies of the parent's pipes to the parent's
    // worker: close the copies, leave the worker to its parent, start afresh.
    if (pid_ >= 0 && owner_ != getpid())
        forget();
}

}  // namespace VantorCompiler
