#pragma once

namespace Simulator {

// The scenario the simulator runs when given no file: a tour of what scenarios can do, and a
// starting point for writing one.
extern const char* const defaultScenarioText;

}  // namespace Simulator
