#include "stack/wclSDPParser.h"

#include <gtest/gtest.h>

#include "stack/wclExceptions.h"
#include "stack/wclSDPService.h"
#include "stack/wclUUIDs.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace kavri {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct ExpectedElement {
    std::uint8_t type;
    Bytes data;
};

struct ExpectedAttribute {
    std::uint16_t id;
    std::vector<ExpectedElement> elements;
};

struct ExpectedRecord {
    std::uint32_t handle;
    std::vector<ExpectedAttribute> attributes;
};

// Parses a heap copy of exactly bytes.size() bytes, so that AddressSanitizer
// reports a read even one byte past the end.
TwclSDPParser Parse(const Bytes& bytes) {
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    return TwclSDPParser(exact.get(), bytes.size());
}

void ExpectRecords(const TwclSDPParser& parser, const std::vector<ExpectedRecord>& expected) {
    ASSERT_EQ(parser.Records().Count(), expected.size());
    for (std::size_t r = 0; r < expected.size(); ++r) {
        SCOPED_TRACE("record " + std::to_string(r));
        const TwclSDPServiceRecord& record = parser.Records().Items(r);
        EXPECT_EQ(record.Handle(), expected[r].handle);
        ASSERT_EQ(record.Attributes().Count(), expected[r].attributes.size());
        for (std::size_t a = 0; a < expected[r].attributes.size(); ++a) {
            SCOPED_TRACE("attribute " + std::to_string(a));
            const TwclSDPAttribute& attribute = record.Attributes().Items(a);
            const ExpectedAttribute& want = expected[r].attributes[a];
            EXPECT_EQ(attribute.ID(), want.id);
            ASSERT_EQ(attribute.Elements().Count(), want.elements.size());
            for (std::size_t e = 0; e < want.elements.size(); ++e) {
                SCOPED_TRACE("element " + std::to_string(e));
                const TwclSDPElement& element = attribute.Elements().Items(e);
                EXPECT_EQ(element.ElementType(), want.elements[e].type);
                EXPECT_EQ(element.Data(), want.elements[e].data);
                EXPECT_EQ(element.Size(), want.elements[e].data.size());
            }
        }
    }
}

// An Object Push record as a stack returns it: handle 0x00010005, classes
// Serial Port and Object Push, L2CAP and RFCOMM channel 9, language "en" with
// UTF-8 at base 0x0100, name "Push".
const Bytes kPushRecord = {
    0x35, 0x3B,                                                  // outer sequence, 59 bytes
    0x09, 0x00, 0x00, 0x0A, 0x00, 0x01, 0x00, 0x05,              // handle
    0x09, 0x00, 0x01, 0x35, 0x06, 0x19, 0x11, 0x01, 0x19, 0x11,  // class list
    0x05,                                                        //
    0x09, 0x00, 0x04, 0x35, 0x0C, 0x35, 0x03, 0x19, 0x01, 0x00,  // protocols
    0x35, 0x05, 0x19, 0x00, 0x03, 0x08, 0x09,                    //
    0x09, 0x00, 0x06, 0x35, 0x09, 0x09, 0x65, 0x6E, 0x09, 0x00,  // language base
    0x6A, 0x09, 0x01, 0x00,                                      //
    0x09, 0x01, 0x00, 0x25, 0x04, 'P',  'u',  's',  'h',         // name
};

const ExpectedRecord kPushExpected = {
    0x00010005,
    {
        {0x0001, {{3, {0x11, 0x01}}, {3, {0x11, 0x05}}}},
        {0x0004, {{3, {0x01, 0x00}}, {3, {0x00, 0x03}}, {1, {0x09}}}},
        {0x0006, {{1, {0x65, 0x6E}}, {1, {0x00, 0x6A}}, {1, {0x01, 0x00}}}},
        {0x0100, {{4, {'P', 'u', 's', 'h'}}}},
    },
};

