#include "sim/ScenarioParser.h"

#include "platform/Text.h"
#include "stack/wclBluetoothAddress.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace kavri::sim {
namespace {

using namespace std::string_view_literals;

std::string ComposeMessage(const std::string& source, std::size_t line, const std::string& reason) {
    if (line == 0)
        return source + ": " + reason;
    return source + ":" + std::to_string(line) + ": " + reason;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::uint64_t kAddressMask = 0xFFFF'FFFF'FFFFULL;
constexpr std::uint32_t kMaxClassOfDevice = 0xFFFFFF;
constexpr std::size_t kMaxEndpointBytes = 261;  // a 253-byte host name, ":" and a port
constexpr std::size_t kShownTokenBytes = 64;    // of an offending token in a message

bool IsDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

void AppendHexByte(std::string& out, std::uint8_t byte) {
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
}

std::string HexText(std::uint64_t value, int digits) {
    std::string text = "0x";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        text += kHexDigits[(value >> shift) & 0x0F];
    return text;
}

// Code points that are well-formed but would steer a terminal or reorder the
// text around them when an error message or a formatted file is shown.
bool IsInvisibleControl(char32_t cp) noexcept {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 ||
           (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF;
}

// An offending token as an error message shows it: quoted, escaped, cut short.
std::string Shown(std::string_view text) {
    const std::string_view cut = TruncateUtf8(text, kShownTokenBytes);
    std::string shown = QuoteScenarioText(cut);
    if (cut.size() < text.size())
        shown += "...";
    return shown;
}

const char* StackKeyword(StackKind kind) {
    switch (kind) {
        case StackKind::Microsoft:
            return "microsoft";
        case StackKind::BlueSoleil:
            return "bluesoleil";
        case StackKind::Toshiba:
            return "toshiba";
        case StackKind::Widcomm:
            return "widcomm";
        case StackKind::IrDA:
            return "irda";
        case StackKind::RAPI:
            return "rapi";
        case StackKind::BlueZ:
            return "bluez";
    }
    return "?";
}

constexpr std::array kAllStacks = {StackKind::Microsoft, StackKind::BlueSoleil, StackKind::Toshiba,
                                   StackKind::Widcomm,   StackKind::IrDA,       StackKind::RAPI,
                                   StackKind::BlueZ};

const char* BehaviourKeyword(PushBehaviour behaviour) {
    switch (behaviour) {
        case PushBehaviour::Accept:
            return "accept";
        case PushBehaviour::RefuseObject:
            return "refuse-object";
        case PushBehaviour::RefuseConnection:
            return "refuse-connection";
        case PushBehaviour::Busy:
            return "busy";
        case PushBehaviour::NoObjectPush:
            return "no-object-push";
        case PushBehaviour::NeverAnswer:
            return "never-answer";
        case PushBehaviour::DropAfterBytes:
            return "drop-after";
    }
    return "?";
}

constexpr std::array kAllBehaviours = {PushBehaviour::Accept,           PushBehaviour::RefuseObject,
                                       PushBehaviour::RefuseConnection, PushBehaviour::Busy,
                                       PushBehaviour::NoObjectPush,     PushBehaviour::NeverAnswer,
                                       PushBehaviour::DropAfterBytes};

// The stored form of a class UUID: the width the author chose survives (a
// 16-bit, a 32-bit and a 128-bit UUID travel differently in a service record),
// the digits are upper-case.
std::optional<std::string> NormalisedUuidText(std::string_view text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const std::string_view digits = text.substr(2);
        if (digits.size() != 4 && digits.size() != 8)
            return std::nullopt;
        std::uint64_t value = 0;
        for (char c : digits) {
            const int digit = HexValue(c);
            if (digit < 0)
                return std::nullopt;
            value = value * 16 + static_cast<std::uint64_t>(digit);
        }
        return HexText(value, static_cast<int>(digits.size()));
    }
    GUID uuid;
    if (!StringToGuid(text, uuid))
        return std::nullopt;
    return GuidToString(uuid);
}

bool IsObjectPushUuid(const std::string& classUuid) {
    const std::optional<GUID> uuid = ParseScenarioUuid(classUuid);
    return uuid && *uuid == OBEXObjectPushServiceClassUUID;
}

bool HasObjectPushService(const DeviceSpec& device) {
    return std::any_of(
        device.services.begin(), device.services.end(),
        [](const ServiceSpec& service) { return IsObjectPushUuid(service.classUuid); });
}

// "host:port": a DNS name or IPv4 address, or an IPv6 address in brackets, and
// a decimal port 1..65535.
bool IsValidEndpoint(std::string_view text) {
    if (text.empty() || text.size() > kMaxEndpointBytes)
        return false;
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return false;
    const std::string_view host = text.substr(0, colon);
    const std::string_view port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), IsDigit))
        return false;
    const unsigned long portNumber = std::stoul(std::string(port));
    if (portNumber == 0 || portNumber > 65535)
        return false;
    if (host.empty())
        return false;
    if (host.front() == '[') {
        if (host.size() < 4 || host.back() != ']')
            return false;
        const std::string_view inner = host.substr(1, host.size() - 2);
        return std::all_of(inner.begin(), inner.end(),
                           [](char c) { return HexValue(c) >= 0 || c == ':' || c == '.'; });
    }
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '.' ||
               c == '-' || c == '_';
    });
}

struct Token {
    std::string text;  // decoded when quoted
    bool quoted = false;
};

