// Where the library's helper programs are: beside the library in the build
// tree, in ../libexec relative to it when installed, or where an environment
// variable names them.
//
// Shared by both engines; nothing here is exported.
#pragma once

#include <string>

namespace VantorCompiler {

// The absolute path of this library's file; empty when unknown.
std::string libraryFile();

// The absolute path of name beside this library when it is executable there,
// else in ../libexec relative to it; found once per name. Empty when this
// library's own place is unknown.
std::string besideLibrary(const std::string& name);

// The value of the environment variable when it is set and not empty: true
// with path set to it when it is an absolute path, false with problem saying
// so when it is not (a relative one would name whatever the current directory
// holds). False with both empty when it is not set.
bool pathFromEnvironment(const char* variable, std::string& path, std::string& problem);

bool isExecutable(const std::string& path);

}  // namespace VantorCompiler