// A record with handle 0x00010000: outer 1-byte-size sequence, handle, then
// the given attribute bytes.
Bytes Record(const Bytes& attributes, std::uint32_t handle = 0x00010000) {
    Bytes out = {0x35,
                 static_cast<std::uint8_t>(8 + attributes.size()),
                 0x09,
                 0x00,
                 0x00,
                 0x0A,
                 static_cast<std::uint8_t>(handle >> 24),
                 static_cast<std::uint8_t>(handle >> 16),
                 static_cast<std::uint8_t>(handle >> 8),
                 static_cast<std::uint8_t>(handle)};
    out.insert(out.end(), attributes.begin(), attributes.end());
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct ParseCase {
    const char* name;
    Bytes bytes;
    std::vector<ExpectedRecord> records;
};

TEST(wclSDPParser, RecordsParseIntoFlatAttributeElements) {
    // Hand-written buffers, one situation each.
    // Expected: exactly the records, attributes and leaf elements listed.
    const std::vector<ParseCase> cases = {
        {"empty buffer", {}, {}},
        {"Object Push record", kPushRecord, {kPushExpected}},
        {"outer sequence with a 2-byte size",
         Concat({{0x36, 0x00, 0x0D},
                 {0x09, 0x00, 0x00, 0x0A, 0x12, 0x34, 0x56, 0x78},
                 {0x09, 0x00, 0x05, 0x19, 0x10, 0x02}}),
         {{0x12345678, {{0x0005, {{3, {0x10, 0x02}}}}}}}},
        {"attribute before the handle is skipped with its sequence value",
         Concat({{0x35, 0x14},
                 {0x09, 0x00, 0x01, 0x35, 0x03, 0x19, 0x11, 0x05},
                 {0x09, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x07},
                 {0x09, 0x01, 0x00, 0x25, 0x01, 'x'}}),
         {{7, {{0x0100, {{4, {'x'}}}}}}}},
        {"attribute before the handle holding 0x09 bytes in its value",
         Concat({{0x09, 0x00, 0x02, 0x35, 0x03, 0x09, 0x00, 0x00},
                 {0x09, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x08}}),
         {{8, {}}}},
        {"nil element takes only its descriptor byte",
         Record({0x09, 0x00, 0x05, 0x35, 0x03, 0x00, 0x08, 0x07}),
         {{0x00010000, {{0x0005, {{0, {}}, {1, {0x07}}}}}}}},
        {"every fixed size of the size table",
         Record({0x09, 0x02, 0x00, 0x35, 0x26, 0x08, 0x01, 0x11, 0x01, 0x02, 0x0A,
                 0x01, 0x02, 0x03, 0x04, 0x0B, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                 0x07, 0x08, 0x1C, 0x00, 0x00, 0x11, 0x05, 0x00, 0x00, 0x10, 0x00,
                 0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB, 0x28, 0x01}),
         {{0x00010000,
           {{0x0200,
             {{1, {0x01}},
              {2, {0x01, 0x02}},
              {1, {0x01, 0x02, 0x03, 0x04}},
              {1, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}},
              {3,
               {0x00, 0x00, 0x11, 0x05, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B,
                0x34, 0xFB}},
              {5, {0x01}}}}}}}},
        {"sequence with a 4-byte size stays whole",
         Record({0x09, 0x00, 0x05, 0x37, 0x00, 0x00, 0x00, 0x03, 0x19, 0x11, 0x05}),
         {{0x00010000, {{0x0005, {{6, {0x19, 0x11, 0x05}}}}}}}},
        {"alternative stays whole",
         Record({0x09, 0x00, 0x05, 0x3D, 0x03, 0x19, 0x11, 0x05}),
         {{0x00010000, {{0x0005, {{7, {0x19, 0x11, 0x05}}}}}}}},
        {"text and URL with 2- and 4-byte sizes",
         Record({0x09, 0x01, 0x01, 0x26, 0x00, 0x02, 'h', 'i', 0x09, 0x01, 0x02, 0x47, 0x00, 0x00,
                 0x00, 0x01, 'u'}),
         {{0x00010000, {{0x0101, {{4, {'h', 'i'}}}}, {0x0102, {{8, {'u'}}}}}}}},
        {"two records inside an outer sequence",
         Concat({{0x35, 0x22},
                 Record({0x09, 0x00, 0x01, 0x35, 0x03, 0x19, 0x11, 0x05}, 0x00010001),
                 Record({0x09, 0x00, 0x01, 0x35, 0x03, 0x19, 0x11, 0x06}, 0x00010002)}),
         {{0x00010001, {{0x0001, {{3, {0x11, 0x05}}}}}},
          {0x00010002, {{0x0001, {{3, {0x11, 0x06}}}}}}}},
        {"inner sequence longer than the value: only the value's length counts",
         Record({0x09, 0x00, 0x01, 0x35, 0x02, 0x35, 0x05, 0x19, 0x11, 0x05}),
         {{0x00010000, {{0x0001, {}}}}}},
        {"element running over the end of the value ends the value",
         Record({0x09, 0x00, 0x04, 0x35, 0x03, 0x35, 0x05, 0x19, 0x00, 0x03, 0x08, 0x09}),
         {{0x00010000, {{0x0004, {{3, {0x00, 0x03}}}}}}}},
        {"top level steps 3 over other bytes and 2 over 0x35",
         Record({0xAA, 0xBB, 0xCC, 0x35, 0x09, 0x09, 0x01, 0x00, 0x25, 0x01, 'n'}),
         {{0x00010000, {{0x0100, {{4, {'n'}}}}}}}},
        {"handle descriptor is not checked",
         {0x09, 0x00, 0x00, 0xFF, 0xDE, 0xAD, 0xBE, 0xEF},
         {{0xDEADBEEF, {}}}},
        {"duplicate attributes are both kept",
         Record({0x09, 0x01, 0x00, 0x25, 0x01, 'a', 0x09, 0x01, 0x00, 0x25, 0x01, 'b'}),
         {{0x00010000, {{0x0100, {{4, {'a'}}}}, {0x0100, {{4, {'b'}}}}}}}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectRecords(Parse(c.bytes), c.records);
    }
}

TEST(wclSDPParser, LyingAndCutLengthsEndParsingWithWhatWasBuilt) {
    // Size fields of every width that claim more than the buffer holds, and
    // headers cut short.
    // Expected: no read outside the buffer, no large allocation; the records
    // and elements complete before the fault remain.
    const Bytes handle = {0x09, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x01};
    const Bytes before = {0x09, 0x00, 0x05, 0x08, 0x01};
    const ExpectedAttribute beforeExpected = {0x0005, {{1, {0x01}}}};
    const std::vector<ParseCase> cases = {
        {"text with a 1-byte size",
         Concat({handle, before, {0x09, 0x01, 0x00, 0x25, 0xFF, 'a', 'b', 'c'}}),
         {{1, {beforeExpected, {0x0100, {}}}}}},
        {"text with a 2-byte size",
         Concat({handle, before, {0x09, 0x01, 0x00, 0x26, 0xFF, 0xFF, 'a', 'b'}}),
         {{1, {beforeExpected, {0x0100, {}}}}}},
        {"text with a 4-byte size of 0xFFFFFFFF",
         Concat({handle, before, {0x09, 0x01, 0x00, 0x27, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}}),
         {{1, {beforeExpected, {0x0100, {}}}}}},
        {"4-byte-size sequence of 0xFFFFFFFF",
         Concat({handle, {0x09, 0x00, 0x01, 0x37, 0xFF, 0xFF, 0xFF, 0xFF, 0x19, 0x11, 0x05}}),
         {{1, {{0x0001, {}}}}}},
        {"1-byte-size sequence longer than the buffer keeps the elements that fit",
         Concat({handle, {0x09, 0x00, 0x01, 0x35, 0xFF, 0x19, 0x11, 0x01, 0x19, 0x11, 0x05, 0x19}}),
         {{1, {{0x0001, {{3, {0x11, 0x01}}, {3, {0x11, 0x05}}}}}}}},
        {"2-byte-size sequence longer than the buffer keeps the elements that fit",
         Concat({handle, {0x09, 0x00, 0x01, 0x36, 0xFF, 0xFF, 0x19, 0x11, 0x05}}),
         {{1, {{0x0001, {{3, {0x11, 0x05}}}}}}}},
        {"element inside a sequence with a 4-byte size of 0xFFFFFFFF",
         Concat({handle,
                 {0x09, 0x00, 0x01, 0x35, 0x09, 0x19, 0x11, 0x05, 0x27, 0xFF, 0xFF, 0xFF, 0xFF,
                  0x00}}),
         {{1, {{0x0001, {{3, {0x11, 0x05}}}}}}}},
        {"fixed-size element cut short",
         Concat({handle, {0x09, 0x00, 0x01, 0x35, 0x11, 0x1C, 0x00, 0x00, 0x11}}),
         {{1, {{0x0001, {}}}}}},
        {"value before any handle claiming 0xFFFFFFFF hides the rest",
         Concat({{0x09, 0x00, 0x01, 0x27, 0xFF, 0xFF, 0xFF, 0xFF}, handle}),
         {}},
        {"handle cut short", {0x35, 0x08, 0x09, 0x00, 0x00, 0x0A, 0x00, 0x01, 0x00}, {}},
        {"attribute identifier cut short", Concat({handle, {0x09, 0x01}}), {{1, {}}}},
        {"attribute without a value descriptor", Concat({handle, {0x09, 0x01, 0x00}}), {{1, {}}}},
        {"value size field cut short",
         Concat({handle, {0x09, 0x01, 0x00, 0x27, 0x00, 0x00, 0x00}}),
         {{1, {}}}},
        {"size field inside a value cut short",
         Concat({handle, {0x09, 0x01, 0x00, 0x35, 0x04, 0x26, 0x00}}),
         {{1, {{0x0100, {}}}}}},
        {"sequence header at the very end", Concat({handle, {0x09, 0x01, 0x00, 0x35}}), {{1, {}}}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectRecords(Parse(c.bytes), c.records);
    }
}

TEST(wclSDPParser, NullBufferYieldsNoRecords) {
    // A null buffer with length 0, and with a length that would be a lie.
    // Expected: no records and no read.
    EXPECT_EQ(TwclSDPParser(nullptr, 0).Records().Count(), 0u);
    EXPECT_EQ(TwclSDPParser(nullptr, 100).Records().Count(), 0u);
}

TEST(wclSDPParser, SequenceWithTwoByteSizeIsWalkedOverItsFullLength) {
    // A class list of 100 UUIDs (300 bytes, so a 2-byte size), then a name.
    // Expected: all 100 elements in order, and the name after them is found.
    Bytes attributes = {0x09, 0x00, 0x01, 0x36, 0x01, 0x2C};
    for (int i = 0; i < 100; ++i) {
        attributes.insert(attributes.end(), {0x19, 0x20, static_cast<std::uint8_t>(i)});
    }
    attributes.insert(attributes.end(), {0x09, 0x01, 0x00, 0x25, 0x02, 'o', 'k'});
    Bytes buffer = {0x36, 0x00, 0x00};
    buffer.insert(buffer.end(), {0x09, 0x00, 0x00, 0x0A, 0x00, 0x01, 0x00, 0x00});
    buffer.insert(buffer.end(), attributes.begin(), attributes.end());
    buffer[1] = static_cast<std::uint8_t>((buffer.size() - 3) >> 8);
    buffer[2] = static_cast<std::uint8_t>(buffer.size() - 3);

    const TwclSDPParser parser = Parse(buffer);
    ASSERT_EQ(parser.Records().Count(), 1u);
    const TwclSDPServiceRecord& record = parser.Records().Items(0);
    const TwclSDPAttribute* classes = record.FindAttribute(0x0001);
    ASSERT_NE(classes, nullptr);
    ASSERT_EQ(classes->Elements().Count(), 100u);
    for (std::size_t i = 0; i < 100; ++i)
        EXPECT_EQ(classes->Elements().Items(i).AsUInt16(), 0x2000 + i);
    const TwclSDPAttribute* name = record.FindAttribute(0x0100);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->Elements().Items(0).Data(), (Bytes{'o', 'k'}));
}

TEST(wclSDPParser, EveryPrefixOfValidRecordsParsesToAPrefixOfTheWhole) {
    // Two records cut at every length from 0 to their full size.
    // Expected: never a read outside (checked under AddressSanitizer); each
    // cut yields the records, attributes and elements of the whole in the same
    // order, only fewer, and the element count never falls as the cut grows.
    const Bytes whole =
        Concat({kPushRecord, Record({0x09, 0x01, 0x01, 0x25, 0x03, 'a', 'b', 'c', 0x09, 0x00, 0x01,
                                     0x35, 0x03, 0x19, 0x11, 0x06},
                                    0x00010006)});
    const TwclSDPParser full = Parse(whole);
    ASSERT_EQ(full.Records().Count(), 2u);
    std::size_t previousElements = 0;
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE("length " + std::to_string(length));
        const TwclSDPParser cut = Parse(Bytes(whole.begin(), whole.begin() + length));
        ASSERT_LE(cut.Records().Count(), full.Records().Count());
        std::size_t elements = 0;
        for (std::size_t r = 0; r < cut.Records().Count(); ++r) {
            const TwclSDPServiceRecord& got = cut.Records().Items(r);
            const TwclSDPServiceRecord& want = full.Records().Items(r);
            EXPECT_EQ(got.Handle(), want.Handle());
            ASSERT_LE(got.Attributes().Count(), want.Attributes().Count());
            for (std::size_t a = 0; a < got.Attributes().Count(); ++a) {
                const TwclSDPAttribute& gotAttribute = got.Attributes().Items(a);
                const TwclSDPAttribute& wantAttribute = want.Attributes().Items(a);
                EXPECT_EQ(gotAttribute.ID(), wantAttribute.ID());
                ASSERT_LE(gotAttribute.Elements().Count(), wantAttribute.Elements().Count());
                for (std::size_t e = 0; e < gotAttribute.Elements().Count(); ++e) {
                    EXPECT_EQ(gotAttribute.Elements().Items(e).Data(),
                              wantAttribute.Elements().Items(e).Data());
                    EXPECT_EQ(gotAttribute.Elements().Items(e).ElementType(),
                              wantAttribute.Elements().Items(e).ElementType());
                }
                elements += gotAttribute.Elements().Count();
            }
        }
        EXPECT_GE(elements, previousElements);
        previousElements = elements;
    }
    EXPECT_EQ(previousElements, 11u);
}

