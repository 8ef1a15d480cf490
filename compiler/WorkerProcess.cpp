#include "WorkerProcess.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

extern char** environ;

namespace VantorCompiler {
namespace {

const char* const WorkerName = "vantor-compiler-worker";

// Any address inside this library, for dladdr.
void libraryAnchor() {}

bool isExecutable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

void closeFd(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Moves fd above the standard descriptors, so that the worker's dup2 onto 0
// and 1 never meets a pipe end that is already there.
int aboveStandard(int fd) {
    if (fd > 2)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

// Waits until fd is ready for events or the deadline passes. False on timeout.
bool waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, remainingMs(deadline));
        if (n > 0)
            return true;
        if (n == 0)
            return false;
        if (errno != EINTR)
            return true;  // let the read or write report the problem
    }
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

WorkerProcess::~WorkerProcess() {
    dropInherited();
    if (pid_ < 0)
        return;
    // Closing the request pipe ends an idle worker's loop; it exits by itself.
    closeFd(requestFd_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    int status;
    while (waitpid(pid_, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
        const timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
    }
    kill(pid_, SIGKILL);
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    forget();
}

std::string WorkerProcess::executablePath() {
    if (const char* path = std::getenv("VANTOR_COMPILER_WORKER"); path && *path)
        return path;
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&libraryAnchor), &info) || !info.dli_fname)
        return WorkerName;
    std::string dir = info.dli_fname;
    const std::size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? std::string(".") : dir.substr(0, slash);
    const std::string beside = dir + "/" + WorkerName;
    if (isExecutable(beside))
        return beside;
    const std::string installed = dir + "/../libexec/" + WorkerName;
    if (isExecutable(installed))
        return installed;
    return beside;
}

WorkerProcess::Exchange WorkerProcess::exchange(const std::string& frame, std::chrono::milliseconds limit) {
    Exchange result;
    dropInherited();
    if (pid_ >= 0) {
        // A worker that ended while idle (killed from outside, say) is replaced
        // silently: the request has not reached it yet.
        // ECHILD: reaped elsewhere already, e.g. with SIGCHLD ignored.
        int status;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) {
            pid_ = -1;
            forget();
        }
    }
    if (pid_ < 0 && !start(result.detail)) {
        result.outcome = Outcome::NotStarted;
        return result;
    }

    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool timedOut = false;
    std::string payload;
    if (!send(frame, deadline, timedOut) || !receive(payload, deadline, timedOut)) {
        result.outcome = timedOut ? Outcome::TimedOut : Outcome::Died;
        result.detail = stop(timedOut);
        return result;
    }
    if (!framing::decodeResponse(reinterpret_cast<const unsigned char*>(payload.data()), payload.size(),
                                 result.response)) {
        stop(true);
        result.outcome = Outcome::Died;
        result.detail = "an unreadable reply";
        return result;
    }
    result.outcome = Outcome::Answered;
    return result;
}

bool WorkerProcess::start(std::string& detail) {
    const std::string path = executablePath();
    int request[2];
    int response[2];
    if (pipe2(request, O_CLOEXEC) != 0) {
        detail = path + ": " + std::strerror(errno);
        return false;
    }
    if (pipe2(response, O_CLOEXEC) != 0) {
        detail = path + ": " + std::strerror(errno);
        close(request[0]);
        close(request[1]);
        return false;
    }
    for (int* fd : {&request[0], &request[1], &response[0], &response[1]})
        *fd = aboveStandard(*fd);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, request[0], 0);
    posix_spawn_file_actions_adddup2(&actions, response[1], 1);
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
        detail = path + ": " + std::strerror(rc);
        return false;
    }
    pid_ = pid;
    owner_ = getpid();
    requestFd_ = request[1];
    responseFd_ = response[0];
    fcntl(requestFd_, F_SETFL, fcntl(requestFd_, F_GETFL) | O_NONBLOCK);
    fcntl(responseFd_, F_SETFL, fcntl(responseFd_, F_GETFL) | O_NONBLOCK);
    return true;
}

std::string WorkerProcess::stop(bool killNow) {
    closeFd(requestFd_);
    closeFd(responseFd_);
    int status = 0;
    if (!killNow) {
        // The worker closed its pipe, so it is on its way out: give it a moment
        // to end by itself and so report its own signal or exit status.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        for (;;) {
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_ || (r < 0 && errno != EINTR)) {
                pid_ = -1;
                forget();
                return describe(status);
            }
            if (std::chrono::steady_clock::now() >= deadline)
                break;
            const timespec pause{0, 1000000};
            nanosleep(&pause, nullptr);
        }
    }
    kill(pid_, SIGKILL);
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    forget();
    return describe(status);
}

void WorkerProcess::forget() {
    closeFd(requestFd_);
    closeFd(responseFd_);
    pid_ = -1;
    owner_ = -1;
}

void WorkerProcess::dropInherited() {
    // After a fork the child holds copies of the parent's pipes to the parent's
    // worker: close the copies, leave the worker to its parent, start afresh.
    if (pid_ >= 0 && owner_ != getpid())
        forget();
}

bool WorkerProcess::send(const std::string& frame, std::chrono::steady_clock::time_point deadline, bool& timedOut) {
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
            if (!waitFor(requestFd_, POLLOUT, deadline)) {
                timedOut = true;
                return false;
            }
            continue;
        }
        block.raised = n < 0 && errno == EPIPE;
        return false;
    }
    return true;
}

bool WorkerProcess::receive(std::string& payload, std::chrono::steady_clock::time_point deadline, bool& timedOut) {
    unsigned char header[framing::HeaderSize];
    std::size_t got = 0;
    std::size_t size = 0;
    bool haveHeader = false;
    for (;;) {
        char* into;
        std::size_t want;
        if (!haveHeader) {
            into = reinterpret_cast<char*>(header) + got;
            want = framing::HeaderSize - got;
        } else {
            if (got == size)
                return true;
            into = &payload[got];
            want = size - got;
        }
        const ssize_t n = read(responseFd_, into, want);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            if (!haveHeader && got == framing::HeaderSize) {
                const std::uint32_t announced = framing::payloadLength(header);
                if (announced > framing::MaxPayload)
                    return false;
                size = announced;
                payload.resize(size);
                got = 0;
                haveHeader = true;
            }
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            if (!waitFor(responseFd_, POLLIN, deadline)) {
                timedOut = true;
                return false;
            }
            continue;
        }
        return false;  // end of file: the worker is gone
    }
}

}  // namespace VantorCompiler
