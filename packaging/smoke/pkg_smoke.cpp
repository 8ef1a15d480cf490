// Converts one SCSS file through an installed Vantor.Compiler and prints the CSS, so that an
// unpacked package can be shown to work before it is installed anywhere.
//   pkg_smoke FILE.scss
// Exit status 0 with the CSS on stdout; 1 with the reason on stderr.
#include <VantorCompiler.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: pkg_smoke FILE.scss\n";
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "pkg_smoke: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();

    VantorCompiler::CompilerOptions options;
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