TEST(wclSDPParser, RandomBuffersStayInsideAndCopyOnlyWhatIsThere) {
    // 20 000 seeded buffers: random bytes weighted toward descriptors, and the
    // Object Push record with a few bytes changed.
    // Expected: parsing ends, reads stay inside (AddressSanitizer), every
    // element's data is bytes of the buffer, the copied data never exceeds the
    // buffer, and reading a service either works or raises only the channel error.
    std::mt19937 random(20240611);
    const std::uint8_t interesting[] = {0x00, 0x08, 0x09, 0x0A, 0x19, 0x1A, 0x1C, 0x25,
                                        0x26, 0x27, 0x35, 0x36, 0x37, 0x3D, 0xFF};
    std::size_t recordsSeen = 0;
    std::size_t servicesRead = 0;
    for (int round = 0; round < 20000; ++round) {
        Bytes buffer;
        if (round % 2 == 0) {
            buffer.resize(random() % 97);
            for (std::uint8_t& b : buffer) {
                b = random() % 2 == 0 ? interesting[random() % sizeof(interesting)]
                                      : static_cast<std::uint8_t>(random());
            }
        } else {
            buffer = kPushRecord;
            const unsigned changes = 1 + random() % 3;
            for (unsigned i = 0; i < changes; ++i)
                buffer[random() % buffer.size()] = static_cast<std::uint8_t>(random());
        }
        const TwclSDPParser parser = Parse(buffer);
        ASSERT_LE(parser.Records().Count(), buffer.size() / 8);
        std::size_t copied = 0;
        for (const TwclSDPServiceRecord& record : parser.Records()) {
            ++recordsSeen;
            for (const TwclSDPAttribute& attribute : record.Attributes()) {
                for (const TwclSDPElement& element : attribute.Elements()) {
                    copied += element.Size();
                    ASSERT_NE(std::search(buffer.begin(), buffer.end(), element.Data().begin(),
                                          element.Data().end()),
                              buffer.end());
                }
            }
            try {
                if (ReadServiceFromRecord(record))
                    ++servicesRead;
            } catch (const wclEInvalidChannelNumber&) {
            }
        }
        ASSERT_LE(copied, buffer.size());
    }
    // The loop exercised the parser rather than rejecting everything early.
    EXPECT_GT(recordsSeen, 5000u);
    EXPECT_GT(servicesRead, 1000u);
}