// A `generate` line, expanded once every explicit address is known.
struct PendingGenerator {
    std::size_t position;  // index in the explicit device list it comes before
    std::size_t count;
    std::uint64_t seed;
};

// Deterministic on every platform, unlike the standard distributions.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform enough for test data: the modulo bias is below 2^-40 here.
    std::uint64_t Below(std::uint64_t bound) { return Next() % bound; }
    bool Percent(std::uint64_t chance) { return Below(100) < chance; }

private:
    std::uint64_t m_state;
};

struct GeneratedKind {
    std::string_view stem;
    std::uint32_t classOfDevice;
};

constexpr GeneratedKind kGeneratedKinds[] = {
    {"Phone", 0x5A020C},       {"Nokia 6230i", 0x5A0204}, {"K750i", 0x5A0204},
    {"Galaxy", 0x7A020C},      {"Pixel", 0x5A020C},       {"Moto", 0x52020C},
    {"Zoë's Phone", 0x5A020C}, {"Мой телефон", 0x5A020C}, {"手机", 0x5A020C},
    {"ケータイ", 0x5A020C},    {"전화기", 0x5A020C},      {"José's 📱", 0x7A020C},
    {"LAPTOP", 0x3A010C},      {"DESKTOP", 0x120104},     {"Tablet", 0x1A011C},
    {"PDA", 0x120114},         {"Headset", 0x240404},     {"Car Kit", 0x200408},
};

// Names that a careless receiver would mishandle: control characters, markup
// that looks like a record key, bytes that are not UTF-8.
constexpr std::string_view kHostileNames[] = {
    "Evil\x1B[31mRed"sv,    "Line\r\nBreak"sv, "[Section]\nKey=Value"sv, "Tab\tName"sv,
    "\xFF\xFE not UTF-8"sv, "Nul\x00Inside"sv, "\xE2\x80\xAEreversed"sv,
};

struct GeneratedService {
    std::string_view name;
    std::string_view classUuid;
};

constexpr GeneratedService kOtherServices[] = {
    {"Serial Port", "0x1101"}, {"Dial-up Networking", "0x1103"}, {"OBEX File Transfer", "0x1106"},
    {"Hands-Free", "0x111E"},  {"Audio Gateway", "0x1112"},      {"Phonebook Access", "0x112F"},
};

constexpr std::string_view kObjectPushNames[] = {"OBEX Object Push", "Object Push", "OPP Server",
                                                 "OBEX-Objektübertragung"};

constexpr std::uint8_t kRefusalCodes[] = {0xC3, 0xC1, 0xCD, 0xC6, 0xD3};

std::string GeneratedName(SplitMix64& random, std::string_view stem) {
    const std::uint64_t roll = random.Below(100);
    if (roll < 1)
        return "";
    if (roll < 3) {
        return std::string(kHostileNames[random.Below(std::size(kHostileNames))]);
    }
    if (roll < 4)
        return std::string(248, 'A');  // the longest name a device can announce
    std::string name(stem);
    if (random.Percent(70))
        name += ' ' + std::to_string(random.Below(10000));
    return name;
}

// One random device; the address is drawn again until it is not taken.
DeviceSpec GenerateDevice(SplitMix64& random, std::unordered_set<std::uint64_t>& taken) {
    DeviceSpec device;
    std::uint64_t address = 0;
    // A million addresses in 2^48 collide rarely; the bound only keeps the
    // loop finite.
    for (int attempt = 0;; ++attempt) {
        if (attempt == 1000)
            throw std::logic_error("generator found no free address");
        address = random.Next() & kAddressMask;
        if (address != 0 && address != kAddressMask && taken.insert(address).second)
            break;
    }
    device.address = UInt64ToAddress(address);

    const GeneratedKind& kind = kGeneratedKinds[random.Below(std::size(kGeneratedKinds))];
    device.classOfDevice = kind.classOfDevice;
    device.name = GeneratedName(random, kind.stem);

    const std::uint64_t roll = random.Below(100);
    if (roll < 84) {
        device.behaviour = PushBehaviour::Accept;
    } else if (roll < 88) {
        device.behaviour = PushBehaviour::RefuseObject;
        device.refuseCode = kRefusalCodes[random.Below(std::size(kRefusalCodes))];
    } else if (roll < 90) {
        device.behaviour = PushBehaviour::RefuseConnection;
    } else if (roll < 92) {
        device.behaviour = PushBehaviour::Busy;
    } else if (roll < 96) {
        device.behaviour = PushBehaviour::NoObjectPush;
    } else if (roll < 98) {
        device.behaviour = PushBehaviour::NeverAnswer;
    } else {
        device.behaviour = PushBehaviour::DropAfterBytes;
        device.dropAfterBytes = 1 + random.Below(100000);
    }

    std::uint32_t usedChannels = 0;  // bit n: channel n taken
    const auto freeChannel = [&]() {
        // 30 channels and at most 5 services: a free one always exists.
        std::uint8_t channel = 0;
        do {
            channel = static_cast<std::uint8_t>(1 + random.Below(kMaxServiceChannel));
        } while (usedChannels & (1U << channel));
        usedChannels |= 1U << channel;
        return channel;
    };
    const std::uint64_t others = random.Below(4);
    // Exactly as many as it gets: a million devices make every spare slot count.
    device.services.reserve(others + (device.behaviour == PushBehaviour::NoObjectPush ? 0 : 1));
    for (std::uint64_t i = 0; i < others; ++i) {
        const GeneratedService& other = kOtherServices[random.Below(std::size(kOtherServices))];
        ServiceSpec service;
        service.channel = freeChannel();
        service.name = other.name;
        service.classUuid = other.classUuid;
        device.services.push_back(std::move(service));
    }
    if (device.behaviour != PushBehaviour::NoObjectPush) {
        ServiceSpec push;
        push.channel = freeChannel();
        push.name = kObjectPushNames[random.Below(std::size(kObjectPushNames))];
        push.classUuid = "0x1105";
        push.utf16Texts = random.Percent(5);
        const auto at = random.Below(device.services.size() + 1);
        device.services.insert(device.services.begin() + static_cast<std::ptrdiff_t>(at),
                               std::move(push));
    }
    return device;
}

