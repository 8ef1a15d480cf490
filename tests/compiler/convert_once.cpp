// convert_once [--chdir DIR] [--wait] [--engine N] TEXT...: converts each
// TEXT in turn through the library and writes "css:" and the CSS, or "error:"
// and the error, each followed by a NUL, to standard output. --chdir changes
// the working directory first; --wait reads one byte from standard input
// before returning from main; --engine picks the engine by its code. For
// tests that need a process of its own: its exit,
// its limits, where it loaded the library from.
#include <VantorCompiler.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    int first = 1;
    bool wait = false;
    int engine = VantorCompiler::Libsass;
    for (; first < argc; ++first) {
        if (std::strcmp(argv[first], "--chdir") == 0 && first + 1 < argc) {
            if (chdir(argv[++first]) != 0) {
                std::perror("chdir");
                return 2;
            }
        } else if (std::strcmp(argv[first], "--wait") == 0) {
            wait = true;
        } else if (std::strcmp(argv[first], "--engine") == 0 && first + 1 < argc) {
            engine = std::atoi(argv[++first]);
        } else {
            break;
        }
    }
    if (first == argc) {
        std::fputs("usage: convert_once [--chdir DIR] [--wait] [--engine N] TEXT...\n", stderr);
        return 2;
    }
    for (int i = first; i < argc; ++i) {
        VantorCompiler::CompilerOptions options;
        options.engine = engine;
        options.input = sass_copy_c_string(argv[i]);
        const char* css = VantorCompiler::compile(options);
        const char* error = VantorCompiler::error();
        if (css)
            std::printf("css:%s", css);
        else
            std::printf("error:%s", error ? error : "");
        std::putchar('\0');
        VantorCompiler::free_memory();
    }
    std::fflush(stdout);
    if (wait) {
        char byte;
        if (read(0, &byte, 1) < 0)
            return 1;
    }
    return 0;
}
