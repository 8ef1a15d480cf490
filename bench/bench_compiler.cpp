// Compares one conversion through Vantor.Compiler (compile + error +
// free_memory, libsass running in the worker process) with the same libsass
// calls made directly in this process on glibc's default allocator, on the
// same texts, in the three ways people use the program:
//
//   back to back   conversions one after the other (pasting, scripted use)
//   typing         150 ms idle before each conversion (a keystroke's pause)
//   switching      the small text and a big one in turn, idle between (the
//                  first input is the small one)
//
// and the worker's resident memory when idle, after a big stylesheet, back on
// the small one, and after a few seconds without a request.
//
//   bench_compiler [--rss BIG.scss] NAME=FILE...
//
// A missing FILE skips its rows with a note. Runs of the library and of
// libsass alternate, so drift on a shared machine hits both alike; each row
// gives the medians, their ratio, and the spread of the paired ratios (half
// the interquartile range, in percent of the ratio) as a measure of the noise;
// then the median CPU time per conversion of libsass in this thread, and of
// this thread and the worker process for the library (whose wall time also
// waits for the scheduler to run the worker, which on a loaded machine costs
// the library alone), and the median minor page
// faults per conversion (a count the machine's load does not change).
//
//   bench_compiler --engine dart-sass [--rounds N] [--node NODE SCRIPT MODULES] NAME=FILE...
//
// measures the Dart Sass engine instead, each FILE converted with its folder
// as the current folder (relative loads resolve there): the cold first
// conversion (the runtime started afresh, killed before each try) and the
// runtime's resident memory after it; then, warm, N interleaved rounds
// (default 9) of the library (indent 2, Dart Sass's own bytes, and indent 4,
// the program's default) beside the official Node host (sass-embedded) and
// pure-JS sass, run by SCRIPT (bench/node_hosts.mjs) from MODULES; the
// runtime's memory after each framework; and whether the library's CSS is
// byte for byte what the runtime's own command line prints for the same text
// in the same folder, expanded and compressed.
#include "NodeHosts.h"

#include <VantorCompiler.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto TypingPause = std::chrono::milliseconds(150);

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double quantile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    const double at = q * static_cast<double>(v.size() - 1);
    const std::size_t i = static_cast<std::size_t>(at);
    const double f = at - static_cast<double>(i);
    return i + 1 < v.size() ? v[i] * (1 - f) + v[i + 1] * f : v[i];
}

double median(const std::vector<double>& v) { return quantile(v, 0.5); }

// Conversions the library gave up on (time limit, crash): on a loaded machine
// a big stylesheet can take longer than the limit.
int libraryFailures = 0;

// What the program does per conversion, through the library.
std::size_t throughLibrary(const std::string& text) {
    VantorCompiler::CompilerOptions options;
    options.input = sass_copy_c_string(text.c_str());
    const char* css = VantorCompiler::compile(options);
    const char* error = VantorCompiler::error();
    if (error && (std::strncmp(error, "Compilation stopped", 19) == 0 ||
                  std::strncmp(error, "The Sass compiler failed", 24) == 0))
        ++libraryFailures;
    const std::size_t size = (css ? std::strlen(css) : 0) + (error ? std::strlen(error) : 0);
    VantorCompiler::free_memory();
    return size;
}

// The same conversion with the same options, libsass in this process.
std::size_t bare(const std::string& text, std::string* errorText = nullptr) {
    Sass_Data_Context* data = sass_make_data_context(sass_copy_c_string(text.c_str()));
    Sass_Options* options = sass_data_context_get_options(data);
    Sass_Context* context = sass_data_context_get_context(data);
    sass_option_set_precision(options, 10);
    sass_option_set_source_comments(options, false);
    sass_option_set_source_map_embed(options, 0);
    sass_option_set_output_style(options, SASS_STYLE_EXPANDED);
    sass_option_set_indent(options, "    ");
    sass_data_context_set_options(data, options);
    Sass_Compiler* compiler = sass_make_data_compiler(data);
    sass_compiler_parse(compiler);
    sass_compiler_execute(compiler);
    sass_delete_compiler(compiler);
    const char* css = sass_context_get_output_string(context);
    const char* error = sass_context_get_error_text(context);
    if (errorText && error)
        *errorText = error;
    const std::size_t size = (css ? std::strlen(css) : 0) + (error ? std::strlen(error) : 0);
    sass_delete_data_context(data);
    return size;
}

