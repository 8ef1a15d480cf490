// Converts one SCSS file through an installed Vantor.Compiler and prints the CSS, so that an
// unpacked package can be shown to work before it is installed anywhere.
//   pkg_smoke [--dart-sass] FILE.scss
// With --dart-sass, through Dart Sass (its launcher and runtime as installed beside the worker).
// Exit status 0 with the CSS on stdout; 1 with the reason on stderr.
#include <VantorCompiler.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    const bool dartSass = argc == 3 && std::string(argv[1]) == "--dart-sass";
    if (argc != 2 && !dartSass) {
        std::cerr << "usage: pkg_smoke [--dart-sass] FILE.scss\n";
        return 1;
    }
    const char* file = argv[argc - 1];
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::cerr << "pkg_smoke: cannot read " << file << "\n";
        return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();

    VantorCompiler::CompilerOptions options;
    options.engine = dartSass ? VantorCompiler::DartSass : VantorCompiler::Libsass;
    // libsass takes the input over and frees it, so it must come from its allocator.
    options.input = sass_copy_c_string(text.str().c_str());
    const char* css = VantorCompiler::compile(options);
    const char* error = VantorCompiler::error();
    const std::string result = css ? css : "";
    const std::string message = error ? error : "";
    VantorCompiler::free_memory();

    if (!message.empty() || result.empty()) {
        std::cerr << "pkg_smoke: no CSS" << (message.empty() ? "" : ": ") << message << "\n";
        return 1;
    }
    std::fputs(result.c_str(), stdout);
    return 0;
}
