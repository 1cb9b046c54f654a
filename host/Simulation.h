#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavri::host {

// The one switch that turns the virtual neighbourhood on, alike for every
// program: the option "--simulate [SCENARIO]" or, when the option is absent,
// the environment variable KAVRI_SIMULATION. Without either the real stacks
// run and no radio is ever invented.
inline constexpr std::string_view kSimulationVariable = "KAVRI_SIMULATION";
// The value of KAVRI_SIMULATION that names the built-in demo neighbourhood.
inline constexpr std::string_view kDemoScenarioName = "demo";

// The scenario file to run, or none for the real stacks. option is the value
// of "--simulate" (an empty text when it was given without one: the demo), or
// none when it was not given; it wins over variable. variable is the value of
// KAVRI_SIMULATION (a scenario path, or "demo"), or nullptr when unset; an
// empty value means off. Pure; throws only std::bad_alloc.
std::optional<std::string> ChooseScenario(const std::optional<std::string>& option,
                                          const char* variable);

// The "--simulate" option among a program's arguments (without the program
// name), for programs whose parser has no option with an optional value: none
// when absent; an empty text when it stands alone or before another option
// (a text starting with '-'); else the argument after it, or the text after
// "--simulate=". The first occurrence counts. Pure.
std::optional<std::string> SimulateOption(const std::vector<std::string>& arguments);

// ChooseScenario with this process's KAVRI_SIMULATION. Reads the environment,
// so call it on the main thread before other threads start.
std::optional<std::string> ChooseScenario(const std::optional<std::string>& option);

// Where the built-in demo scenario lives: beside the installed program
// (../share/kavri/demo.scenario), else in the source tree this program was
// built from.
std::string DemoScenarioPath();

}  // namespace kavri::host