std::size_t bareOnly(const std::string& text) { return bare(text); }

std::string workerPid();

// What one side costs so far: CPU nanoseconds and minor page faults; for
// libsass of this thread (faults: process), for the library of this thread
// and all the worker's threads (faults: the worker's).
struct Usage {
    double cpuNs = 0;
    long faults = 0;
};

Usage usage(std::size_t (*convert)(const std::string&)) {
    Usage u;
    timespec cpu{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    u.cpuNs = static_cast<double>(cpu.tv_sec) * 1e9 + static_cast<double>(cpu.tv_nsec);
    if (convert == bareOnly) {
        rusage self{};
        getrusage(RUSAGE_SELF, &self);
        u.faults = self.ru_minflt;
        return u;
    }
    const std::string pid = workerPid();  // a new one after a failure
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string line;
    if (pid.empty() || !std::getline(stat, line) || line.find(')') == std::string::npos)
        return u;
    // Field 10, counted after the parenthesised command name.
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 10 && rest >> field; ++i) {
    }
    u.faults = std::atol(field.c_str());
    // Time on CPU in ns, the first field of each thread's schedstat.
    DIR* tasks = opendir(("/proc/" + pid + "/task").c_str());
    while (dirent* e = tasks ? readdir(tasks) : nullptr) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream sched("/proc/" + pid + "/task/" + e->d_name + "/schedstat");
        double ns = 0;
        if (sched >> ns)
            u.cpuNs += ns;
    }
    if (tasks)
        closedir(tasks);
    return u;
}

// Per conversion: wall-clock ms, CPU ms, minor page faults.
struct Series {
    std::vector<double> ms, cpu, faults;
};

void timed(std::size_t (*convert)(const std::string&), const std::string& text, Series& into) {
    const Usage before = usage(convert);
    const auto start = Clock::now();
    convert(text);
    into.ms.push_back(msSince(start));
    const Usage after = usage(convert);
    into.cpu.push_back((after.cpuNs - before.cpuNs) / 1e6);
    into.faults.push_back(static_cast<double>(after.faults - before.faults));
}

double timed(std::size_t (*convert)(const std::string&), const std::string& text) {
    const auto start = Clock::now();
    convert(text);
    return msSince(start);
}

struct Input {
    std::string name;
    std::string text;
    long lines = 0;
};

// The file as the program converts it: trimmed.
bool load(const std::string& path, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::stringstream buffer;
    buffer << file.rdbuf();
    text = buffer.str();
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    text = first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    return true;
}

void printHeader() {
    std::printf("%-9s %-20s %6s %5s %9s %10s %6s %8s %6s  %15s %6s  %11s\n", "input", "pattern", "lines", "runs",
                "bare ms", "library ms", "ratio", "extra ms", "noise%", "CPU ms bare/lib", "ratio", "faults b/lib");
}

void printRow(const std::string& name, const std::string& pattern, long lines, const Series& lib,
              const Series& direct) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < lib.ms.size(); ++i)
        ratios.push_back(lib.ms[i] / direct.ms[i]);
    const double l = median(lib.ms), d = median(direct.ms);
    const double noise = (quantile(ratios, 0.75) - quantile(ratios, 0.25)) / 2 / median(ratios) * 100;
    const double lc = median(lib.cpu), dc = median(direct.cpu);
    if (libraryFailures) {
        std::printf("note: %d of the library's conversions below hit its time limit or a crash\n", libraryFailures);
        libraryFailures = 0;
    }
    std::printf("%-9s %-20s %6ld %5zu %9.3f %10.3f %6.3f %8.3f %6.1f  %7.3f/%-7.3f %6.3f  %5.0f/%-5.0f\n", name.c_str(),
                pattern.c_str(), lines, lib.ms.size(), d, l, l / d, l - d, noise, dc, lc, lc / dc,
                median(direct.faults), median(lib.faults));
    std::fflush(stdout);
}

