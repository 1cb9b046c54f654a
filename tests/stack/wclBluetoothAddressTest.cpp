#include "stack/wclBluetoothAddress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "stack/wclExceptions.h"

namespace kavri {
namespace {

struct FormCase {
    const char* text;
    bool valid;
};

TEST(wclBluetoothAddress, ValidationFollowsTheTextForm) {
    // Texts that differ from the form in one way each.
    // Expected: only the exact 19-character form passes; failures throw the address error.
    const FormCase cases[] = {
        {"(00:00:00:00:00:00)", true},
        {"(00:11:22:AA:bb:Ff)", true},
        {"00:11:22:33:44:55", false},     // without parentheses
        {"(00:11:22:33:44:55", false},    // 18 characters
        {"(00:11:22:33:44:55) ", false},  // 20 characters
        {"[00:11:22:33:44:55]", false},
        {"(00-11-22-33-44-55)", false},
        {"(00:11:22:33:44:5G)", false},
        {"(0011:22:33:44:55:)", false},  // separators in the wrong places
        {"((0:11:22:33:44:55)", false},  // punctuation inside a byte
        {"(00:11:22:33:44::5)", false},
        {"( 0:11:22:33:44:55)", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(IsValidAddress(c.text), c.valid);
        if (c.valid) {
            EXPECT_NO_THROW(ValidateAddress(c.text));
        } else {
            EXPECT_THROW(ValidateAddress(c.text), wclEInvalidAddress);
            EXPECT_THROW(AddressToUInt64(c.text), wclEInvalidAddress);
            EXPECT_THROW(AddressToBytes(c.text), wclEInvalidAddress);
        }
    }
}

TEST(wclBluetoothAddress, EmbeddedNulIsNotAccepted) {
    // A 19-byte text with a NUL in place of a digit.
    // Expected: invalid.
    std::string text = "(00:11:22:33:44:55)";
    text[2] = '\0';
    EXPECT_FALSE(IsValidAddress(text));
}

TEST(wclBluetoothAddress, UpperCaseTextRoundTripsThroughEveryLayout) {
    // One address through the 64-bit, text-order and reversed layouts.
    // Expected: the same text back from each; bytes where each layout puts them.
    const std::string text = "(01:23:45:67:89:AB)";
    EXPECT_EQ(AddressToUInt64(text), 0x0123456789ABull);
    EXPECT_EQ(UInt64ToAddress(AddressToUInt64(text)), text);

    const AddressBytes inOrder = AddressToBytes(text);
    EXPECT_EQ(inOrder[0], 0x01);
    EXPECT_EQ(inOrder[5], 0xAB);
    EXPECT_EQ(BytesToAddress(inOrder), text);

    const AddressBytes reversed = AddressToReversedBytes(text);
    EXPECT_EQ(reversed[0], 0xAB);
    EXPECT_EQ(reversed[5], 0x01);
    EXPECT_EQ(ReversedBytesToAddress(reversed), text);
}

TEST(wclBluetoothAddress, LowerCaseTextConvertsButComesBackUpperCase) {
    // A lower-case text converted and formatted again.
    // Expected: the value is the same; the produced text uses upper-case digits,
    // so the two texts stay different strings.
    EXPECT_EQ(AddressToUInt64("(aa:bb:cc:dd:ee:ff)"), 0xAABBCCDDEEFFull);
    EXPECT_EQ(UInt64ToAddress(0xAABBCCDDEEFFull), "(AA:BB:CC:DD:EE:FF)");
}

TEST(wclBluetoothAddress, SixtyFourBitValueKeepsOnlyFortyEightBits) {
    // A value with bits above the 48 of an address.
    // Expected: the extra bits are ignored.
    EXPECT_EQ(UInt64ToAddress(0xFFFF000000000001ull), "(00:00:00:00:00:01)");
    EXPECT_EQ(UInt64ToAddress(0), std::string(kDefaultAddress));
}

TEST(wclBluetoothAddress, IrDAFormAndDeviceIdentifier) {
    // The 13-character IrDA form, valid and invalid, and its device identifier.
    // Expected: the identifier read as little-endian 32 bits has the first text byte on top.
    EXPECT_TRUE(IsValidIrDAAddress("(12:34:56:78)"));
    EXPECT_FALSE(IsValidIrDAAddress("(12:34:56:78:9A:BC)"));
    EXPECT_FALSE(IsValidIrDAAddress("12:34:56:78"));
    EXPECT_FALSE(IsValidIrDAAddress("(12:34:56-78)"));
    EXPECT_THROW(ValidateIrDAAddress("(12:34:56:7)"), wclEInvalidAddress);
    EXPECT_FALSE(IsValidAddress("(12:34:56:78)"));

    const IrDADeviceId id = IrDAAddressToDeviceId("(12:34:56:78)");
    std::uint32_t littleEndian = 0;
    for (int i = 3; i >= 0; --i)
        littleEndian = (littleEndian << 8) | id[static_cast<std::size_t>(i)];
    EXPECT_EQ(littleEndian, 0x12345678u);
    EXPECT_EQ(IrDADeviceIdToAddress(id), "(12:34:56:78)");
}

}  // namespace
}  // namespace kavri
