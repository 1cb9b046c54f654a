#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kavri::sim {

// The virtual neighbourhood as a scenario file describes it: which stacks are
// installed, the local radio, and the devices in range with their services and
// the behaviour of their Object Push service. Times are milliseconds of
// scenario time, counted from the moment the neighbourhood starts. Plain data
// (any thread, throws only on allocation); parsing, writing and generation
// live in ScenarioParser, which also states the bounds a parsed Scenario keeps.

// BlueZ is Linux's own stack, reached over D-Bus; the others are Windows
// stacks.
enum class StackKind : std::uint8_t { Microsoft, BlueSoleil, Toshiba, Widcomm, IrDA, RAPI, BlueZ };

// How a device's Object Push service treats a push.
enum class PushBehaviour : std::uint8_t {
    Accept,            // takes every object
    RefuseObject,      // answers the PUT with a final refusal (refuseCode)
    RefuseConnection,  // refuses the OBEX CONNECT
    Busy,              // the link cannot be opened: the device is busy
    NoObjectPush,      // the device has no Object Push service at all
    NeverAnswer,       // accepts the link and never answers
    DropAfterBytes,    // closes the link after dropAfterBytes bytes
};

struct Interval {
    std::int64_t fromMs = 0;
    std::optional<std::int64_t> untilMs;  // absent: to the end
    bool Contains(std::int64_t nowMs) const {
        return nowMs >= fromMs && (!untilMs || nowMs < *untilMs);
    }
    bool operator==(const Interval&) const = default;
};

struct ServiceSpec {
    std::uint8_t channel = 0;
    std::string name;
    std::string comment;
    std::string classUuid;    // "0x1105", "0x0001FFFF" or a full GUID text (ParseScenarioUuid)
    bool utf16Texts = false;  // texts in UTF-16 (character set other than UTF-8)
    bool operator==(const ServiceSpec&) const = default;
};

struct DeviceSpec {
    std::string address;  // "(00:11:22:33:44:55)"
    std::string name;     // any UTF-8, hostile names included
    std::uint32_t classOfDevice = 0;
    std::vector<ServiceSpec> services;
    PushBehaviour behaviour = PushBehaviour::Accept;
    std::uint8_t refuseCode = 0xC3;               // OBEX response for RefuseObject
    std::uint64_t dropAfterBytes = 0;             // DropAfterBytes
    std::int64_t answerDelayMs = 0;               // every answer comes this late
    std::uint64_t linkRateBytesPerSecond = 0;     // 0: unlimited
    std::vector<Interval> presence;               // in range during these; empty: always
    std::optional<std::string> externalEndpoint;  // "host:port" of an OBEX server over TCP
    std::vector<StackKind> visibleOn;             // empty: every stack
    // Whether the stack's radio can see the device at all ("on" option).
    bool IsVisibleOn(StackKind stack) const {
        return visibleOn.empty() ||
               std::find(visibleOn.begin(), visibleOn.end(), stack) != visibleOn.end();
    }
    bool operator==(const DeviceSpec&) const = default;
};

// A scenario file without a radio line yields a radio that is never plugged
// in: the default address, no name, present only during the empty [0, 0).
// A radio line with "on STACKS" is the radio of those Bluetooth stacks alone
// (each stack has at most one); the radio without "on" serves every stack
// that has none of its own.
struct RadioSpec {
    std::string address = "(00:00:00:00:00:00)";
    std::string name;
    std::vector<Interval> present;  // plugged in during these; empty: always
    std::vector<StackKind> on;      // empty: the shared radio
    bool operator==(const RadioSpec&) const = default;
};

struct Scenario {
    std::vector<StackKind> installedStacks;
    RadioSpec radio;
    std::vector<RadioSpec> stackRadios;  // radios with "on", in file order
    std::vector<DeviceSpec> devices;
    bool irdaDevicePresent = false;
    bool rapiDeviceConnected = false;

    bool IsInstalled(StackKind kind) const;
    bool RadioPresentAt(std::int64_t nowMs) const;
    // The radio a Bluetooth stack sees: its own, else the shared one.
    const RadioSpec& RadioOf(StackKind stack) const;
    bool RadioPresentAt(std::int64_t nowMs, StackKind stack) const;
    // The devices in range at that moment, in scenario order.
    std::vector<const DeviceSpec*> DevicesPresentAt(std::int64_t nowMs) const;
    // The same, of the devices that stack's radio sees.
    std::vector<const DeviceSpec*> DevicesPresentAt(std::int64_t nowMs, StackKind stack) const;
    // The device with that address (either case of hex digits), or null.
    // A linear search: callers that look up often keep their own index.
    const DeviceSpec* FindDevice(const std::string& address) const;

    bool operator==(const Scenario&) const = default;
};

}  // namespace kavri::sim
