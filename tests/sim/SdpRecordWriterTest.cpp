#include "sim/SdpRecordWriter.h"

#include <gtest/gtest.h>

#include "stack/wclExceptions.h"
#include "stack/wclSDPParser.h"
#include "stack/wclSDPService.h"
#include "stack/wclUUIDs.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kavri {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::optional<SdpServiceInfo> ReadBack(const Bytes& record) {
    const TwclSDPParser parser(record.data(), record.size());
    if (parser.Records().Count() != 1)
        throw std::runtime_error("expected one record");
    return ReadServiceFromRecord(parser.Records().Items(0));
}

TEST(SdpRecordWriter, ObjectPushRecordIsByteExact) {
    // An Object Push service on channel 9 named "Push", UTF-8.
    // Expected: the bytes a stack returns, attribute by attribute.
    const Bytes expected = {
        0x35, 0x3B,                                                  // outer sequence
        0x09, 0x00, 0x00, 0x0A, 0x00, 0x01, 0x00, 0x05,              // handle
        0x09, 0x00, 0x01, 0x35, 0x06, 0x19, 0x11, 0x01, 0x19, 0x11,  // classes
        0x05,                                                        //
        0x09, 0x00, 0x04, 0x35, 0x0C, 0x35, 0x03, 0x19, 0x01, 0x00,  // L2CAP
        0x35, 0x05, 0x19, 0x00, 0x03, 0x08, 0x09,                    // RFCOMM 9
        0x09, 0x00, 0x06, 0x35, 0x09, 0x09, 0x65, 0x6E, 0x09, 0x00,  // "en", 106,
        0x6A, 0x09, 0x01, 0x00,                                      // base 0x0100
        0x09, 0x01, 0x00, 0x25, 0x04, 'P',  'u',  's',  'h',         // name
    };
    EXPECT_EQ(
        BuildServiceRecord(0x00010005, {SerialPortServiceClassUUID, OBEXObjectPushServiceClassUUID},
                           9, "Push", "", SdpTextEncoding::Utf8),
        expected);
}

TEST(SdpRecordWriter, ElementsAreEncodedByteExact) {
    // Each element kind on its own.
    // Expected: descriptor, size field and big-endian data as the encoding defines.
    const GUID custom{0x01234567, 0x89AB, 0xCDEF, {0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87}};
    struct Case {
        const char* name;
        Bytes bytes;
        Bytes expected;
    };
    const Case cases[] = {
        {"nil", SdpRecordWriter().Nil().Bytes(), {0x00}},
        {"uint8", SdpRecordWriter().UInt8(0xAB).Bytes(), {0x08, 0xAB}},
        {"uint16", SdpRecordWriter().UInt16(0x1234).Bytes(), {0x09, 0x12, 0x34}},
        {"uint32", SdpRecordWriter().UInt32(0x12345678).Bytes(), {0x0A, 0x12, 0x34, 0x56, 0x78}},
        {"uuid16", SdpRecordWriter().Uuid16(0x1105).Bytes(), {0x19, 0x11, 0x05}},
        {"uuid32", SdpRecordWriter().Uuid32(0xABCD1105).Bytes(), {0x1A, 0xAB, 0xCD, 0x11, 0x05}},
        {"uuid128",
         SdpRecordWriter().Uuid128(custom).Bytes(),
         {0x1C, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5,
          0x96, 0x87}},
        {"shortest uuid: 16-bit",
         SdpRecordWriter().Uuid(L2CAPProtocolUUID).Bytes(),
         {0x19, 0x01, 0x00}},
        {"shortest uuid: 32-bit",
         SdpRecordWriter().Uuid(Uuid32ToGuid(0x10000)).Bytes(),
         {0x1A, 0x00, 0x01, 0x00, 0x00}},
        {"shortest uuid: 128-bit", SdpRecordWriter().Uuid(custom).Bytes(),
         SdpRecordWriter().Uuid128(custom).Bytes()},
        {"text", SdpRecordWriter().Text("ab").Bytes(), {0x25, 0x02, 'a', 'b'}},
        {"empty text", SdpRecordWriter().Text("").Bytes(), {0x25, 0x00}},
        {"bool", SdpRecordWriter().Bool(true).Bool(false).Bytes(), {0x28, 0x01, 0x28, 0x00}},
        {"empty sequence", SdpRecordWriter().BeginSequence().EndSequence().Bytes(), {0x35, 0x00}},
        {"nested sequences",
         SdpRecordWriter()
             .BeginSequence()
             .UInt8(1)
             .BeginSequence()
             .Nil()
             .EndSequence()
             .UInt8(2)
             .EndSequence()
             .Bytes(),
         {0x35, 0x07, 0x08, 0x01, 0x35, 0x01, 0x00, 0x08, 0x02}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.bytes, c.expected);
    }
}