TEST(wclSDPParser, ListIndexOutOfRangeRaisesTheLibraryError) {
    // Index access one past the end of each list.
    // Expected: wclEIndexOutOfRange.
    const TwclSDPParser parser = Parse(kPushRecord);
    EXPECT_THROW(parser.Records().Items(1), wclEIndexOutOfRange);
    const TwclSDPServiceRecord& record = parser.Records().Items(0);
    EXPECT_THROW(record.Attributes().Items(4), wclEIndexOutOfRange);
    EXPECT_THROW(record.Attributes().Items(0).Elements().Items(2), wclEIndexOutOfRange);
    EXPECT_THROW(Parse({}).Records().Items(0), wclEIndexOutOfRange);
}

TEST(wclSDPParser, FindAttributeReturnsTheFirstMatchOrNothing) {
    // A record with two name attributes.
    // Expected: the first one; nullptr for an absent identifier.
    const TwclSDPParser parser =
        Parse(Record({0x09, 0x01, 0x00, 0x25, 0x01, 'a', 0x09, 0x01, 0x00, 0x25, 0x01, 'b'}));
    const TwclSDPServiceRecord& record = parser.Records().Items(0);
    const TwclSDPAttribute* name = record.FindAttribute(0x0100);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name, &record.Attributes().Items(0));
    EXPECT_EQ(record.FindAttribute(0x0101), nullptr);
    EXPECT_EQ(record.FindAttribute(0x0000), nullptr);
}