// Reads one scenario. Keeps the line being read so that every fault names it.
class Parser {
public:
    explicit Parser(std::string_view source) : m_source(source) {}

    Scenario Parse(std::string_view text) {
        if (text.size() > kMaxScenarioFileBytes)
            FailFile("larger than " + std::to_string(kMaxScenarioFileBytes / (1024 * 1024)) +
                     " MiB");
        if (text.starts_with("\xEF\xBB\xBF"))
            text.remove_prefix(3);
        m_scenario.radio.present = {Interval{0, 0}};  // no radio line: never plugged in
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string_view::npos)
                end = text.size();
            std::string_view line = text.substr(start, end - start);
            start = end + 1;
            ++m_line;
            if (line.ends_with('\r'))
                line.remove_suffix(1);
            ParseLine(line);
        }
        FinishDevice();
        ExpandGenerators();
        return std::move(m_scenario);
    }

private:
    [[noreturn]] void Fail(const std::string& reason) const {
        throw ScenarioError(m_source, m_line, reason);
    }
    [[noreturn]] void FailAt(std::size_t line, const std::string& reason) const {
        throw ScenarioError(m_source, line, reason);
    }
    [[noreturn]] void FailFile(const std::string& reason) const {
        throw ScenarioError(m_source, 0, reason);
    }

    // --- tokens ---------------------------------------------------------

    void Tokenize(std::string_view line) {
        m_tokens.clear();
        m_next = 0;
        std::size_t pos = 0;
        while (pos < line.size()) {
            const char c = line[pos];
            if (c == ' ' || c == '\t') {
                ++pos;
            } else if (c == '#') {
                break;
            } else if (c == '"') {
                m_tokens.push_back(Token{ReadQuoted(line, pos), true});
            } else {
                const std::size_t start = pos;
                while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t' &&
                       line[pos] != '#') {
                    const auto byte = static_cast<std::uint8_t>(line[pos]);
                    if (line[pos] == '"')
                        Fail("a quote inside " + Shown(line.substr(start, pos - start)) +
                             "; put a space before the quoted text");
                    if (byte < 0x20 || byte == 0x7F)
                        Fail("control character " + HexText(byte, 2) + " outside a quoted string");
                    ++pos;
                }
                m_tokens.push_back(Token{std::string(line.substr(start, pos - start)), false});
            }
        }
    }

    // Decodes the quoted string that starts at line[pos]; leaves pos after the
    // closing quote.
    std::string ReadQuoted(std::string_view line, std::size_t& pos) {
        std::string text;
        ++pos;
        while (true) {
            if (pos >= line.size())
                Fail("unterminated string");
            if (text.size() > kMaxScenarioTextBytes)
                Fail("text longer than " + std::to_string(kMaxScenarioTextBytes) + " bytes");
            const char c = line[pos];
            const auto byte = static_cast<std::uint8_t>(c);
            if (c == '"') {
                ++pos;
                break;
            }
            if (byte < 0x20 || byte == 0x7F)
                Fail("control character " + HexText(byte, 2) +
                     " in a quoted string; write it as \\x" + HexText(byte, 2).substr(2));
            if (c != '\\') {
                text += c;
                ++pos;
                continue;
            }
            if (pos + 1 >= line.size())
                Fail("unterminated string");
            const char escape = line[pos + 1];
            pos += 2;
            switch (escape) {
                case '\\':
                    text += '\\';
                    break;
                case '"':
                    text += '"';
                    break;
                case 'n':
                    text += '\n';
                    break;
                case 'r':
                    text += '\r';
                    break;
                case 't':
                    text += '\t';
                    break;
                case 'x': {
                    const int high = pos < line.size() ? HexValue(line[pos]) : -1;
                    const int low = pos + 1 < line.size() ? HexValue(line[pos + 1]) : -1;
                    if (high < 0 || low < 0)
                        Fail("\\x needs two hexadecimal digits");
                    text += static_cast<char>(high * 16 + low);
                    pos += 2;
                    break;
                }
                case 'u': {
                    const std::size_t close = line.find('}', pos);
                    if (pos >= line.size() || line[pos] != '{' || close == std::string_view::npos ||
                        close - pos < 2 || close - pos > 7)
                        Fail("\\u needs one to six hexadecimal digits in braces, as \\u{E9}");
                    char32_t cp = 0;
                    for (std::size_t i = pos + 1; i < close; ++i) {
                        const int digit = HexValue(line[i]);
                        if (digit < 0)
                            Fail("\\u needs one to six hexadecimal digits in braces, as \\u{E9}");
                        cp = cp * 16 + static_cast<char32_t>(digit);
                    }
                    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
                        Fail("\\u{" + std::string(line.substr(pos + 1, close - pos - 1)) +
                             "} is not a character");
                    AppendUtf8(text, cp);
                    pos = close + 1;
                    break;
                }
                default:
                    Fail("unknown escape " + Shown(std::string("\\") + escape) +
                         "; use \\n \\r \\t \\\\ \\\" \\xNN or \\u{N}");
            }
        }
        if (text.size() > kMaxScenarioTextBytes)
            Fail("text longer than " + std::to_string(kMaxScenarioTextBytes) + " bytes");
        return text;
    }

    bool AtEnd() const { return m_next >= m_tokens.size(); }

    const Token& Next(const char* what) {
        if (AtEnd())
            Fail(std::string("missing ") + what);
        return m_tokens[m_next++];
    }

    // The next token as a lower-case keyword.
    std::string NextWord(const char* what) {
        const Token& token = Next(what);
        if (token.quoted)
            Fail(std::string("expected ") + what + ", found the quoted text " + Shown(token.text));
        return LowerAscii(token.text);
    }

    // The next token, which must not be a quoted text.
    const std::string& NextBare(const char* what) {
        const Token& token = Next(what);
        if (token.quoted)
            Fail(std::string("expected ") + what + ", found the quoted text " + Shown(token.text));
        return token.text;
    }

    const std::string& NextQuoted(const char* what) {
        const Token& token = Next(what);
        if (!token.quoted)
            Fail(std::string(what) + " must be a quoted string, found " + Shown(token.text));
        return token.text;
    }

    bool NextIsNumber() const {
        return !AtEnd() && !m_tokens[m_next].quoted && !m_tokens[m_next].text.empty() &&
               IsDigit(m_tokens[m_next].text.front());
    }

    // --- values ---------------------------------------------------------

    // Decimal or 0x hexadecimal, no sign, at most max.
    std::uint64_t ParseNumber(const std::string& text, std::uint64_t max, const char* what) const {
        std::string_view digits = text;
        unsigned base = 10;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            base = 16;
            digits.remove_prefix(2);
        }
        if (digits.empty())
            Fail(std::string("bad ") + what + " " + Shown(text));
        std::uint64_t value = 0;
        for (char c : digits) {
            const int digit = HexValue(c);
            if (digit < 0 || static_cast<unsigned>(digit) >= base)
                Fail(std::string("bad ") + what + " " + Shown(text));
            if (static_cast<std::uint64_t>(digit) > max ||
                value > (max - static_cast<std::uint64_t>(digit)) / base)
                Fail(std::string(what) + " " + Shown(text) + " is larger than " +
                     std::to_string(max));
            value = value * base + static_cast<std::uint64_t>(digit);
        }
        return value;
    }

    std::uint64_t NextNumber(std::uint64_t max, const char* what) {
        return ParseNumber(NextBare(what), max, what);
    }

    // Digits, an optional fraction and a unit (ms when none): "250", "1.5s",
    // "2min", "1h". The result must be a whole number of milliseconds.
    std::int64_t ParseTime(std::string_view text) const {
        std::size_t pos = 0;
        while (pos < text.size() && (IsDigit(text[pos]) || text[pos] == '.'))
            ++pos;
        const std::string_view number = text.substr(0, pos);
        const std::string unit = LowerAscii(text.substr(pos));
        std::int64_t scale = 0;
        if (unit.empty() || unit == "ms")
            scale = 1;
        else if (unit == "s")
            scale = 1000;
        else if (unit == "min")
            scale = 60'000;
        else if (unit == "h")
            scale = 3'600'000;
        else
            Fail("bad time " + Shown(text) + "; write a number with ms, s, min or h");
        const std::size_t dot = number.find('.');
        const std::string_view whole = number.substr(0, dot);
        const std::string_view fraction =
            dot == std::string_view::npos ? std::string_view() : number.substr(dot + 1);
        if (whole.empty() || (dot != std::string_view::npos && fraction.empty()) ||
            fraction.find('.') != std::string_view::npos || whole.size() > 13 ||
            fraction.size() > 7)
            Fail("bad time " + Shown(text));
        // Whole and fraction in units of 10^-7, so that any admitted fraction
        // is exact before the check for whole milliseconds.
        std::int64_t wholeValue = 0;
        for (char c : whole)
            wholeValue = wholeValue * 10 + (c - '0');
        std::int64_t fractionValue = 0;
        for (std::size_t i = 0; i < 7; ++i)
            fractionValue = fractionValue * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
        if (wholeValue > kMaxScenarioTimeMs / scale)
            Fail("time " + Shown(text) + " is later than " + std::to_string(kMaxScenarioTimeMs) +
                 " ms");
        const std::int64_t fractionScaled = fractionValue * scale;  // < 10^7 * 3.6 * 10^6
        if (fractionScaled % 10'000'000 != 0)
            Fail("time " + Shown(text) + " is not a whole number of milliseconds");
        const std::int64_t ms = wholeValue * scale + fractionScaled / 10'000'000;
        if (ms > kMaxScenarioTimeMs)
            Fail("time " + Shown(text) + " is later than " + std::to_string(kMaxScenarioTimeMs) +
                 " ms");
        return ms;
    }

    std::int64_t NextTime(const char* what) { return ParseTime(NextBare(what)); }

    // "FROM-" (to the end) or "FROM-UNTIL" with UNTIL not before FROM.
    Interval ParseInterval(const std::string& text) const {
        const std::size_t dash = text.find('-');
        if (dash == std::string::npos || dash == 0)
            Fail("bad interval " + Shown(text) + "; write FROM-UNTIL or FROM-");
        Interval interval;
        interval.fromMs = ParseTime(std::string_view(text).substr(0, dash));
        if (dash + 1 < text.size()) {
            interval.untilMs = ParseTime(std::string_view(text).substr(dash + 1));
            if (*interval.untilMs < interval.fromMs)
                Fail("interval " + Shown(text) + " ends before it begins");
        }
        return interval;
    }

    std::vector<Interval> NextIntervals() {
        std::vector<Interval> intervals;
        intervals.push_back(ParseInterval(NextBare("interval after present")));
        while (NextIsNumber()) {
            if (intervals.size() >= 1000)
                Fail("more than 1000 intervals");
            intervals.push_back(ParseInterval(m_tokens[m_next++].text));
        }
        return intervals;
    }

    std::string NextAddress() {
        const std::string& text = NextBare("address");
        if (!IsValidAddress(text))
            Fail("bad address " + Shown(text) + "; write (00:11:22:33:44:55)");
        return UInt64ToAddress(AddressToUInt64(text));
    }

    // A presence from one start and/or one end: arrive/leave, plug/pull.
    static std::vector<Interval> SingleInterval(std::optional<std::int64_t> from,
                                                std::optional<std::int64_t> until) {
        return {Interval{from.value_or(0), until}};
    }

    void CheckOnce(std::set<std::string>& seen, const std::string& option, const char* owner) {
        if (!seen.insert(option).second)
            Fail(std::string(owner) + " option \"" + option + "\" given twice");
    }

    // --- lines ----------------------------------------------------------

    void ParseLine(std::string_view line) {
        if (line.size() > kMaxScenarioLineBytes)
            Fail("line longer than " + std::to_string(kMaxScenarioLineBytes) + " bytes");
        if (!IsValidUtf8(line))
            Fail("not UTF-8 text; write other bytes as \\xNN inside a quoted string");
        Tokenize(line);
        if (m_tokens.empty())
            return;
        const std::string keyword = NextWord("keyword");
        if (keyword == "service") {
            ParseService();
            return;
        }
        FinishDevice();
        if (keyword == "stacks")
            ParseStacks();
        else if (keyword == "radio")
            ParseRadio();
        else if (keyword == "irda-device")
            ParseFlag(m_scenario.irdaDevicePresent, m_irdaLine, keyword);
        else if (keyword == "rapi-device")
            ParseFlag(m_scenario.rapiDeviceConnected, m_rapiLine, keyword);
        else if (keyword == "device")
            ParseDevice();
        else if (keyword == "generate")
            ParseGenerate();
        else
            Fail("unknown keyword " + Shown(m_tokens.front().text));
        if (!AtEnd())
            Fail("unexpected " + Shown(m_tokens[m_next].text) + " after " + keyword);
    }

    void ParseStacks() {
        if (m_stacksLine != 0)
            Fail("stacks given twice (first on line " + std::to_string(m_stacksLine) + ")");
        m_stacksLine = m_line;
        if (AtEnd())
            Fail("missing stack name after stacks");
        while (!AtEnd()) {
            const std::string name = NextWord("stack name");
            const auto* found =
                std::find_if(kAllStacks.begin(), kAllStacks.end(),
                             [&](StackKind kind) { return name == StackKeyword(kind); });
            if (found == kAllStacks.end())
                Fail("unknown stack " + Shown(name) +
                     "; use microsoft, bluesoleil, toshiba, widcomm, bluez, irda or rapi");
            if (m_scenario.IsInstalled(*found))
                Fail("stack " + name + " listed twice");
            m_scenario.installedStacks.push_back(*found);
        }
    }

    // "on widcomm,toshiba": the Bluetooth stacks whose radio sees a device,
    // each named once.
    std::vector<StackKind> NextBluetoothStacks() {
        const std::string list = NextWord("stack names after on");
        std::vector<StackKind> stacks;
        std::size_t start = 0;
        while (start <= list.size()) {
            const std::size_t comma = std::min(list.find(',', start), list.size());
            const std::string name = list.substr(start, comma - start);
            const auto* found =
                std::find_if(kAllStacks.begin(), kAllStacks.end(),
                             [&](StackKind kind) { return name == StackKeyword(kind); });
            if (found == kAllStacks.end() || *found == StackKind::IrDA || *found == StackKind::RAPI)
                Fail(
                    "unknown Bluetooth stack " + Shown(name) +
                    " after on; use microsoft, bluesoleil, toshiba, widcomm or bluez, separated by "
                    "commas");
            if (std::find(stacks.begin(), stacks.end(), *found) != stacks.end())
                Fail("stack " + name + " listed twice after on");
            stacks.push_back(*found);
            start = comma + 1;
        }
        return stacks;
    }

    void ParseFlag(bool& flag, std::size_t& firstLine, const std::string& keyword) {
        if (firstLine != 0)
            Fail(keyword + " given twice (first on line " + std::to_string(firstLine) + ")");
        firstLine = m_line;
        flag = true;
    }

    void ParseRadio() {
        RadioSpec radio;
        radio.address = NextAddress();
        radio.name = NextQuoted("radio name");
        std::set<std::string> seen;
        std::optional<std::int64_t> plug;
        std::optional<std::int64_t> pull;
        while (!AtEnd()) {
            const std::string option = NextWord("radio option");
            CheckOnce(seen, option, "radio");
            if (option == "present")
                radio.present = NextIntervals();
            else if (option == "plug")
                plug = NextTime("time after plug");
            else if (option == "pull")
                pull = NextTime("time after pull");
            else if (option == "on")
                radio.on = NextBluetoothStacks();
            else
                Fail("unknown radio option " + Shown(option) + "; use present, plug, pull or on");
        }
        if ((plug || pull) && seen.count("present"))
            Fail("radio: present cannot be combined with plug or pull");
        if (plug || pull) {
            if (plug && pull && *pull < *plug)
                Fail("radio is pulled before it is plugged in");
            radio.present = SingleInterval(plug, pull);
        }
        if (radio.on.empty()) {
            if (m_radioLine != 0)
                Fail("radio given twice (first on line " + std::to_string(m_radioLine) +
                     "); give the second one \"on\" and its stacks");
            m_radioLine = m_line;
            m_scenario.radio = std::move(radio);
            return;
        }
        for (StackKind stack : radio.on) {
            const auto line = m_stackRadioLines.find(stack);
            if (line != m_stackRadioLines.end())
                Fail("stack " + std::string(StackKeyword(stack)) +
                     " given a second radio (first on line " + std::to_string(line->second) + ")");
            m_stackRadioLines[stack] = m_line;
        }
        m_scenario.stackRadios.push_back(std::move(radio));
    }

    void ParseBehaviour(DeviceSpec& device) {
        const std::string name = NextWord("behaviour");
        const auto* found = std::find_if(
            kAllBehaviours.begin(), kAllBehaviours.end(),
            [&](PushBehaviour behaviour) { return name == BehaviourKeyword(behaviour); });
        if (found == kAllBehaviours.end())
            Fail("unknown behaviour " + Shown(name) +
                 "; use accept, refuse-object, refuse-connection, busy, no-object-push, "
                 "never-answer or drop-after");
        device.behaviour = *found;
        if (device.behaviour == PushBehaviour::RefuseObject && NextIsNumber()) {
            const std::uint64_t code = NextNumber(0xFF, "response code");
            // A refusal is a final response that is neither "continue" nor
            // "success": 0x80..0x8F or 0xB0..0xFF.
            if (code < 0x80 || (code >= 0x90 && code < 0xB0))
                Fail("response code " + HexText(code, 2) +
                     " is not a refusal; use a final code such as 0xC3");
            device.refuseCode = static_cast<std::uint8_t>(code);
        } else if (device.behaviour == PushBehaviour::DropAfterBytes) {
            device.dropAfterBytes =
                NextNumber(kMaxScenarioByteCount, "byte count after drop-after");
        }
    }

    void ParseDevice() {
        if (m_deviceCount >= kMaxScenarioDevices)
            Fail("more than " + std::to_string(kMaxScenarioDevices) + " devices");
        DeviceSpec device;
        device.address = NextAddress();
        const auto [first, inserted] =
            m_addressLines.emplace(AddressToUInt64(device.address), m_line);
        if (!inserted)
            Fail("address " + device.address + " given twice (first on line " +
                 std::to_string(first->second) + ")");
        device.name = NextQuoted("device name");
        std::set<std::string> seen;
        std::optional<std::int64_t> arrive;
        std::optional<std::int64_t> leave;
        while (!AtEnd()) {
            const std::string option = NextWord("device option");
            CheckOnce(seen, option, "device");
            if (option == "class") {
                device.classOfDevice =
                    static_cast<std::uint32_t>(NextNumber(kMaxClassOfDevice, "class of device"));
            } else if (option == "behaviour") {
                ParseBehaviour(device);
            } else if (option == "delay") {
                device.answerDelayMs = NextTime("time after delay");
            } else if (option == "rate") {
                device.linkRateBytesPerSecond =
                    NextNumber(kMaxScenarioByteCount, "bytes per second after rate");
            } else if (option == "arrive") {
                arrive = NextTime("time after arrive");
            } else if (option == "leave") {
                leave = NextTime("time after leave");
            } else if (option == "present") {
                device.presence = NextIntervals();
            } else if (option == "endpoint") {
                const std::string& endpoint = Next("host:port after endpoint").text;
                if (!IsValidEndpoint(endpoint))
                    Fail("bad endpoint " + Shown(endpoint) + "; write host:port");
                device.externalEndpoint = endpoint;
            } else if (option == "on") {
                device.visibleOn = NextBluetoothStacks();
            } else {
                Fail("unknown device option " + Shown(option) +
                     "; use class, behaviour, delay, rate, arrive, leave, present, endpoint or on");
            }
        }
        if ((arrive || leave) && seen.count("present"))
            Fail("device: present cannot be combined with arrive or leave");
        if (arrive || leave) {
            if (arrive && leave && *leave < *arrive)
                Fail("device leaves before it arrives");
            device.presence = SingleInterval(arrive, leave);
        }
        m_scenario.devices.push_back(std::move(device));
        ++m_deviceCount;
        m_deviceLine = m_line;
        m_behaviourGiven = seen.count("behaviour") != 0;
    }

    void ParseService() {
        if (m_deviceLine == 0)
            Fail("service without a device line before it");
        DeviceSpec& device = m_scenario.devices.back();
        if (device.services.size() >= kMaxServicesPerDevice)
            Fail("more than " + std::to_string(kMaxServicesPerDevice) + " services on one device");
        ServiceSpec service;
        const std::string& channelText = NextBare("channel");
        const std::uint64_t channel = ParseNumber(channelText, 255, "channel");
        if (channel > kMaxServiceChannel)
            Fail("channel " + std::to_string(channel) + " outside 0.." +
                 std::to_string(kMaxServiceChannel));
        service.channel = static_cast<std::uint8_t>(channel);
        service.name = NextQuoted("service name");
        const std::string& uuidText = NextBare("service class UUID");
        const std::optional<std::string> uuid = NormalisedUuidText(uuidText);
        if (!uuid)
            Fail("bad UUID " + Shown(uuidText) +
                 "; write 0xNNNN, 0xNNNNNNNN or XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX");
        service.classUuid = *uuid;
        std::set<std::string> seen;
        while (!AtEnd()) {
            const std::string option = NextWord("service option");
            CheckOnce(seen, option, "service");
            if (option == "comment")
                service.comment = NextQuoted("service comment");
            else if (option == "utf16")
                service.utf16Texts = true;
            else
                Fail("unknown service option " + Shown(option) + "; use comment or utf16");
        }
        if (device.behaviour == PushBehaviour::NoObjectPush && IsObjectPushUuid(service.classUuid))
            Fail("an Object Push service on a device whose behaviour is no-object-push");
        device.services.push_back(std::move(service));
    }

    // Checks that need the device's service lines, once they are all read.
    void FinishDevice() {
        if (m_deviceLine == 0)
            return;
        const DeviceSpec& device = m_scenario.devices.back();
        const bool objectPush = HasObjectPushService(device);
        if (m_behaviourGiven && device.behaviour != PushBehaviour::NoObjectPush && !objectPush)
            FailAt(m_deviceLine, std::string("behaviour ") + BehaviourKeyword(device.behaviour) +
                                     " needs an Object Push service (0x1105) on the device");
        if (device.externalEndpoint && !objectPush)
            FailAt(m_deviceLine, "endpoint needs an Object Push service (0x1105) on the device");
        m_deviceLine = 0;
        m_behaviourGiven = false;
    }

    void ParseGenerate() {
        const std::uint64_t count = NextNumber(std::numeric_limits<std::uint64_t>::max(), "count");
        if (count > kMaxScenarioDevices - m_deviceCount)
            Fail("generate " + std::to_string(count) + " would make more than " +
                 std::to_string(kMaxScenarioDevices) + " devices");
        if (NextWord("seed") != "seed")
            Fail("expected seed after the count, as in generate 500 seed 42");
        const std::uint64_t seed = NextNumber(std::numeric_limits<std::uint64_t>::max(), "seed");
        m_generators.push_back(PendingGenerator{m_scenario.devices.size(), count, seed});
        m_deviceCount += count;
    }

    // Generated devices take their place among the explicit ones and never an
    // address that an explicit device has, wherever in the file it stands.
    void ExpandGenerators() {
        if (m_generators.empty())
            return;
        std::unordered_set<std::uint64_t> taken;
        taken.reserve(m_deviceCount);
        for (const auto& [address, line] : m_addressLines)
            taken.insert(address);
        m_addressLines.clear();
        std::vector<DeviceSpec> explicitDevices = std::move(m_scenario.devices);
        std::vector<DeviceSpec>& devices = m_scenario.devices;
        devices.clear();
        devices.reserve(m_deviceCount);
        std::size_t nextExplicit = 0;
        for (const PendingGenerator& generator : m_generators) {
            while (nextExplicit < generator.position)
                devices.push_back(std::move(explicitDevices[nextExplicit++]));
            SplitMix64 random(generator.seed);
            for (std::size_t i = 0; i < generator.count; ++i)
                devices.push_back(GenerateDevice(random, taken));
        }
        while (nextExplicit < explicitDevices.size())
            devices.push_back(std::move(explicitDevices[nextExplicit++]));
    }

    std::string m_source;
    std::size_t m_line = 0;
    std::vector<Token> m_tokens;
    std::size_t m_next = 0;

    Scenario m_scenario;
    std::size_t m_stacksLine = 0;
    std::size_t m_radioLine = 0;
    std::map<StackKind, std::size_t> m_stackRadioLines;
    std::size_t m_irdaLine = 0;
    std::size_t m_rapiLine = 0;
    std::size_t m_deviceLine = 0;  // of the device that service lines add to; 0: none
    bool m_behaviourGiven = false;
    std::size_t m_deviceCount = 0;  // explicit and generated
    std::unordered_map<std::uint64_t, std::size_t> m_addressLines;
    std::vector<PendingGenerator> m_generators;
};