// As many runs as fit about `budgetMs` of conversions, odd, within bounds.
int runsFor(double onceMs, double budgetMs, int least, int most) {
    return std::clamp(static_cast<int>(budgetMs / std::max(onceMs, 0.01)), least, most) | 1;
}

void backToBack(const Input& in, double onceMs) {
    const int runs = runsFor(onceMs, 6000, 21, 301);
    Series lib, direct;
    for (int r = 0; r < runs; ++r) {
        timed(throughLibrary, in.text, lib);
        timed(bareOnly, in.text, direct);
    }
    printRow(in.name, "back to back", in.lines, lib, direct);
}

void typing(const Input& in, double onceMs) {
    const int runs = runsFor(onceMs + 150, 6000, 21, 61);
    Series lib, direct;
    for (int r = 0; r < runs; ++r) {
        std::this_thread::sleep_for(TypingPause);
        timed(throughLibrary, in.text, lib);
        std::this_thread::sleep_for(TypingPause);
        timed(bareOnly, in.text, direct);
    }
    printRow(in.name, "typing, 150 ms idle", in.lines, lib, direct);
}

// small, idle, big, idle, ... for the library, then the same for libsass.
void switching(const Input& small, const Input& big, double onceMs) {
    const int runs = runsFor(onceMs + 300, 8000, 21, 61);
    Series libSmall, libBig, directSmall, directBig;
    for (int r = 0; r < runs; ++r) {
        for (auto [convert, smallSide, bigSide] : {std::make_tuple(&throughLibrary, &libSmall, &libBig),
                                                   std::make_tuple(&bareOnly, &directSmall, &directBig)}) {
            if (r == 0)
                convert(big.text);
            std::this_thread::sleep_for(TypingPause);
            timed(convert, small.text, *smallSide);
            std::this_thread::sleep_for(TypingPause);
            timed(convert, big.text, *bigSide);
        }
    }
    printRow(small.name, "after " + big.name + ", idle", small.lines, libSmall, directSmall);
    printRow(big.name, "after " + small.name + ", idle", big.lines, libBig, directBig);
}

// A field of /proc/PID/status in KiB (VmRSS, VmSize), 0 when it cannot be read.
long statusKiB(const std::string& pid, const char* field) {
    std::ifstream status("/proc/" + pid + "/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0)
            return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    return 0;
}

// The compiler worker is this process's only child.
std::string workerPid() {
    DIR* tasks = opendir("/proc/self/task");
    std::string pid;
    while (dirent* e = tasks ? readdir(tasks) : nullptr) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream children(std::string("/proc/self/task/") + e->d_name + "/children");
        if (children >> pid)
            break;
    }
    if (tasks)
        closedir(tasks);
    return pid;
}

// Resident memory (and address space) of the worker as a user goes from the
// small text to a big one and back, then stops.
void memory(const Input& small, const std::string& bigPath) {
    Input big{"big", {}, 0};
    if (!load(bigPath, big.text)) {
        std::printf("note: cannot read %s, no worker memory figures\n\n", bigPath.c_str());
        return;
    }
    big.lines = std::count(big.text.begin(), big.text.end(), '\n') + 1;
    std::printf("worker memory, KiB                      resident  address space\n");
    const auto show = [](const std::string& when) {
        const std::string pid = workerPid();
        std::printf("  %-36s %9ld %9ld\n", when.c_str(), statusKiB(pid, "VmRSS"), statusKiB(pid, "VmSize"));
    };
    show("started, after the " + small.name);
    throughLibrary(big.text);
    show("after the " + std::to_string(big.lines) + "-line stylesheet");
    if (libraryFailures)
        std::printf("  note: that conversion hit the time limit; the worker was replaced\n");
    libraryFailures = 0;
    throughLibrary(small.text);
    show("back on the " + small.name);
    std::this_thread::sleep_for(std::chrono::seconds(5));
    show("after 5 s without a request");
    const auto start = Clock::now();
    throughLibrary(small.text);
    const double ms = msSince(start);
    show("the " + small.name + " once more (" + std::to_string(ms).substr(0, 5) + " ms)");
    std::printf("\n");
}