TEST(wclSDPParser, ShortElementsReadMissingBytesAsZero) {
    // Integer accessors on elements with fewer bytes than they read.
    // Expected: present bytes big-endian in their places, missing bytes 0.
    const TwclSDPElement empty(0, {});
    EXPECT_EQ(empty.AsUInt8(), 0u);
    EXPECT_EQ(empty.AsUInt16(), 0u);
    EXPECT_EQ(empty.AsUInt32(), 0u);
    const TwclSDPElement one(1, {0x05});
    EXPECT_EQ(one.AsUInt8(), 0x05u);
    EXPECT_EQ(one.AsUInt16(), 0x0500u);
    EXPECT_EQ(one.AsUInt32(), 0x05000000u);
    const TwclSDPElement three(1, {0x12, 0x34, 0x56});
    EXPECT_EQ(three.AsUInt16(), 0x1234u);
    EXPECT_EQ(three.AsUInt32(), 0x12345600u);
    const TwclSDPElement eight(1, {0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x02, 0x03, 0x04});
    EXPECT_EQ(eight.AsUInt8(), 0x89u);
    EXPECT_EQ(eight.AsUInt32(), 0x89ABCDEFu);
}

// ---- Reading a service from a record ----

struct ServiceCase {
    const char* name;
    Bytes attributes;  // after the handle
    GUID uuid;
    std::uint8_t channel;
    std::string serviceName;
    std::string comment;
};