void AppendIntervals(std::string& out, const std::vector<Interval>& intervals) {
    out += " present";
    for (const Interval& interval : intervals) {
        out += ' ';
        out += std::to_string(interval.fromMs);
        out += '-';
        if (interval.untilMs)
            out += std::to_string(*interval.untilMs);
    }
}

}  // namespace

ScenarioError::ScenarioError(std::string source, std::size_t line, std::string reason)
    : std::runtime_error(ComposeMessage(source, line, reason)),
      m_source(std::move(source)),
      m_line(line),
      m_reason(std::move(reason)) {}

Scenario ParseScenario(std::string_view text, std::string_view sourceName) {
    return Parser(sourceName).Parse(text);
}

Scenario LoadScenarioFile(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw ScenarioError(path, 0, "is a folder, not a scenario file");
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int code = errno;
        throw ScenarioError(
            path, 0, "cannot open: " + std::error_code(code, std::generic_category()).message());
    }
    // Read at most one byte past the limit, whatever the file claims to be:
    // a device file or a growing file never makes this read unbounded.
    std::string text;
    std::array<char, 65536> chunk{};
    while (text.size() <= kMaxScenarioFileBytes) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
        if (!in)
            break;
    }
    if (in.bad())
        throw ScenarioError(path, 0, "read error");
    return ParseScenario(text, path);
}