TEST(SdpRecordWriter, SizeHeadersGrowWithTheContent) {
    // Sequences and texts at each boundary of the 1-, 2- and 4-byte sizes.
    // Expected: the shortest header that holds the size, size big-endian.
    struct Case {
        std::size_t size;
        Bytes header;
    };
    const Case cases[] = {
        {255, {0x35, 0xFF}},
        {256, {0x36, 0x01, 0x00}},
        {65535, {0x36, 0xFF, 0xFF}},
        {65536, {0x37, 0x00, 0x01, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        // Nil elements are one byte each, so the content is exactly c.size.
        SdpRecordWriter sequence;
        sequence.BeginSequence();
        for (std::size_t i = 0; i < c.size; ++i)
            sequence.Nil();
        const Bytes bytes = sequence.EndSequence().Bytes();
        ASSERT_EQ(bytes.size(), c.header.size() + c.size);
        EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + c.header.size()), c.header);

        Bytes textHeader = c.header;
        textHeader[0] = static_cast<std::uint8_t>(textHeader[0] - 0x35 + 0x25);
        const Bytes text = SdpRecordWriter().Text(std::string(c.size, 'x')).Bytes();
        EXPECT_EQ(Bytes(text.begin(), text.begin() + textHeader.size()), textHeader);
    }
}

TEST(SdpRecordWriter, MisuseOfSequencesThrows) {
    // Closing a sequence that is not open; taking bytes with one still open.
    // Expected: std::logic_error each time.
    EXPECT_THROW(SdpRecordWriter().EndSequence(), std::logic_error);
    EXPECT_THROW(SdpRecordWriter().BeginSequence().UInt8(1).Bytes(), std::logic_error);
}

struct RoundTripCase {
    const char* name;
    std::vector<GUID> classes;
    std::optional<std::uint8_t> channel;
    std::string serviceName;
    std::string comment;
    SdpTextEncoding encoding;
    std::optional<SdpProfileDescriptor> profile;
    GUID expectedUuid;
};