// ---- Dart Sass ----

// One conversion by the library's Dart Sass engine in the current folder.
struct DartResult {
    double ms = 0;     // the compile() call
    double cpuMs = 0;      // of this thread and the runtime process in that call
    double hostCpuMs = 0;  // of this thread alone
    std::string css;
    std::string error;
    int warnings = 0;
};

std::string runtimePid();

// CPU ns so far of this thread (threadNs) and of it and the runtime process
// (all its threads).
double dartCpuNs(double& threadNs) {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    double ns = static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
    threadNs = ns;
    clockid_t clock;
    const std::string pid = runtimePid();
    if (!pid.empty() && clock_getcpuclockid(static_cast<pid_t>(std::atol(pid.c_str())), &clock) == 0 &&
        clock_gettime(clock, &t) == 0)
        ns += static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
    return ns;
}

DartResult throughDartSass(const std::string& text, std::int32_t style, std::int32_t indentWidth, bool keepCss) {
    VantorCompiler::CompilerOptions options;
    options.input = sass_copy_c_string(text.c_str());
    options.engine = VantorCompiler::DartSass;
    options.output_style = style;
    options.indent_width = indentWidth;
    DartResult result;
    double threadBefore = 0, threadAfter = 0;
    const double cpuBefore = dartCpuNs(threadBefore);
    const auto start = Clock::now();
    const char* css = VantorCompiler::compile(options);
    result.ms = msSince(start);
    result.cpuMs = (dartCpuNs(threadAfter) - cpuBefore) / 1e6;
    result.hostCpuMs = (threadAfter - threadBefore) / 1e6;
    if (css && keepCss)
        result.css = css;
    if (const char* error = VantorCompiler::error())
        result.error = error;
    result.warnings = VantorCompiler::warning_count();
    VantorCompiler::free_memory();
    return result;
}

// The runtime's files as the library finds them: VANTOR_DART_SASS, else
// dart-sass/ beside the library.
std::string runtimeFolder() {
    if (const char* folder = std::getenv("VANTOR_DART_SASS"); folder && *folder)
        return folder;
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&VantorCompiler::compile), &info) || !info.dli_fname)
        return {};
    std::string library = info.dli_fname;
    return library.substr(0, library.rfind('/') + 1) + "dart-sass";
}

// The Dart runtime the library talks to: this process's child running the
// runtime's dart (vantor-dart-sass becomes it), empty when none runs. The
// Node host's own runtime is node's child, not this process's, and the
// command line's runs are over before this is asked.
std::string runtimePid() {
    static const std::string dart = [] {
        char* path = realpath((runtimeFolder() + "/dart").c_str(), nullptr);
        const std::string resolved = path ? path : "";
        std::free(path);
        return resolved;
    }();
    DIR* tasks = opendir("/proc/self/task");
    std::string found;
    while (dirent* e = tasks ? readdir(tasks) : nullptr) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream children(std::string("/proc/self/task/") + e->d_name + "/children");
        for (std::string pid; found.empty() && children >> pid;) {
            char exe[PATH_MAX];
            const ssize_t n = readlink(("/proc/" + pid + "/exe").c_str(), exe, sizeof exe - 1);
            if (n > 0 && std::string(exe, static_cast<std::size_t>(n)) == dart)
                found = pid;
        }
    }
    if (tasks)
        closedir(tasks);
    return found;
}

