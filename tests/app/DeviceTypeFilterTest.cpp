#include "app/DeviceTypeFilter.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace kavri {
namespace {

TEST(DeviceTypeFilter, ParsesTheOperatorsListIntoTheStoredForm) {
    // Situation: lists as an operator types them: any case, blanks, repeats,
    // any order; empty and blank text.
    // Expected: the names in table order, each once; empty for every type.
    struct Case {
        const char* typed;
        const char* stored;
    };
    const Case cases[] = {
        {"Phone,Computer", "Computer,Phone"},
        {" phone , AUDIO ", "Phone,Audio"},
        {"toy,Toy,TOY", "Toy"},
        {"unknown,wearable,video,peripheral,lan", "Unknown,LAN,Peripheral,Video,Wearable"},
        {"", ""},
        {"   ", ""},
    };
    for (const Case& c : cases) {
        DeviceTypeFilter filter;
        const Result parsed = DeviceTypeFilter::Parse(c.typed, filter);
        ASSERT_TRUE(parsed.Ok) << c.typed << ": " << parsed.Message;
        EXPECT_EQ(filter.Text(), c.stored) << c.typed;
    }
}

TEST(DeviceTypeFilter, RefusesWrongNamesAndListsTheValidOnes) {
    // Situation: a misspelt name, a name of a device-type text rather than a
    // class, an empty item between commas, a trailing comma.
    // Expected: refused, naming the wrong item and every valid name; the
    // filter given keeps its value.
    const char* wrong[] = {"Phone,Compter", "Smartphone", "Phone,,Audio", "Phone,"};
    for (const char* typed : wrong) {
        DeviceTypeFilter filter;
        filter.Set(2, true);
        const Result parsed = DeviceTypeFilter::Parse(typed, filter);
        EXPECT_FALSE(parsed.Ok) << typed;
        EXPECT_NE(
            parsed.Message.find("(valid: Unknown, Computer, Phone, LAN, Audio, Peripheral, Video, "
                                "Wearable, Toy)"),
            std::string::npos)
            << parsed.Message;
        EXPECT_EQ(filter.Text(), "Phone") << typed;
    }
    DeviceTypeFilter filter;
    EXPECT_NE(DeviceTypeFilter::Parse("Phone,Compter", filter).Message.find("\"Compter\""),
              std::string::npos);
    EXPECT_NE(DeviceTypeFilter::Parse("Phone,,Audio", filter).Message.find("an empty name"),
              std::string::npos);
}

TEST(DeviceTypeFilter, StoredTextIgnoresNamesItDoesNotKnow) {
    // Situation: stored values with a name of a later version, and with no
    // known name at all. Expected: the known names count; without any, every
    // type (the default of a value that does not convert).
    EXPECT_EQ(DeviceTypeFilter::FromStored("Phone,Health").Text(), "Phone");
    EXPECT_TRUE(DeviceTypeFilter::FromStored("Health").AllTypes());
    EXPECT_TRUE(DeviceTypeFilter::FromStored("").AllTypes());
}

TEST(DeviceTypeFilter, MatchesByMajorClass) {
    // Situation: a Phone filter and an Unknown filter against classes of every
    // kind. Expected: the major class decides, minor and service bits do not;
    // Unknown covers 0, 9 to 30 and 31; a class that could not be read
    // matches only every type.
    DeviceTypeFilter phones;
    phones.Set(2, true);
    EXPECT_TRUE(phones.Matches(0x5A020C));  // smartphone with service bits
    EXPECT_TRUE(phones.Matches(0x000200));
    EXPECT_FALSE(phones.Matches(0x240404));  // headset
    EXPECT_FALSE(phones.Matches(0x3E010C));  // laptop
    EXPECT_FALSE(phones.Matches(std::nullopt));

    DeviceTypeFilter unknown;
    unknown.Set(0, true);
    for (std::uint32_t cod : {0x000000u, 0x000900u, 0x001E00u, 0x001F00u}) {
        EXPECT_TRUE(unknown.Matches(cod)) << std::hex << cod;
    }
    EXPECT_FALSE(unknown.Matches(0x000800));  // toy

    EXPECT_TRUE(DeviceTypeFilter().Matches(std::nullopt));
    // Removing the last type leaves every type.
    phones.Set(2, false);
    EXPECT_TRUE(phones.AllTypes());
}

}  // namespace
}  // namespace kavri