const Bytes kLanguageUtf8 = {0x09, 0x00, 0x06, 0x35, 0x09, 0x09, 0x65,
                             0x6E, 0x09, 0x00, 0x6A, 0x09, 0x01, 0x00};
const Bytes kLanguageLatin1 = {0x09, 0x00, 0x06, 0x35, 0x09, 0x09, 0x65,
                               0x6E, 0x09, 0x00, 0x04, 0x09, 0x01, 0x00};
const Bytes kClassPush = {0x09, 0x00, 0x01, 0x35, 0x03, 0x19, 0x11, 0x05};

std::optional<SdpServiceInfo> ReadService(const Bytes& attributes) {
    const TwclSDPParser parser = Parse(Record(attributes));
    return ReadServiceFromRecord(parser.Records().Items(0));
}

TEST(wclSDPService, ServiceIsReadFromTheFlatRecord) {
    // Records that vary the class, protocol, language and text attributes.
    // Expected: the class UUID, channel, name and comment listed.
    const GUID custom{0x01234567, 0x89AB, 0xCDEF, {0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87}};
    const std::vector<ServiceCase> cases = {
        {"Object Push record", Bytes(kPushRecord.begin() + 10, kPushRecord.end()),
         OBEXObjectPushServiceClassUUID, 9, "Push", ""},
        {"Serial Port then Object Push: Object Push",
         {0x09, 0x00, 0x01, 0x35, 0x06, 0x19, 0x11, 0x01, 0x19, 0x11, 0x05},
         OBEXObjectPushServiceClassUUID,
         0,
         "",
         ""},
        {"only Serial Port: Serial Port",
         {0x09, 0x00, 0x01, 0x35, 0x03, 0x19, 0x11, 0x01},
         SerialPortServiceClassUUID,
         0,
         "",
         ""},
        {"Serial Port as a 32-bit UUID is passed over too",
         {0x09, 0x00, 0x01, 0x35, 0x08, 0x1A, 0xAB, 0xCD, 0x11, 0x01, 0x19, 0x11, 0x06},
         Uuid16ToGuid(0x1106),
         0,
         "",
         ""},
        {"Serial Port as a 128-bit UUID is passed over too",
         {0x09, 0x00, 0x01, 0x35, 0x14, 0x1C, 0x00, 0x00, 0x11, 0x01, 0x00, 0x00, 0x10,
          0x00, 0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB, 0x19, 0x11, 0x05},
         OBEXObjectPushServiceClassUUID,
         0,
         "",
         ""},
        {"32-bit class fills the whole first field",
         {0x09, 0x00, 0x01, 0x35, 0x05, 0x1A, 0xAB, 0xCD, 0x11, 0x05},
         Uuid32ToGuid(0xABCD1105),
         0,
         "",
         ""},
        {"128-bit class supplies every field",
         {0x09, 0x00, 0x01, 0x35, 0x11, 0x1C, 0x01, 0x23, 0x45, 0x67, 0x89,
          0xAB, 0xCD, 0xEF, 0xF0, 0xE1, 0xD2, 0xC3, 0xB4, 0xA5, 0x96, 0x87},
         custom,
         0,
         "",
         ""},
        {"profile list wins over the class list",
         Concat({kClassPush,
                 {0x09, 0x00, 0x09, 0x35, 0x08, 0x35, 0x06, 0x19, 0x11, 0x06, 0x09, 0x01, 0x00}}),
         Uuid16ToGuid(0x1106), 0, "", ""},
        {"profile list element 0 even when it is Serial Port",
         {0x09, 0x00, 0x09, 0x35, 0x08, 0x35, 0x06, 0x19, 0x11, 0x01, 0x09, 0x01, 0x00},
         SerialPortServiceClassUUID,
         0,
         "",
         ""},
        {"L2CAP only: channel 0",
         Concat({kClassPush, {0x09, 0x00, 0x04, 0x35, 0x05, 0x35, 0x03, 0x19, 0x01, 0x00}}),
         OBEXObjectPushServiceClassUUID, 0, "", ""},
        {"channel 31 is accepted",
         Concat({kClassPush,
                 {0x09, 0x00, 0x04, 0x35, 0x0C, 0x35, 0x03, 0x19, 0x01, 0x00, 0x35, 0x05, 0x19,
                  0x00, 0x03, 0x08, 0x1F}}),
         OBEXObjectPushServiceClassUUID, 31, "", ""},
        {"channel given as a 16-bit integer reads its first byte",
         Concat({kClassPush,
                 {0x09, 0x00, 0x04, 0x35, 0x0D, 0x35, 0x03, 0x19, 0x01, 0x00, 0x35, 0x06, 0x19,
                  0x00, 0x03, 0x09, 0x00, 0x0C}}),
         OBEXObjectPushServiceClassUUID, 0, "", ""},
        {"UTF-8 with character set 106",
         Concat({kClassPush,
                 kLanguageUtf8,
                 {0x09, 0x01, 0x00, 0x25, 0x05, 'C', 'a', 'f', 0xC3, 0xA9, 0x09, 0x01, 0x01, 0x25,
                  0x03, 'e', 'n', 'd'}}),
         OBEXObjectPushServiceClassUUID, 0, "Caf\xC3\xA9", "end"},
        {"UTF-8 without a language base attribute",
         Concat({kClassPush, {0x09, 0x01, 0x00, 0x25, 0x02, 0xC3, 0xA9}}),
         OBEXObjectPushServiceClassUUID, 0, "\xC3\xA9", ""},
        {"UTF-8 when the language base has only one element",
         Concat({kClassPush,
                 {0x09, 0x00, 0x06, 0x35, 0x03, 0x09, 0x65, 0x6E},
                 {0x09, 0x01, 0x00, 0x25, 0x02, 'h', 'i'}}),
         OBEXObjectPushServiceClassUUID, 0, "hi", ""},
        {"character set 4: UTF-16 little-endian",
         Concat({kClassPush, kLanguageLatin1, {0x09, 0x01, 0x00, 0x25, 0x06, 'C',  0x00, 0xE9,
                                               0x00, 0x3D, 0xD8, 0x09, 0x01, 0x01, 0x25, 0x08,
                                               0x3D, 0xD8, 0x00, 0xDE, '!',  0x00, 'x',  0x00}}),
         OBEXObjectPushServiceClassUUID, 0, "C\xC3\xA9\xEF\xBF\xBD", "\xF0\x9F\x98\x80!x"},
        {"UTF-16 odd last byte is dropped",
         Concat({kClassPush,
                 kLanguageLatin1,
                 {0x09, 0x01, 0x00, 0x25, 0x05, 'O', 0x00, 'K', 0x00, 'Z'}}),
         OBEXObjectPushServiceClassUUID, 0, "OK", ""},
        {"UTF-16 texts end at a NUL code unit",
         Concat({kClassPush,
                 kLanguageLatin1,
                 {0x09, 0x01, 0x00, 0x25, 0x06, 'O', 0x00, 0x00, 0x00, 'x', 0x00}}),
         OBEXObjectPushServiceClassUUID, 0, "O", ""},
        {"texts end at a NUL",
         Concat({kClassPush, {0x09, 0x01, 0x00, 0x25, 0x05, 'O', 'P', 'P', 0x00, 'x'}}),
         OBEXObjectPushServiceClassUUID, 0, "OPP", ""},
        {"malformed UTF-8 becomes replacement characters",
         Concat({kClassPush, kLanguageUtf8, {0x09, 0x01, 0x00, 0x25, 0x03, 'a', 0xFF, 'b'}}),
         OBEXObjectPushServiceClassUUID, 0,
         "a\xEF\xBF\xBD"
         "b",
         ""},
        {"name with a lying length has no element and is empty",
         Concat({kClassPush, {0x09, 0x01, 0x00, 0x25, 0x40, 'a'}}), OBEXObjectPushServiceClassUUID,
         0, "", ""},
    };
    for (const ServiceCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<SdpServiceInfo> info = ReadService(c.attributes);
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(GuidToString(info->UUID), GuidToString(c.uuid));
        EXPECT_EQ(info->Channel, c.channel);
        EXPECT_EQ(info->Name, c.serviceName);
        EXPECT_EQ(info->Comment, c.comment);
    }
}

