#pragma once

#include "sim/Scenario.h"
#include "stack/wclUUIDs.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kavri::sim {

// Reads and writes scenario files, the line-oriented text that describes a
// virtual neighbourhood (sim/README.md documents the format), and generates
// random devices for benchmarks. Pure functions, any thread. Every limit
// below bounds what a bad or hostile file can make the parser allocate.
// Parsing stops at the first fault and throws ScenarioError; nothing is
// returned half-read.

inline constexpr std::size_t kMaxScenarioFileBytes = 16 * 1024 * 1024;
inline constexpr std::size_t kMaxScenarioLineBytes = 64 * 1024;
inline constexpr std::size_t kMaxScenarioTextBytes = 4096;  // a decoded quoted string
inline constexpr std::size_t kMaxScenarioDevices = 1'000'000;
inline constexpr std::size_t kMaxServicesPerDevice = 64;
inline constexpr std::uint8_t kMaxServiceChannel = 30;
inline constexpr std::int64_t kMaxScenarioTimeMs = 1'000'000'000'000;  // about 31 years
inline constexpr std::uint64_t kMaxScenarioByteCount = 1'000'000'000'000;

// A fault in a scenario: where (source, line) and why. what() reads
// "source:line: reason", or "source: reason" when Line() is 0 (the file as a
// whole: cannot be opened, too large).
class ScenarioError : public std::runtime_error {
public:
    ScenarioError(std::string source, std::size_t line, std::string reason);

    const std::string& Source() const noexcept { return m_source; }
    std::size_t Line() const noexcept { return m_line; }
    const std::string& Reason() const noexcept { return m_reason; }

private:
    std::string m_source;
    std::size_t m_line;
    std::string m_reason;
};

// Parses scenario text. sourceName only labels error messages.
Scenario ParseScenario(std::string_view text, std::string_view sourceName = "scenario");

// Reads at most kMaxScenarioFileBytes from path and parses it; errors name the
// path as given.
Scenario LoadScenarioFile(const std::string& path);

// Writes text that ParseScenario reads back into an equal Scenario, for every
// Scenario that ParseScenario can produce, as long as the text stays within
// kMaxScenarioFileBytes (about 100 000 generated devices). Generated devices
// are written out one by one; "behaviour accept" and other defaults are left out.
std::string FormatScenario(const Scenario& scenario);

// The quoted form of any bytes: printable UTF-8 as it is, the rest as escapes
// (\n \r \t \\ \" \xNN). Error messages quote hostile text with it too.
std::string QuoteScenarioText(std::string_view bytes);

// count random devices (at most kMaxScenarioDevices), the same for the same
// seed: varied names (UTF-8, a few hostile), classes of device and services,
// mostly accepting pushes, Object Push on a channel 1..30 unless the
// behaviour is NoObjectPush. Always present, no delay, unlimited link rate.
// Throws std::length_error for a count above the limit.
std::vector<DeviceSpec> GenerateDevices(std::size_t count, std::uint64_t seed);

// The UUID that a ServiceSpec::classUuid text names: "0xNNNN", "0xNNNNNNNN"
// or a GUID text (with or without braces). Empty for anything else.
std::optional<GUID> ParseScenarioUuid(std::string_view text);

// The class UUIDs that a service's class text names: one, or several
// separated by commas, first to last as they stand in the record's class
// list (texts that name no UUID are skipped).
std::vector<GUID> ServiceClassUuids(const ServiceSpec& service);

}  // namespace kavri::sim
