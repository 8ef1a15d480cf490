// Compares one conversion through Vantor.Compiler (compile + error +
// free_memory, libsass running in the worker process) with the same libsass
// calls made directly in this process, on the same texts.
//
//   bench_compiler NAME=FILE...
//
// Prints, per input, the median of repeated runs of each and their ratio.
#include <VantorCompiler.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// What the program does per conversion, through the library.
std::size_t throughLibrary(const std::string& text) {
    VantorCompiler::CompilerOptions options;
    options.input = sass_copy_c_string(text.c_str());
    const char* css = VantorCompiler::compile(options);
    const char* error = VantorCompiler::error();
    const std::size_t size = (css ? std::strlen(css) : 0) + (error ? std::strlen(error) : 0);
    VantorCompiler::free_memory();
    return size;
}

// The same conversion with the same options, libsass in this process.
std::size_t bare(const std::string& text) {
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
    const std::size_t size = (css ? std::strlen(css) : 0) + (error ? std::strlen(error) : 0);
    sass_delete_data_context(data);
    return size;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s NAME=FILE...\n", argv[0]);
        return 2;
    }
    std::printf("%-8s %7s %9s %11s %12s %8s %9s\n", "input", "lines", "runs", "bare ms", "library ms", "ratio",
                "extra ms");
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::size_t eq = arg.find('=');
        const std::string name = eq == std::string::npos ? arg : arg.substr(0, eq);
        const std::string path = eq == std::string::npos ? arg : arg.substr(eq + 1);
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
        }
        std::stringstream buffer;
        buffer << file.rdbuf();
        std::string text = buffer.str();
        // The program converts the trimmed text.
        const std::size_t first = text.find_first_not_of(" \t\r\n");
        text = first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
        const long lines = std::count(text.begin(), text.end(), '\n') + 1;

        // Warm up both (this starts the worker) and check they agree.
        if (throughLibrary(text) != bare(text)) {
            std::fprintf(stderr, "%s: the library and libsass disagree\n", name.c_str());
            status = 1;
        }
        // Runs interleaved, so drift on a shared machine hits both alike.
        const auto single = Clock::now();
        bare(text);
        const double once = msSince(single);
        const int runs = std::clamp(static_cast<int>(3000 / std::max(once, 0.01)), 11, 301) | 1;
        std::vector<double> lib, direct;
        for (int r = 0; r < runs; ++r) {
            auto start = Clock::now();
            throughLibrary(text);
            lib.push_back(msSince(start));
            start = Clock::now();
            bare(text);
            direct.push_back(msSince(start));
        }
        const double l = median(lib), d = median(direct);
        std::printf("%-8s %7ld %9d %11.3f %12.3f %8.3f %9.3f\n", name.c_str(), lines, runs, d, l, l / d, l - d);
    }
    return status;
}
