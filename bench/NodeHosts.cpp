#include "NodeHosts.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string_view>
#include <cstring>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string readLine(FILE* from) {
    std::string line;
    for (int c; from && (c = std::fgetc(from)) != EOF && c != '\n';)
        line.push_back(static_cast<char>(c));
    return line;
}

// The number after "KEY": in a line of JSON, 0 when there is none.
double number(const std::string& line, const char* key) {
    const std::size_t at = line.find(std::string("\"") + key + "\":");
    return at == std::string::npos ? 0 : std::strtod(line.c_str() + at + std::strlen(key) + 3, nullptr);
}

// A process's CPU time in ns (all its threads, ended ones too), 0 when it cannot be read.
double processCpuNs(pid_t pid) {
    clockid_t clock;
    timespec t{};
    if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &t) != 0)
        return 0;
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

}  // namespace

double NodeHosts::cpuNs(double& nodeNs) const {
    nodeNs = processCpuNs(pid_);
    double ns = nodeNs;
    const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
    DIR* dir = opendir(tasks.c_str());
    while (dirent* e = dir ? readdir(dir) : nullptr) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream children(tasks + "/" + e->d_name + "/children");
        for (long child; children >> child;)
            ns += processCpuNs(static_cast<pid_t>(child));
    }
    if (dir)
        closedir(dir);
    return ns;
}

NodeHosts::NodeHosts(std::string node, std::string script, std::string modules)
    : node_(std::move(node)), script_(std::move(script)), modules_(std::move(modules)) {}

NodeHosts::~NodeHosts() {
    if (to_)
        std::fclose(to_);  // the script disposes of its compiler and ends
    if (from_)
        std::fclose(from_);
    if (pid_ > 0)
        waitpid(pid_, nullptr, 0);
}

pid_t NodeHosts::spawn(const std::vector<std::string>& args, FILE** to, FILE** from) const {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return -1;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return -1;
    }
    std::vector<std::string> all{node_, script_, modules_};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        syscall(SYS_close_range, 3, ~0U, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        return -1;
    }
    *to = fdopen(in[1], "w");
    *from = fdopen(out[0], "r");
    return pid;
}

NodeAnswer NodeHosts::parse(const std::string& line) {
    NodeAnswer answer;
    if (line.empty()) {
        answer.error = "node ended without an answer";
        return answer;
    }
    const std::size_t error = line.find("\"error\":");
    if (error != std::string::npos) {
        answer.error = line.substr(error + 8);
        return answer;
    }
    const std::size_t ms = line.find("\"ms\":[");
    for (const char* p = ms == std::string::npos ? nullptr : line.c_str() + ms + 6; p && *p && *p != ']';) {
        char* end = nullptr;
        answer.ms.push_back(std::strtod(p, &end));
        if (end == p)
            break;
        p = *end == ',' ? end + 1 : end;
    }
    answer.bytes = static_cast<long>(number(line, "bytes"));
    answer.warnings = static_cast<long>(number(line, "warnings"));
    return answer;
}

NodeAnswer NodeHosts::convert(const std::string& host, const std::string& style, int runs, const std::string& file) {
    if (pid_ < 0)
        pid_ = spawn({}, &to_, &from_);
    if (pid_ < 0 || !to_ || !from_) {
        NodeAnswer failed;
        failed.error = "cannot start " + node_;
        return failed;
    }
    double nodeBefore = 0, nodeAfter = 0;
    const double before = cpuNs(nodeBefore);
    std::fprintf(to_, "%s %s %d %s\n", host.c_str(), style.c_str(), runs, file.c_str());
    std::fflush(to_);
    NodeAnswer answer = parse(readLine(from_));
    answer.cpuMs = (cpuNs(nodeAfter) - before) / 1e6;
    answer.hostCpuMs = (nodeAfter - nodeBefore) / 1e6;
    return answer;
}

NodeAnswer NodeHosts::cold(const std::string& host, const std::string& file, double& wallMs) {
    FILE* to = nullptr;
    FILE* from = nullptr;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = spawn({host, "expanded", file}, &to, &from);
    if (to)
        std::fclose(to);
    const std::string line = readLine(from);
    if (from)
        std::fclose(from);
    if (pid > 0)
        waitpid(pid, nullptr, 0);
    wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return parse(line);
}