TEST(wclSDPService, RecordsWithoutAClassYieldNoService) {
    // Records with no class attribute, an empty class list, or an empty
    // profile list beside a good class list.
    // Expected: no service in each case.
    const Bytes emptyClassList = {0x09, 0x00, 0x01, 0x35, 0x00};
    const Bytes emptyProfileList = {0x09, 0x00, 0x09, 0x35, 0x00};
    EXPECT_FALSE(ReadService({0x09, 0x01, 0x00, 0x25, 0x01, 'x'}).has_value());
    EXPECT_FALSE(ReadService(emptyClassList).has_value());
    EXPECT_FALSE(ReadService(Concat({kClassPush, emptyProfileList})).has_value());
}

TEST(wclSDPService, ChannelOf32OrMoreRaisesTheChannelError) {
    // RFCOMM channels 32 and 255.
    // Expected: wclEInvalidChannelNumber.
    for (std::uint8_t channel : {std::uint8_t{32}, std::uint8_t{255}}) {
        SCOPED_TRACE(channel);
        const Bytes protocols = {0x09, 0x00, 0x04, 0x35, 0x0C, 0x35, 0x03, 0x19,   0x01,
                                 0x00, 0x35, 0x05, 0x19, 0x00, 0x03, 0x08, channel};
        EXPECT_THROW(ReadService(Concat({kClassPush, protocols})), wclEInvalidChannelNumber);
    }
}

}  // namespace
}  // namespace kavri