std::string QuoteScenarioText(std::string_view bytes) {
    std::string out = "\"";
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const char c = bytes[pos];
        switch (c) {
            case '\\':
                out += "\\\\";
                ++pos;
                continue;
            case '"':
                out += "\\\"";
                ++pos;
                continue;
            case '\n':
                out += "\\n";
                ++pos;
                continue;
            case '\r':
                out += "\\r";
                ++pos;
                continue;
            case '\t':
                out += "\\t";
                ++pos;
                continue;
            default:
                break;
        }
        char32_t cp = 0;
        const std::size_t length = Utf8SequenceAt(bytes, pos, cp);
        if (length == 0 || cp < 0x20 || cp == 0x7F || IsInvisibleControl(cp)) {
            // Each byte of a malformed or invisible sequence on its own.
            const std::size_t count = length == 0 ? 1 : length;
            for (std::size_t i = 0; i < count; ++i) {
                out += "\\x";
                AppendHexByte(out, static_cast<std::uint8_t>(bytes[pos + i]));
            }
            pos += count;
            continue;
        }
        out.append(bytes.substr(pos, length));
        pos += length;
    }
    out += '"';
    return out;
}

std::string FormatScenario(const Scenario& scenario) {
    std::string out;
    if (!scenario.installedStacks.empty()) {
        out += "stacks";
        for (StackKind kind : scenario.installedStacks) {
            out += ' ';
            out += StackKeyword(kind);
        }
        out += '\n';
    }
    const RadioSpec absentRadio{std::string(kDefaultAddress), "", {Interval{0, 0}}, {}};
    const auto appendRadio = [&out](const RadioSpec& radio) {
        out += "radio " + radio.address + ' ' + QuoteScenarioText(radio.name);
        if (!radio.present.empty())
            AppendIntervals(out, radio.present);
        for (std::size_t i = 0; i < radio.on.size(); ++i) {
            out += i == 0 ? " on " : ",";
            out += StackKeyword(radio.on[i]);
        }
        out += '\n';
    };
    if (scenario.radio != absentRadio)
        appendRadio(scenario.radio);
    for (const RadioSpec& radio : scenario.stackRadios)
        appendRadio(radio);
    if (scenario.irdaDevicePresent)
        out += "irda-device\n";
    if (scenario.rapiDeviceConnected)
        out += "rapi-device\n";
    for (const DeviceSpec& device : scenario.devices) {
        out += "device " + device.address + ' ' + QuoteScenarioText(device.name) + " class " +
               HexText(device.classOfDevice, 6);
        // "behaviour accept" stays unwritten: written, it would demand an
        // Object Push service that a device without services lacks.
        if (device.behaviour != PushBehaviour::Accept) {
            out += " behaviour ";
            out += BehaviourKeyword(device.behaviour);
            if (device.behaviour == PushBehaviour::RefuseObject)
                out += ' ' + HexText(device.refuseCode, 2);
            else if (device.behaviour == PushBehaviour::DropAfterBytes)
                out += ' ' + std::to_string(device.dropAfterBytes);
        }
        if (device.answerDelayMs != 0)
            out += " delay " + std::to_string(device.answerDelayMs);
        if (device.linkRateBytesPerSecond != 0)
            out += " rate " + std::to_string(device.linkRateBytesPerSecond);
        if (!device.presence.empty())
            AppendIntervals(out, device.presence);
        if (device.externalEndpoint)
            out += " endpoint " + QuoteScenarioText(*device.externalEndpoint);
        for (std::size_t i = 0; i < device.visibleOn.size(); ++i) {
            out += i == 0 ? " on " : ",";
            out += StackKeyword(device.visibleOn[i]);
        }
        out += '\n';
        for (const ServiceSpec& service : device.services) {
            out += "  service " + std::to_string(service.channel) + ' ' +
                   QuoteScenarioText(service.name) + ' ' + service.classUuid;
            if (!service.comment.empty())
                out += " comment " + QuoteScenarioText(service.comment);
            if (service.utf16Texts)
                out += " utf16";
            out += '\n';
        }
    }
    return out;
}

