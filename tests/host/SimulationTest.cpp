// The simulation switch: the option, the environment variable, or neither.
#include "host/Simulation.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace kavri::host {
namespace {

TEST(Simulation, OptionWinsThenVariableThenNothing) {
    // Situation: every combination of the option (absent, without value, with
    // a path) and the variable (unset, empty, "demo", a path).
    // Expected: the option decides whenever given; otherwise the variable,
    // where empty is off; never a scenario without either.
    const std::string demo = DemoScenarioPath();
    struct Case {
        std::optional<std::string> option;
        const char* variable;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {std::nullopt, nullptr, std::nullopt},
        {std::nullopt, "", std::nullopt},
        {std::nullopt, "demo", demo},
        {std::nullopt, "/srv/street.scenario", "/srv/street.scenario"},
        {"", nullptr, demo},
        {"", "/srv/street.scenario", demo},
        {"/srv/mine.scenario", "demo", "/srv/mine.scenario"},
        {"/srv/mine.scenario", "", "/srv/mine.scenario"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseScenario(c.option, c.variable), c.expected)
            << "option " << c.option.value_or("<absent>") << ", variable "
            << (c.variable ? c.variable : "<unset>");
    }
}

TEST(Simulation, TheOptionIsFoundAmongAProgramsArguments) {
    // Situation: argument lists with the option absent, alone, last, before
    // another option, with a value, in "=" form, and given twice.
    // Expected: none, the empty text (the demo), the value, the first one.
    using Args = std::vector<std::string>;
    EXPECT_EQ(SimulateOption(Args{}), std::nullopt);
    EXPECT_EQ(SimulateOption(Args{"--simulated", "x"}), std::nullopt);
    EXPECT_EQ(SimulateOption(Args{"--minimized", "--simulate"}), "");
    EXPECT_EQ(SimulateOption(Args{"--simulate", "--minimized"}), "");
    EXPECT_EQ(SimulateOption(Args{"--simulate", ""}), "");
    EXPECT_EQ(SimulateOption(Args{"--simulate", "street.scenario"}), "street.scenario");
    EXPECT_EQ(SimulateOption(Args{"--simulate=street.scenario"}), "street.scenario");
    EXPECT_EQ(SimulateOption(Args{"--simulate=", "street.scenario"}), "");
    EXPECT_EQ(SimulateOption(Args{"--simulate", "a", "--simulate", "b"}), "a");
}

TEST(Simulation, TheProcessVariableIsReadWhenTheOptionIsAbsent) {
    // Situation: KAVRI_SIMULATION set to a path, then to an empty value.
    // Expected: the path without the option; off when empty; the option
    // still wins.
    ASSERT_EQ(::setenv("KAVRI_SIMULATION", "/srv/env.scenario", 1), 0);
    EXPECT_EQ(ChooseScenario(std::nullopt), "/srv/env.scenario");
    EXPECT_EQ(ChooseScenario(std::string("/srv/mine.scenario")), "/srv/mine.scenario");
    ASSERT_EQ(::setenv("KAVRI_SIMULATION", "", 1), 0);
    EXPECT_EQ(ChooseScenario(std::nullopt), std::nullopt);
    ::unsetenv("KAVRI_SIMULATION");
    EXPECT_EQ(ChooseScenario(std::nullopt), std::nullopt);
}

}  // namespace
}  // namespace kavri::host