// Ends the runtime so that the next conversion starts a fresh one; returns once
// it can be reaped (left to the library). The group leader turns zombie while
// the other threads still exit, so the test is waitid's, without reaping.
void killRuntime() {
    const std::string text = runtimePid();
    if (text.empty())
        return;
    const pid_t pid = static_cast<pid_t>(std::atol(text.c_str()));
    kill(pid, SIGKILL);
    for (int i = 0; i < 500; ++i) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// What the runtime's command line prints for TEXT on stdin in the current
// folder, or why it printed nothing.
bool commandLineCss(const std::string& folder, const std::string& text, bool compressed, std::string& css) {
    char path[] = "/tmp/bench-compiler-XXXXXX";
    const int input = mkstemp(path);
    if (input < 0) {
        css = "cannot create a temporary file";
        return false;
    }
    unlink(path);
    const bool written = write(input, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    lseek(input, 0, SEEK_SET);
    int out[2];
    if (!written || pipe2(out, O_CLOEXEC) != 0) {
        close(input);
        css = "cannot pass the text to the command line";
        return false;
    }
    std::string dart = folder + "/dart", snapshot = folder + "/sass.snapshot";
    std::string stdinFlag = "--stdin", noMap = "--no-source-map", style = "--style=compressed";
    std::vector<char*> argv{dart.data(), snapshot.data(), stdinFlag.data(), noMap.data()};
    if (compressed)
        argv.push_back(style.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(input, 0);
        dup2(out[1], 1);
        dup2(null, 2);
        syscall(SYS_close_range, 3, ~0U, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(input);
    close(out[1]);
    css.clear();
    char buffer[65536];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
        if (n > 0)
            css.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        css = "the command line failed (status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ")";
        return false;
    }
    return true;
}

// The CSS with the one difference allowed: non-empty CSS ends in exactly one newline.
std::string oneNewline(std::string css) {
    while (!css.empty() && css.back() == '\n')
        css.pop_back();
    if (!css.empty())
        css.push_back('\n');
    return css;
}

// "identical", or the first line where the two differ, both sides shown.
std::string firstDifference(const std::string& ours, const std::string& theirs) {
    const std::string a = oneNewline(ours), b = oneNewline(theirs);
    if (a == b)
        return "identical (" + std::to_string(a.size()) + " bytes)";
    std::size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at])
        ++at;
    const std::size_t lineStart = a.rfind('\n', at == 0 ? 0 : at - 1);
    const std::size_t from = lineStart == std::string::npos || at == 0 ? 0 : lineStart + 1;
    const long line = std::count(a.begin(), a.begin() + static_cast<long>(from), '\n') + 1;
    const auto lineOf = [from](const std::string& s) {
        const std::size_t end = s.find('\n', from);
        std::string text = s.substr(from, end == std::string::npos ? std::string::npos : end - from);
        return text.size() > 100 ? text.substr(0, 100) + "..." : text;
    };
    return "differ at line " + std::to_string(line) + " (byte " + std::to_string(at) + "; sizes " +
           std::to_string(a.size()) + "/" + std::to_string(b.size()) + "):\n      library: " + lineOf(a) +
           "\n      command line: " + lineOf(b);
}

struct Framework {
    Input in;
    std::string file, folder;
};

std::string spread(const std::vector<double>& v) {
    char text[64];
    const double low = *std::min_element(v.begin(), v.end()), high = *std::max_element(v.begin(), v.end());
    const int digits = high >= 100 ? 0 : high >= 10 ? 1 : 2;
    std::snprintf(text, sizeof text, "%.*f-%.*f", digits, low, digits, high);
    return text;
}

std::vector<double> ratios(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> r;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        r.push_back(a[i] / b[i]);
    return r;
}

bool inFolder(const Framework& fw) {
    if (chdir(fw.folder.c_str()) == 0)
        return true;
    std::printf("note: cannot enter %s, the rows of %s are skipped\n", fw.folder.c_str(), fw.in.name.c_str());
    return false;
}