TEST(SdpRecordWriter, RecordsReadBackToTheSameService) {
    // Records built from service descriptions, read back through the parser.
    // Expected: the class (after the Serial Port and profile rules), channel,
    // name and comment that went in.
    const GUID custom{0x01234567, 0x89AB, 0xCDEF, {0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87}};
    const std::string longName(300, 'n');
    const std::vector<RoundTripCase> cases = {
        {"Object Push, UTF-8",
         {OBEXObjectPushServiceClassUUID},
         12,
         "Object Push",
         "Coupons",
         SdpTextEncoding::Utf8,
         std::nullopt,
         OBEXObjectPushServiceClassUUID},
        {"UTF-16 with accents and a surrogate pair",
         {OBEXObjectPushServiceClassUUID},
         3,
         "Caf\xC3\xA9 \xE2\x98\x95",
         "\xF0\x9F\x98\x80 gift",
         SdpTextEncoding::Utf16LE,
         std::nullopt,
         OBEXObjectPushServiceClassUUID},
        {"no RFCOMM: channel 0",
         {Uuid16ToGuid(0x1112)},
         std::nullopt,
         "Audio",
         "",
         SdpTextEncoding::Utf8,
         std::nullopt,
         Uuid16ToGuid(0x1112)},
        {"Serial Port listed first is passed over",
         {SerialPortServiceClassUUID, Uuid16ToGuid(0x1106)},
         31,
         "",
         "",
         SdpTextEncoding::Utf8,
         std::nullopt,
         Uuid16ToGuid(0x1106)},
        {"profile decides the class",
         {SerialPortServiceClassUUID},
         1,
         "Dial-up",
         "",
         SdpTextEncoding::Utf8,
         SdpProfileDescriptor{Uuid16ToGuid(0x1103), 0x0100},
         Uuid16ToGuid(0x1103)},
        {"128-bit class",
         {custom},
         5,
         "Vendor",
         "",
         SdpTextEncoding::Utf16LE,
         std::nullopt,
         custom},
        {"32-bit class",
         {Uuid32ToGuid(0x00ABCDEF)},
         5,
         "",
         "",
         SdpTextEncoding::Utf8,
         std::nullopt,
         Uuid32ToGuid(0x00ABCDEF)},
        {"name over 255 bytes makes 2-byte sizes",
         {OBEXObjectPushServiceClassUUID},
         2,
         longName,
         "c",
         SdpTextEncoding::Utf8,
         std::nullopt,
         OBEXObjectPushServiceClassUUID},
    };
    for (const RoundTripCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes record = BuildServiceRecord(0x00010001, c.classes, c.channel, c.serviceName,
                                                c.comment, c.encoding, c.profile);
        const std::optional<SdpServiceInfo> info = ReadBack(record);
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(GuidToString(info->UUID), GuidToString(c.expectedUuid));
        EXPECT_EQ(info->Channel, c.channel.value_or(0));
        EXPECT_EQ(info->Name, c.serviceName);
        EXPECT_EQ(info->Comment, c.comment);
    }
}

TEST(SdpRecordWriter, HostileChannelAndMissingClassReachTheReader) {
    // A record announcing channel 32, and one with no class list.
    // Expected: the reader raises the channel error; the second yields no service.
    const Bytes channel32 =
        BuildServiceRecord(1, {OBEXObjectPushServiceClassUUID}, 32, "x", "", SdpTextEncoding::Utf8);
    EXPECT_THROW(ReadBack(channel32), wclEInvalidChannelNumber);
    const Bytes noClass = BuildServiceRecord(1, {}, 4, "x", "", SdpTextEncoding::Utf8);
    EXPECT_FALSE(ReadBack(noClass).has_value());
}

TEST(SdpRecordWriter, RecordsInOneListParseAsSeparateRecords) {
    // Two records written inside one outer sequence, as a search returns them.
    // Expected: two records with their own handles and services.
    const Bytes first = BuildServiceRecord(0x00010001, {OBEXObjectPushServiceClassUUID}, 9, "Push",
                                           "", SdpTextEncoding::Utf8);
    const Bytes second = BuildServiceRecord(0x00010002, {Uuid16ToGuid(0x1106)}, 10, "FTP", "",
                                            SdpTextEncoding::Utf16LE);
    ASSERT_LT(first.size() + second.size(), 256u);
    Bytes list = {0x35, static_cast<std::uint8_t>(first.size() + second.size())};
    list.insert(list.end(), first.begin(), first.end());
    list.insert(list.end(), second.begin(), second.end());

    const TwclSDPParser parser(list.data(), list.size());
    ASSERT_EQ(parser.Records().Count(), 2u);
    EXPECT_EQ(parser.Records().Items(0).Handle(), 0x00010001u);
    EXPECT_EQ(parser.Records().Items(1).Handle(), 0x00010002u);
    const std::optional<SdpServiceInfo> push = ReadServiceFromRecord(parser.Records().Items(0));
    const std::optional<SdpServiceInfo> ftp = ReadServiceFromRecord(parser.Records().Items(1));
    ASSERT_TRUE(push && ftp);
    EXPECT_EQ(push->Channel, 9);
    EXPECT_EQ(ftp->Channel, 10);
    EXPECT_EQ(ftp->Name, "FTP");
    EXPECT_EQ(ftp->UUID, Uuid16ToGuid(0x1106));
}

}  // namespace
}  // namespace kavri
