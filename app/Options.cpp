#include "Options.h"

VantorCompiler::CompilerOptions options;