std::vector<DeviceSpec> GenerateDevices(std::size_t count, std::uint64_t seed) {
    if (count > kMaxScenarioDevices)
        throw std::length_error("GenerateDevices: more than " +
                                std::to_string(kMaxScenarioDevices) + " devices");
    std::unordered_set<std::uint64_t> taken;
    taken.reserve(count);
    SplitMix64 random(seed);
    std::vector<DeviceSpec> devices;
    devices.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        devices.push_back(GenerateDevice(random, taken));
    return devices;
}

std::optional<GUID> ParseScenarioUuid(std::string_view text) {
    const std::optional<std::string> normalised = NormalisedUuidText(text);
    if (!normalised)
        return std::nullopt;
    if (normalised->starts_with("0x"))
        return Uuid32ToGuid(
            static_cast<std::uint32_t>(std::stoul(normalised->substr(2), nullptr, 16)));
    GUID uuid;
    StringToGuid(*normalised, uuid);
    return uuid;
}

std::vector<GUID> ServiceClassUuids(const ServiceSpec& service) {
    std::vector<GUID> classes;
    std::string_view rest = service.classUuid;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        std::string_view item = rest.substr(0, comma);
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ')
            item.remove_suffix(1);
        if (const std::optional<GUID> uuid = ParseScenarioUuid(item))
            classes.push_back(*uuid);
        if (comma == std::string_view::npos)
            break;
        rest.remove_prefix(comma + 1);
    }
    return classes;
}

}  // namespace kavri::sim
