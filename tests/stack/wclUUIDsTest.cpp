#include "stack/wclUUIDs.h"

#include <gtest/gtest.h>

#include <string>

namespace kavri {
namespace {

TEST(wclUUIDs, ConstantsHaveTheirBluetoothValues) {
    // The library's constants written as text.
    // Expected: the base UUID, with the 16-bit values in the first field.
    struct Case {
        GUID uuid;
        const char* text;
    };
    const Case cases[] = {
        {BaseUUID, "00000000-0000-1000-8000-00805F9B34FB"},
        {RFCOMMProtocolUUID, "00000003-0000-1000-8000-00805F9B34FB"},
        {L2CAPProtocolUUID, "00000100-0000-1000-8000-00805F9B34FB"},
        {SerialPortServiceClassUUID, "00001101-0000-1000-8000-00805F9B34FB"},
        {OBEXObjectPushServiceClassUUID, "00001105-0000-1000-8000-00805F9B34FB"},
        {Uuid32ToGuid(0x12345678), "12345678-0000-1000-8000-00805F9B34FB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(GuidToString(c.uuid), c.text);
    }
    EXPECT_EQ(Uuid16ToGuid(0x1105), OBEXObjectPushServiceClassUUID);
}

TEST(wclUUIDs, EqualityComparesEveryField) {
    // GUIDs that differ from the base UUID in one field each.
    // Expected: each compares unequal; a copy compares equal.
    GUID copy = BaseUUID;
    EXPECT_EQ(copy, BaseUUID);
    GUID a = BaseUUID;
    a.Data1 = 1;
    GUID b = BaseUUID;
    b.Data2 = 1;
    GUID c = BaseUUID;
    c.Data3 = 0x1001;
    GUID d = BaseUUID;
    d.Data4[7] = 0xFA;
    GUID e = BaseUUID;
    e.Data4[0] = 0x81;
    for (const GUID& g : {a, b, c, d, e})
        EXPECT_NE(g, BaseUUID);
    EXPECT_TRUE(IsBluetoothBasedGuid(a));
    for (const GUID& g : {b, c, d, e})
        EXPECT_FALSE(IsBluetoothBasedGuid(g));
}

TEST(wclUUIDs, TextFormRoundTripsAndAcceptsEitherCaseAndBraces) {
    // A GUID with a distinct byte in every position, read in three spellings.
    // Expected: the same GUID each time, fields in big-endian text order.
    const GUID expected{
        0x01234567, 0x89AB, 0xCDEF, {0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87}};
    const std::string upper = "01234567-89AB-CDEF-F0E1-D2C3B4A59687";
    EXPECT_EQ(GuidToString(expected), upper);
    for (const char* text :
         {"01234567-89AB-CDEF-F0E1-D2C3B4A59687", "01234567-89ab-cdef-f0e1-d2c3b4a59687",
          "{01234567-89AB-CDEF-F0E1-D2C3B4A59687}"}) {
        SCOPED_TRACE(text);
        GUID parsed{};
        ASSERT_TRUE(StringToGuid(text, parsed));
        EXPECT_EQ(parsed, expected);
    }
}

TEST(wclUUIDs, MalformedTextIsRejectedAndLeavesTheValue) {
    // Texts that break the form in one way each.
    // Expected: false, and the target keeps its old value.
    const char* cases[] = {
        "",
        "00001105-0000-1000-8000-00805F9B34F",     // 35 characters
        "00001105-0000-1000-8000-00805F9B34FB0",   // 37 characters
        "00001105000010008000-00805F9B34FB----",   // dashes misplaced
        "00001105-0000-1000-8000_00805F9B34FB",    // other separator
        "0000110G-0000-1000-8000-00805F9B34FB",    // not a hex digit
        "+0001105-0000-1000-8000-00805F9B34FB",    // sign
        " 0001105-0000-1000-8000-00805F9B34FB",    // space
        "0x001105-0000-1000-8000-00805F9B34FB",    // prefix
        "{00001105-0000-1000-8000-00805F9B34FB",   // one brace
        "(00001105-0000-1000-8000-00805F9B34FB)",  // wrong brackets
        "{00001105-0000-1000-8000-00805F9B34FB}}",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        GUID value = OBEXObjectPushServiceClassUUID;
        EXPECT_FALSE(StringToGuid(text, value));
        EXPECT_EQ(value, OBEXObjectPushServiceClassUUID);
    }
    std::string withNul = "00001105-0000-1000-8000-00805F9B34FB";
    withNul[35] = '\0';
    GUID value = BaseUUID;
    EXPECT_FALSE(StringToGuid(withNul, value));
}

TEST(wclUUIDs, BigEndianBytesFollowTheFieldOrder) {
    // The OBEX Object Push class as the 16 bytes of an SDP record.
    // Expected: 00 00 11 05 00 00 10 00 80 00 00 80 5F 9B 34 FB, and back.
    const GuidBytes bytes = {0x00, 0x00, 0x11, 0x05, 0x00, 0x00, 0x10, 0x00,
                             0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};
    EXPECT_EQ(GuidToBigEndianBytes(OBEXObjectPushServiceClassUUID), bytes);
    EXPECT_EQ(GuidFromBigEndianBytes(bytes), OBEXObjectPushServiceClassUUID);
    const GUID mixed{0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x01}};
    const GuidBytes mixedBytes = GuidToBigEndianBytes(mixed);
    EXPECT_EQ(mixedBytes[0], 0x11);
    EXPECT_EQ(mixedBytes[4], 0x55);
    EXPECT_EQ(mixedBytes[7], 0x88);
    EXPECT_EQ(mixedBytes[15], 0x01);
    EXPECT_EQ(GuidFromBigEndianBytes(mixedBytes), mixed);
}

}  // namespace
}  // namespace kavri
