#pragma once

#include <VantorCompiler.h>

// The conversion options of this run. Starts at the record's defaults, is
// changed only by the options menu (and its input pointer by each conversion),
// and is never saved.
extern VantorCompiler::CompilerOptions options;
