// vantor-dart-sass PROGRAM ADDRESS-SPACE DART SNAPSHOT: starts Dart Sass's
// embedded compiler for the library, as process PROGRAM's child.
//
// The Dart runtime cannot watch the program as the libsass worker does, so
// this launcher leaves a guard behind: a small process that kills the runtime
// when the program ends, however it ends (a crash, kill -9), even while the
// runtime is busy in an endless loop. The launcher then sets the runtime's
// limits (no core files, the address-space cap in bytes) and becomes it
// (exec, so its pid, CPU clock and pipes are the runtime's). The guard ends
// with the runtime.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int pidfdOpen(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

// Waits until the program or the runtime ends; kills the runtime in the first case.
[[noreturn]] void guard(int programFd, int runtimeFd) {
    // Nothing of the runtime's: with its pipes held here, the library would
    // never see them close when the runtime ends.
    const int null = open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd)
        dup2(null, fd);
    if (dup2(programFd, 3) != 3 || dup2(runtimeFd, 4) != 4)
        _exit(1);
    syscall(SYS_close_range, 5, ~0U, 0);
    pollfd fds[2] = {{3, POLLIN, 0}, {4, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            _exit(1);
        }
        if (fds[0].revents)
            syscall(SYS_pidfd_send_signal, 4, SIGKILL, nullptr, 0);
        _exit(0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fputs("usage: vantor-dart-sass PROGRAM ADDRESS-SPACE DART SNAPSHOT\n", stderr);
        return 2;
    }
    const pid_t program = static_cast<pid_t>(std::strtol(argv[1], nullptr, 10));
    const rlim_t addressSpace = static_cast<rlim_t>(std::strtoull(argv[2], nullptr, 10));
    if (program <= 1 || getppid() != program)
        return 1;

    const int programFd = pidfdOpen(program);
    const int runtimeFd = pidfdOpen(getpid());
    if (programFd >= 0 && runtimeFd >= 0) {
        const pid_t child = fork();
        if (child < 0)
            return 1;
        if (child == 0)
            guard(programFd, runtimeFd);
        close(programFd);
        close(runtimeFd);
    } else {
        // No pidfds on this system: the parent-death signal, which follows the
        // thread that started this process, is the best there is.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != program)
            return 1;
    }

    // A crash is reported from its signal; a core file would only fill the
    // program's directory and slow the answer.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (addressSpace > 0) {
        const rlimit limit{addressSpace, addressSpace};
        setrlimit(RLIMIT_AS, &limit);
    }
    char* runtime[] = {argv[3], argv[4], const_cast<char*>("--embedded"), nullptr};
    execv(argv[3], runtime);
    std::fprintf(stderr, "%s: %s\n", argv[3], std::strerror(errno));
    return 127;
}
