#include "app/AutoStart.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "app/AppTestFolder.h"

namespace kavri {
namespace {

DataFolder::Environment EnvironmentOf(std::map<std::string, std::string> variables) {
    return [variables](std::string_view name) -> std::optional<std::string> {
        const auto found = variables.find(std::string(name));
        return found == variables.end() ? std::nullopt : std::optional<std::string>(found->second);
    };
}

TEST(AutoStartTest, EntryLivesUnderXdgConfigHomeElseHomeConfig) {
    EXPECT_EQ(AutoStart::EntryPath(EnvironmentOf({{"XDG_CONFIG_HOME", "/x/cfg"}, {"HOME", "/h"}})),
              "/x/cfg/autostart/kavri.desktop");
    // A relative XDG_CONFIG_HOME is ignored.
    EXPECT_EQ(AutoStart::EntryPath(EnvironmentOf({{"XDG_CONFIG_HOME", "cfg"}, {"HOME", "/h"}})),
              "/h/.config/autostart/kavri.desktop");
    EXPECT_EQ(AutoStart::EntryPath(EnvironmentOf({{"XDG_CONFIG_HOME", ""}, {"HOME", "/h/"}})),
              "/h/.config/autostart/kavri.desktop");
}

TEST(AutoStartTest, OnWritesTheEntryAndOffDeletesIt) {
    test::TempFolder temp;
    const std::optional<std::string> path =
        AutoStart::EntryPath(EnvironmentOf({{"XDG_CONFIG_HOME", temp.Path() + "config"}}));
    ASSERT_TRUE(path);
    const AutoStart entry(*path);
    EXPECT_FALSE(entry.IsEnabled());

    std::string error;
    ASSERT_TRUE(test::Done(entry.Enable("/opt/kavri/bin/kavri"), error)) << error;
    EXPECT_TRUE(entry.IsEnabled());
    const std::string text = test::Slurp(*path);
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nExec=/opt/kavri/bin/kavri\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;

    // Enabling again replaces the entry; no temporary file stays behind.
    ASSERT_TRUE(test::Done(entry.Enable("/usr/bin/kavri"), error)) << error;
    EXPECT_NE(test::Slurp(*path).find("\nExec=/usr/bin/kavri\n"), std::string::npos);
    EXPECT_EQ(test::Tree(temp.Path() + "config").size(), 2u);

    ASSERT_TRUE(test::Done(entry.Disable(), error)) << error;
    EXPECT_FALSE(entry.IsEnabled());
    EXPECT_TRUE(test::Done(entry.Disable(), error))
        << "deleting a missing entry is no error: " << error;
}

TEST(AutoStartTest, ExecQuotesReservedCharacters) {
    EXPECT_NE(AutoStart::EntryText("/home/a b/kavri").find("\nExec=\"/home/a b/kavri\"\n"),
              std::string::npos);
    // '$' escaped inside quotes, then the backslash doubled for the string value.
    EXPECT_NE(AutoStart::EntryText("/x/$y").find("\nExec=\"/x/\\\\$y\"\n"), std::string::npos);
    EXPECT_NE(AutoStart::EntryText("/x/50%").find("\nExec=/x/50%%\n"), std::string::npos);
}

TEST(AutoStartTest, RefusesProgramsTheEntryCannotCarry) {
    test::TempFolder temp;
    const AutoStart entry(temp.Path() + "autostart/kavri.desktop");
    std::string error;
    for (const std::string program : {"kavri", "", "/x/a\nExec=/bin/evil", "/x/\xff"}) {
        EXPECT_FALSE(test::Done(entry.Enable(program), error)) << program;
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(entry.IsEnabled());
    }
}

TEST(AutoStartTest, FolderThatCannotBeMadeLeavesTheChoiceUnsaved) {
    test::TempFolder temp;
    test::Spill(temp.Path() + "autostart", "a file where the folder belongs");
    const AutoStart entry(temp.Path() + "autostart/kavri.desktop");
    std::string error;
    EXPECT_FALSE(test::Done(entry.Enable("/usr/bin/kavri"), error));
    EXPECT_NE(error.find("autostart"), std::string::npos) << error;
    EXPECT_FALSE(entry.IsEnabled());
}

}  // namespace
}  // namespace kavri
