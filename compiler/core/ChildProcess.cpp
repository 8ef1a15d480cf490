#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace VantorCompiler {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// The lowest descriptor the pipes are kept at here, above every descriptor a
// child gets them on, so that placing them never overwrites one with another.
constexpr int FirstFreeFd = 5;
// The capacity asked for each pipe: 1 MiB, what an unprivileged process may have.
constexpr int PipeCapacity = 1 << 20;
// What is kept of a child's standard error; the rest is read and dropped.
constexpr std::size_t MaxErrorText = 4096;

void closeFd(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Moves fd to FirstFreeFd or above, close-on-exec.
int aboveChildFds(int fd) {
    if (fd < 0 || fd >= FirstFreeFd)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, FirstFreeFd);
    close(fd);
    return moved;
}

void setNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// With SIGCHLD ignored the system reaps the child by itself, so how it ended
// is lost (and its pid may soon be another process's: signals go through a
// pidfd).
bool sigchldIgnored() {
    struct sigaction action {};
    if (sigaction(SIGCHLD, nullptr, &action) != 0)
        return false;
    return action.sa_handler == SIG_IGN || (action.sa_flags & SA_NOCLDWAIT) != 0;
}

// How a child ended that was reaped elsewhere.
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

std::string describeStatus(int status) {
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

ChildProcess::~ChildProcess() {
    dropInherited();
    if (pid_ >= 0)
        signalKill();
    forget();
}

int ChildProcess::start(const Spawn& spawn) {
    // Below the highest descriptor the child gets, each one is a pipe, a
    // standard stream, or /dev/null: nothing of this process leaks there.
    const int highest = std::max({spawn.requestFd, spawn.responseFd, 2});
    if (spawn.requestFd == spawn.responseFd || spawn.requestFd < 0 || spawn.responseFd < 0 ||
        highest >= FirstFreeFd || spawn.requestFd == 2 || spawn.responseFd == 2)
        return EINVAL;
    for (int fd = 3; fd <= highest; ++fd)
        if (fd != spawn.requestFd && fd != spawn.responseFd)
            return EINVAL;

    int request[2] = {-1, -1};
    int response[2] = {-1, -1};
    int errors[2] = {-1, -1};
    const auto fail = [&](int error) {
        for (int* fd : {&request[0], &request[1], &response[0], &response[1], &errors[0], &errors[1]})
            closeFd(*fd);
        return error;
    };
    if (pipe2(request, O_CLOEXEC) != 0 || pipe2(response, O_CLOEXEC) != 0 ||
        (spawn.captureErrors && pipe2(errors, O_CLOEXEC) != 0))
        return fail(errno);
    // A pipe holds 64 KiB by default, so a big stylesheet and its CSS would
    // cross in many turns, each a wake-up of the other side. A bigger one (the
    // system may refuse it: then the default stays) takes most in one write.
    for (int fd : {request[1], response[1]})
        fcntl(fd, F_SETPIPE_SZ, PipeCapacity);
    for (int* fd : {&request[0], &request[1], &response[0], &response[1], &errors[0], &errors[1]}) {
        const bool wanted = *fd >= 0;
        *fd = aboveChildFds(*fd);
        if (wanted && *fd < 0)
            return fail(errno);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd : {0, 1})
        if (fd != spawn.requestFd && fd != spawn.responseFd)
            posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, request[0], spawn.requestFd);
    posix_spawn_file_actions_adddup2(&actions, response[1], spawn.responseFd);
    if (errors[1] >= 0)
        posix_spawn_file_actions_adddup2(&actions, errors[1], 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, highest + 1);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The caller may have blocked or ignored signals; the child starts clean.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    for (const std::string& arg : spawn.argv)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, spawn.path.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    closeFd(request[0]);
    closeFd(response[1]);
    closeFd(errors[1]);
    if (rc != 0)
        return fail(rc);
    pid_ = pid;
    // A handle on the child that never names another process, even after the
    // system reaped it behind this library's back (SIGCHLD ignored).
    pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    owner_ = getpid();
    requestFd_ = request[1];
    responseFd_ = response[0];
    errorFd_ = errors[0];
    errors_.clear();
    haveCpuClock_ = clock_getcpuclockid(pid_, &cpuClock_) == 0;
    for (int fd : {requestFd_, responseFd_, errorFd_})
        if (fd >= 0)
            setNonBlocking(fd);
    return 0;
}