int dartSassRows(std::vector<Framework> frameworks, int rounds, NodeHosts* node) {
    std::printf("Dart Sass engine: %s\n", VantorCompiler::engine_version(VantorCompiler::DartSass));
    if (const char* problem = VantorCompiler::engine_error(VantorCompiler::DartSass)) {
        std::printf("note: %s; no Dart Sass rows\n", problem);
        return 0;
    }
    const std::string runtime = runtimeFolder();

    // Which frameworks convert at all, before any measuring.
    std::vector<Framework> ok;
    for (Framework& fw : frameworks) {
        if (!inFolder(fw))
            continue;
        const DartResult r = throughDartSass(fw.in.text, 2, 2, false);
        if (!r.error.empty()) {
            std::printf("note: %s does not convert, its rows are skipped: %s\n", fw.in.name.c_str(), r.error.c_str());
            continue;
        }
        ok.push_back(std::move(fw));
    }

    std::printf("\ncold first conversion, median of 3 (the process started afresh each time), ms; runtime memory "
                "after it, KiB\n");
    std::printf("%-16s %10s %10s %10s   %9s %9s\n", "input", "library", "node host", "pure JS", "resident",
                "peak");
    for (const Framework& fw : ok) {
        if (!inFolder(fw))
            continue;
        std::vector<double> lib, embedded, js;
        long rss = 0, peak = 0;
        for (int i = 0; i < 3; ++i) {
            killRuntime();
            const DartResult r = throughDartSass(fw.in.text, 2, 2, false);
            if (!r.error.empty()) {
                std::printf("note: a cold conversion of %s failed: %s\n", fw.in.name.c_str(), r.error.c_str());
                continue;
            }
            lib.push_back(r.ms);
            const std::string pid = runtimePid();
            rss = statusKiB(pid, "VmRSS");
            peak = statusKiB(pid, "VmHWM");
            double wall = 0;
            if (node && node->cold("embedded", fw.file, wall).error.empty())
                embedded.push_back(wall);
            if (node && node->cold("js", fw.file, wall).error.empty())
                js.push_back(wall);
        }
        const auto cell = [](const std::vector<double>& v) {
            char text[32] = "-";
            if (!v.empty())
                std::snprintf(text, sizeof text, "%.1f", median(v));
            return std::string(text);
        };
        std::printf("%-16s %10s %10s %10s   %9ld %9ld\n", fw.in.name.c_str(), cell(lib).c_str(), cell(embedded).c_str(),
                    cell(js).c_str(), rss, peak);
        std::fflush(stdout);
    }

    std::printf("\nwarm, median of %d interleaved rounds (min-max), ms; ratios are the median of the paired ones "
                "(min-max)\n",
                rounds);
    std::printf("%-16s %16s %16s %16s %16s  %17s %17s  %9s %9s  %s\n", "input", "library, ind. 2", "library, ind. 4",
                "node host", "pure JS", "lib/node (<=1.0)", "lib/JS (<=0.5)", "resident", "peak",
                "warnings lib/node");
    const auto cell = [](const std::vector<double>& v) {
        char text[64];
        if (v.empty())
            return std::string("-");
        std::snprintf(text, sizeof text, "%.1f (%s)", median(v), spread(v).c_str());
        return std::string(text);
    };
    const auto ratio = [](const std::vector<double>& v) {
        char text[64];
        if (v.empty())
            return std::string("-");
        std::snprintf(text, sizeof text, "%.2f (%s)", median(v), spread(v).c_str());
        return std::string(text);
    };
    std::string cpuRows;
    int status = 0;
    for (const Framework& fw : ok) {
        if (!inFolder(fw))
            continue;
        constexpr int Warmup = 5;
        DartResult last;
        for (int i = 0; i < Warmup; ++i) {
            last = throughDartSass(fw.in.text, 2, 2, false);
            throughDartSass(fw.in.text, 2, 4, false);
        }
        NodeAnswer warmEmbedded, warmJs;
        if (node) {
            warmEmbedded = node->convert("embedded", "expanded", Warmup, fw.file);
            warmJs = node->convert("js", "expanded", Warmup, fw.file);
            for (const NodeAnswer* a : {&warmEmbedded, &warmJs})
                if (!a->error.empty())
                    std::printf("note: the Node host failed on %s: %s\n", fw.in.name.c_str(), a->error.c_str());
        }
        const bool withNode = node && warmEmbedded.error.empty() && warmJs.error.empty();
        Series lib2, lib4, embedded, js;  // wall ms, CPU ms and the host's own CPU ms (faults) of each round
        // Each round runs the four in another order, so that none always follows the same one.
        for (int r = 0; r < rounds; ++r) {
            NodeAnswer e, j;
            for (int k = 0; k < 4; ++k) {
                const int slot = (r + k) % 4;
                if (slot < 2) {
                    Series& into = slot == 0 ? lib2 : lib4;
                    const DartResult d = throughDartSass(fw.in.text, 2, slot == 0 ? 2 : 4, false);
                    into.ms.push_back(d.ms);
                    into.cpu.push_back(d.cpuMs);
                    into.faults.push_back(d.hostCpuMs);
                } else if (withNode) {
                    (slot == 2 ? e : j) = node->convert(slot == 2 ? "embedded" : "js", "expanded", 1, fw.file);
                }
            }
            if (e.ms.size() == 1 && j.ms.size() == 1) {
                embedded.ms.push_back(e.ms[0]);
                embedded.cpu.push_back(e.cpuMs);
                embedded.faults.push_back(e.hostCpuMs);
                js.ms.push_back(j.ms[0]);
                js.cpu.push_back(j.cpuMs);
                js.faults.push_back(j.hostCpuMs);
            }
        }
        const std::string pid = runtimePid();
        const bool paired = embedded.ms.size() == lib2.ms.size();
        std::printf("%-16s %16s %16s %16s %16s  %17s %17s  %9ld %9ld  %d/%s\n", fw.in.name.c_str(),
                    cell(lib2.ms).c_str(), cell(lib4.ms).c_str(), cell(embedded.ms).c_str(), cell(js.ms).c_str(),
                    paired ? ratio(ratios(lib2.ms, embedded.ms)).c_str() : "-",
                    paired ? ratio(ratios(lib2.ms, js.ms)).c_str() : "-", statusKiB(pid, "VmRSS"),
                    statusKiB(pid, "VmHWM"), last.warnings, withNode ? std::to_string(warmEmbedded.warnings).c_str() : "-");
        std::fflush(stdout);
        char row[512];
        std::snprintf(row, sizeof row, "%-16s %16s %16s %16s %16s  %17s %17s  %16s %16s %16s\n",
                      fw.in.name.c_str(), cell(lib2.cpu).c_str(), cell(lib4.cpu).c_str(), cell(embedded.cpu).c_str(),
                      cell(js.cpu).c_str(), paired ? ratio(ratios(lib2.cpu, embedded.cpu)).c_str() : "-",
                      paired ? ratio(ratios(lib2.cpu, js.cpu)).c_str() : "-", cell(lib2.faults).c_str(),
                      cell(lib4.faults).c_str(), cell(embedded.faults).c_str());
        cpuRows += row;
    }
    std::printf("\nthe same rounds in CPU time, ms: this thread and the runtime for the library, node and its "
                "children (the embedded host's runtime) for the Node hosts; then the hosts' own part, without the "
                "runtime: this thread, node alone\n");
    std::printf("%-16s %16s %16s %16s %16s  %17s %17s  %16s %16s %16s\n", "input", "library, ind. 2",
                "library, ind. 4", "node host", "pure JS", "lib/node", "lib/JS", "host: lib ind. 2", "lib ind. 4",
                "node process");
    std::printf("%s", cpuRows.c_str());

    std::printf("\nbyte identity with `%s/dart sass.snapshot --stdin --no-source-map [--style=compressed]` in the "
                "same folder\n",
                runtime.c_str());
    for (const Framework& fw : ok) {
        if (!inFolder(fw))
            continue;
        for (const bool compressed : {false, true}) {
            const DartResult ours = throughDartSass(fw.in.text, compressed ? 3 : 2, 2, true);
            std::string theirs;
            std::string verdict;
            if (!ours.error.empty())
                verdict = "the library failed: " + ours.error;
            else if (!commandLineCss(runtime, fw.in.text, compressed, theirs))
                verdict = theirs;
            else
                verdict = firstDifference(ours.css, theirs);
            if (verdict.rfind("identical", 0) != 0)
                status = 1;
            std::printf("  %-16s %-10s %s\n", fw.in.name.c_str(), compressed ? "compressed" : "expanded",
                        verdict.c_str());
            std::fflush(stdout);
        }
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::string rssPath;
    bool dartSass = false;
    int rounds = 9;
    std::unique_ptr<NodeHosts> node;
    std::vector<Input> inputs;
    std::vector<Framework> frameworks;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rss" && i + 1 < argc) {
            rssPath = argv[++i];
            continue;
        }
        if (arg == "--engine" && i + 1 < argc) {
            const std::string engine = argv[++i];
            dartSass = engine == "dart-sass";
            if (!dartSass && engine != "libsass") {
                std::fprintf(stderr, "%s: unknown engine %s (libsass or dart-sass)\n", argv[0], engine.c_str());
                return 2;
            }
            continue;
        }
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(5, std::atoi(argv[++i]));
            continue;
        }
        if (arg == "--node" && i + 3 < argc) {
            // Absolute, as node starts in a framework's folder.
            const auto absolute = [](const char* path) {
                char* resolved = realpath(path, nullptr);
                const std::string text = resolved ? resolved : path;
                std::free(resolved);
                return text;
            };
            node = std::make_unique<NodeHosts>(absolute(argv[i + 1]), absolute(argv[i + 2]), absolute(argv[i + 3]));
            i += 3;
            continue;
        }
        const std::size_t eq = arg.find('=');
        Input in;
        in.name = eq == std::string::npos ? arg : arg.substr(0, eq);
        const std::string path = eq == std::string::npos ? arg : arg.substr(eq + 1);
        if (!load(path, in.text)) {
            std::printf("note: cannot read %s, its rows are skipped\n", path.c_str());
            continue;
        }
        in.lines = std::count(in.text.begin(), in.text.end(), '\n') + 1;
        char* absolute = realpath(path.c_str(), nullptr);
        if (absolute) {
            const std::string file = absolute;
            std::free(absolute);
            frameworks.push_back({in, file, file.substr(0, file.rfind('/'))});
        }
        inputs.push_back(std::move(in));
    }
    if (inputs.empty()) {
        std::fprintf(stderr,
                     "usage: %s [--rss BIG.scss] NAME=FILE...\n"
                     "       %s --engine dart-sass [--rounds N] [--node NODE SCRIPT MODULES] NAME=FILE...\n",
                     argv[0], argv[0]);
        return 2;
    }
    if (dartSass) {
        signal(SIGPIPE, SIG_IGN);  // a node process that ended is reported, not fatal
        return dartSassRows(std::move(frameworks), rounds, node.get());
    }

    // First, while the worker has converted nothing but the small text.
    throughLibrary(inputs[0].text);
    if (!rssPath.empty())
        memory(inputs[0], rssPath);

    int status = 0;
    std::vector<double> once(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        // Warm up both (this starts the worker) and check they agree.
        std::string error;
        libraryFailures = 0;
        if (throughLibrary(inputs[i].text) != bare(inputs[i].text, &error)) {
            if (libraryFailures) {
                std::printf("note: %s hit the library's time limit (a loaded machine?)\n", inputs[i].name.c_str());
            } else {
                std::fprintf(stderr, "%s: the library and libsass disagree\n", inputs[i].name.c_str());
                status = 1;
            }
        }
        libraryFailures = 0;
        if (!error.empty())
            std::printf("note: %s does not convert: %s", inputs[i].name.c_str(), error.c_str());
        once[i] = timed(bareOnly, inputs[i].text);
    }

    printHeader();
    for (std::size_t i = 0; i < inputs.size(); ++i)
        backToBack(inputs[i], once[i]);
    for (std::size_t i = 0; i < inputs.size(); ++i)
        typing(inputs[i], once[i]);
    for (std::size_t i = 1; i < inputs.size(); ++i)
        switching(inputs[0], inputs[i], once[i]);
    return status;
}
