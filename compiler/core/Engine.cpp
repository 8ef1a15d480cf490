#include "Engine.h"

namespace VantorCompiler {

Engine::~Engine() = default;

}  // namespace VantorCompiler