bool ChildProcess::idle() {
    if (pid_ < 0)
        return false;
    // Ended while idle (killed from outside, say). ECHILD: reaped elsewhere.
    int status;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno == ECHILD)) {
        forget();
        return false;
    }
    drainErrors();
    pollfd p{responseFd_, POLLIN, 0};
    return poll(&p, 1, 0) == 0;
}

void ChildProcess::drainErrors() {
    if (errorFd_ < 0)
        return;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(errorFd_, chunk, sizeof chunk);
        if (n > 0) {
            if (errors_.size() < MaxErrorText)
                errors_.append(chunk, std::min(std::size_t(n), MaxErrorText - errors_.size()));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            closeFd(errorFd_);  // its end closed: nothing more will come
        return;
    }
}

ChildProcess::Io ChildProcess::waitUntilReady(int fd, short events, CpuMeter& meter) {
    pollfd fds[2] = {{fd, events, 0}, {errorFd_, POLLIN, 0}};
    const CpuMeter::Wait wait = meter.waitFor(fds, errorFd_ >= 0 ? 2 : 1);
    drainErrors();
    if (wait == CpuMeter::Wait::OverBudget)
        return Io::OverBudget;
    if (wait == CpuMeter::Wait::Stalled)
        return Io::Stalled;
    return Io::Ok;
}

ChildProcess::Io ChildProcess::write(const char* data, std::size_t size, CpuMeter& meter) {
    SigpipeBlock block;
    while (size) {
        const ssize_t n = ::write(requestFd_, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            const Io waited = waitUntilReady(requestFd_, POLLOUT, meter);
            if (waited != Io::Ok)
                return waited;
            continue;
        }
        block.raised = n < 0 && errno == EPIPE;
        return Io::Closed;  // the child closed its end before taking it all
    }
    return Io::Ok;
}

ChildProcess::Io ChildProcess::read(char* into, std::size_t size, std::size_t& got, CpuMeter& meter) {
    got = 0;
    for (;;) {
        const ssize_t n = ::read(responseFd_, into, size);
        if (n > 0) {
            got = static_cast<std::size_t>(n);
            return Io::Ok;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            const Io waited = waitUntilReady(responseFd_, POLLIN, meter);
            if (waited != Io::Ok)
                return waited;
            continue;
        }
        return Io::Closed;
    }
}

std::string ChildProcess::stop(bool killNow, bool* killedHere) {
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
        // The child closed its pipe, so it is on its way out: give it a moment
        // to end by itself and so report its own signal or exit status.
        const auto deadline = steady_clock::now() + milliseconds(500);
        for (;;) {
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_ || (r < 0 && errno != EINTR)) {
                const bool known = r == pid_;
                drainErrors();
                forget();
                return known ? describeStatus(status) : unknownEnd();
            }
            if (steady_clock::now() >= deadline)
                break;
            const timespec pause{0, 1000000};
            nanosleep(&pause, nullptr);
        }
        if (killedHere)
            *killedHere = true;
    }
    signalKill();
    pid_t r;
    while ((r = waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    drainErrors();
    forget();
    return r == pid_ ? describeStatus(status) : unknownEnd();
}

void ChildProcess::signalKill() {
    // Through the pidfd only, when there is one: with SIGCHLD ignored the
    // system may have reaped the child already, and its bare pid may then
    // name another process.
    if (pidFd_ >= 0)
        syscall(SYS_pidfd_send_signal, pidFd_, SIGKILL, nullptr, 0);
    else
        kill(pid_, SIGKILL);
}

void ChildProcess::forget() {
    closeFd(requestFd_);
    closeFd(responseFd_);
    closeFd(errorFd_);
    closeFd(pidFd_);
    pid_ = -1;
    owner_ = -1;
    haveCpuClock_ = false;
}

void ChildProcess::dropInherited() {
    if (pid_ >= 0 && owner_ != getpid())
        forget();
}

}  // namespace VantorCompiler
