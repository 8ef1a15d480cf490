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
#include <VantorCompiler.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <dirent.h>
#include <sys/resource.h>
#include <time.h>

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

}  // namespace

int main(int argc, char** argv) {
    std::string rssPath;
    std::vector<Input> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rss" && i + 1 < argc) {
            rssPath = argv[++i];
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
        inputs.push_back(std::move(in));
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s [--rss BIG.scss] NAME=FILE...\n", argv[0]);
        return 2;
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
