#include "Installation.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>

namespace VantorCompiler {
namespace {

// Any address inside this library, for dladdr.
void libraryAnchor() {}

}  // namespace

bool isExecutable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

// The loader's name for the library when that is absolute, else the kernel's
// from /proc/self/maps (a library found through a relative search path has a
// relative name).
std::string libraryFile() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&libraryAnchor), &info) && info.dli_fname && info.dli_fname[0] == '/')
        return info.dli_fname;
    const auto anchor = reinterpret_cast<std::uintptr_t>(&libraryAnchor);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        unsigned long long from = 0, to = 0;
        int pathAt = -1;
        if (std::sscanf(line.c_str(), "%llx-%llx %*s %*s %*s %*s %n", &from, &to, &pathAt) < 2 || pathAt < 0)
            continue;
        if (anchor >= from && anchor < to && line.size() > std::size_t(pathAt) && line[std::size_t(pathAt)] == '/')
            return line.substr(std::size_t(pathAt));
    }
    return {};
}

std::string besideLibrary(const std::string& name) {
    // Conversions run on one thread at a time, as the library's functions are.
    static std::map<std::string, std::string> found;
    if (const auto it = found.find(name); it != found.end())
        return it->second;
    const std::string library = libraryFile();
    const std::size_t slash = library.rfind('/');
    std::string path;
    if (slash != std::string::npos) {
        const std::string dir = library.substr(0, slash);
        const std::string beside = dir + "/" + name;
        const std::string installed = dir + "/../libexec/" + name;
        path = isExecutable(beside) || !isExecutable(installed) ? beside : installed;
    }
    return found.emplace(name, path).first->second;
}

bool pathFromEnvironment(const char* variable, std::string& path, std::string& problem) {
    path.clear();
    problem.clear();
    const char* value = std::getenv(variable);
    if (!value || !*value)
        return false;
    if (value[0] != '/') {
        problem = std::string(variable) + " is not an absolute path: " + value;
        return false;
    }
    path = value;
    return true;
}

}  // namespace VantorCompiler
