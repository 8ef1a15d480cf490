#include "Engine.h"

namespace VantorCompiler {

Engine::~Engine() = default;

void Engine::giveBack(Conversion&) {}

}  // namespace VantorCompiler
