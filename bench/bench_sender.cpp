// The sender's two costs that an operator notices:
//
// BM_AcceptDecision: the accept decision the sender asks for every device
// found, with 100 000 records in each of the active campaign's
// "accepted.dat" and "rejected.dat" and in the black list "bl.dat", for a
// device in none of them, so every file is looked up. Target: 100 us or less
// per decision once the files are parsed. BM_AcceptDecisionCold is the first
// decision after the parse cache was emptied: all three files parsed anew.
//
// BM_SenderRun: one discovery cycle of kavrictl's run on the real clock over
// a virtual neighbourhood of 500 accepting devices (KAVRI_BENCH_DEVICES
// overrides the count), each answering every request 1 s late and reading at
// 100 000 bytes a second; MaxConnections 7, a 50 000-byte file in a
// file-based campaign. Counters:
//   served             devices whose push succeeded
//   served_per_min     served over the serving phase (first connecting line
//                      to the end of the cycle)
//   bound_per_min      the bound below
//   ratio_to_bound     served_per_min / bound_per_min; target 0.9
//   whole_per_min      served over the whole run (stacks, discovery and
//                      names included), and whole_ratio_to_bound
//   serving_s, whole_s the two times
// The run fails unless every device was tried and every push counted as
// served lies whole in its device's inbox.
//
// The bound. Every answer of a device comes one delay late, so one device
// costs at least delay x round trips plus the time the link needs for the
// object:
//   t_device = delay x (1 CONNECT + 1 first PUT (name, length)
//                       + ceil(50 000 / (peer maximum - 11)) PUT bodies
//                       + 1 final PUT) + 50 000 / rate
// The virtual device announces a maximum of 65 535, so one body packet:
// t_device = 1 s x 4 + 0.5 s = 4.5 s. The link is closed without an OBEX
// DISCONNECT, so no fifth round trip. The pool serves MaxConnections at a
// time, and a free client waits for the pacing timer's next tick (every
// 250 ms), counted as at most 4 connection starts a second:
//   bound = min(7 / t_device, 4) devices a second = 93.3 a minute.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/AppSettings.h"
#include "app/CampaignStore.h"
#include "app/CampaignTable.h"
#include "app/DataFolder.h"
#include "app/DateFormat.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"
#include "app/SendingDecisions.h"
#include "cli/RunCommand.h"
#include "host/HeadlessSession.h"
#include "sim/Scenario.h"
#include "sim/ScenarioParser.h"

#include <stdlib.h>

namespace {

namespace fs = std::filesystem;
using kavri::AcceptReason;

constexpr int kRecords = 100'000;
constexpr const char* kCampaign = "Summer";

// A temporary folder, removed with the object.
class TempRoot {
public:
    explicit TempRoot(const char* prefix) {
        std::string folder =
            (fs::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
        if (::mkdtemp(folder.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        m_path = folder;
    }
    ~TempRoot() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

// "(PP:QQ:RR:XX:XX:XX)": a prefix of three bytes per file, so the files never
// share a device, and the low three bytes from i.
std::string Address(std::uint32_t prefix, std::uint32_t i) {
    char text[24];
    std::snprintf(text, sizeof text, "(%02X:%02X:%02X:%02X:%02X:%02X)", (prefix >> 16) & 0xFF,
                  (prefix >> 8) & 0xFF, prefix & 0xFF, (i >> 16) & 0xFF, (i >> 8) & 0xFF, i & 0xFF);
    return text;
}

constexpr std::uint32_t kAcceptedPrefix = 0x001122;
constexpr std::uint32_t kRejectedPrefix = 0x002233;
constexpr std::uint32_t kBlackListPrefix = 0x003344;
constexpr std::uint32_t kAbsentPrefix = 0x004455;

// A device file in the stored INI form, written directly.
void WriteRecords(const std::string& path, std::uint32_t prefix, bool coupon) {
    std::string text;
    text.reserve(8u << 20);
    for (int i = 0; i < kRecords; ++i) {
        text.append("[").append(Address(prefix, static_cast<std::uint32_t>(i))).append("]\r\n");
        text.append("Name=Device ").append(std::to_string(i)).append("\r\n");
        text.append("COD=Smartphone\r\nDateTime=2026-12-07 10:11:12\r\n");
        if (coupon) {
            text.append("Coupon=\r\n");
        }
    }
    std::ofstream(path, std::ios::binary) << text;
}

// A continuous, enabled file-based campaign whose payload is payloadName.
void AddCampaign(const kavri::DataFolder& data, const std::string& payloadName) {
    const std::string folder = data.CampaignFolder(kCampaign);
    fs::create_directories(folder);
    kavri::IniFile record(folder + "settings.dat", kavri::DateFormat::Iso());
    if (!record.WriteValues("SETTINGS", {{"Name", kCampaign},
                                         {"Type", "0"},
                                         {"Scheduling", "0"},
                                         {"Enabled", "1"},
                                         {"FileName", payloadName}})) {
        std::fprintf(stderr, "cannot write the campaign: %s\n", record.LastError().c_str());
        std::exit(1);
    }
    std::ofstream(data.CampaignsFile(), std::ios::binary | std::ios::app)
        << kavri::DataFolder::CampaignFolderName(kCampaign) << "\r\n";
}

// The data folder of the decision benchmarks and what the main window holds
// for a run: store, table, settings, clock and the decisions.
class DecisionBench {
public:
    DecisionBench()
        : m_root("kavri-bench-sender-"),
          m_data(kavri::DataFolder::Open((m_root.Path() / "data").string())),
          m_store(Prepare(m_data), kavri::DateFormat::Iso()),
          m_clock(
              kavri::TDateTime::FromParts({2026, 12, 9, 10, 0, 0, 0}).value_or(kavri::TDateTime())),
          m_table(m_store, m_clock, [](std::string_view key) { return std::string(key); }),
          m_settings(m_data.SettingsFile()),
          m_decisions(m_store, m_table, m_settings, m_clock, kavri::DeviceQueries{}) {
        m_table.RefreshCampaigns();
        m_decisions.wclProximitySenderDiscoveryComplete({Address(kAbsentPrefix, 0)});
    }

    kavri::SendingDecisions& Decisions() { return m_decisions; }
    const std::string& ActiveCampaign() const { return m_table.ActiveCampaign(); }

private:
    static const kavri::DataFolder& Prepare(const kavri::DataFolder& data) {
        AddCampaign(data, "promo.jpg");
        const std::string folder = data.CampaignFolder(kCampaign);
        WriteRecords(folder + std::string(kavri::SendingDecisions::kAcceptedFile), kAcceptedPrefix,
                     true);
        WriteRecords(folder + std::string(kavri::SendingDecisions::kRejectedFile), kRejectedPrefix,
                     false);
        WriteRecords(data.BlackListFile(), kBlackListPrefix, false);
        return data;
    }

    TempRoot m_root;
    kavri::DataFolder m_data;
    kavri::CampaignStore m_store;
    kavri::ManualDateTimeClock m_clock;
    kavri::CampaignTable m_table;
    kavri::AppSettings m_settings;
    kavri::SendingDecisions m_decisions;
};

DecisionBench& Decisions() {
    static DecisionBench bench;
    return bench;
}

// Checks, once, that the three files are in use: a device of each is refused
// for its own reason and an absent one is accepted. The empty text when so.
std::string CheckDecisions(DecisionBench& bench) {
    if (bench.ActiveCampaign() != kCampaign) {
        return "the campaign is not active";
    }
    struct Case {
        std::string address;
        bool accept;
        AcceptReason reason;
    };
    const Case cases[] = {
        {Address(kBlackListPrefix, kRecords - 1), false, AcceptReason::BlackListed},
        {Address(kAcceptedPrefix, kRecords / 2), false, AcceptReason::AlreadyAccepted},
        {Address(kRejectedPrefix, 7), false, AcceptReason::RecentlyRefused},
        {Address(kAbsentPrefix, 1), true, AcceptReason::Accepted},
    };
    for (const Case& c : cases) {
        bool accept = !c.accept;
        const AcceptReason reason =
            bench.Decisions().wclProximitySenderAcceptDevice(c.address, accept);
        if (accept != c.accept || reason != c.reason) {
            return "wrong decision for " + c.address;
        }
    }
    return {};
}

// The first decision: the parse cache emptied, so the black list, the
// accepted and the rejected file are each read and parsed.
void BM_AcceptDecisionCold(benchmark::State& state) {
    DecisionBench& bench = Decisions();
    const std::string address = Address(kAbsentPrefix, 0);
    bool allAccepted = true;
    for (auto _ : state) {
        kavri::IniFile::Cache::Process()->Clear();
        bool accept = false;
        bench.Decisions().wclProximitySenderAcceptDevice(address, accept);
        allAccepted = allAccepted && accept;
    }
    if (!allAccepted) {
        state.SkipWithError("the absent device was refused");
    }
}
BENCHMARK(BM_AcceptDecisionCold)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// Decisions once the files are parsed, for a different absent device each time.
void BM_AcceptDecision(benchmark::State& state) {
    DecisionBench& bench = Decisions();
    const std::string error = CheckDecisions(bench);
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::uint32_t i = 0;
    std::int64_t accepted = 0;
    for (auto _ : state) {
        const std::string address = Address(kAbsentPrefix, i++ & 0xFFFFFF);
        bool accept = false;
        bench.Decisions().wclProximitySenderAcceptDevice(address, accept);
        accepted += accept ? 1 : 0;
    }
    if (accepted != static_cast<std::int64_t>(state.iterations())) {
        state.SkipWithError("an absent device was refused");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AcceptDecision)->Unit(benchmark::kMicrosecond);

// ---- A full run ------------------------------------------------------------------

constexpr std::size_t kDefaultDevices = 500;
constexpr std::size_t kPayloadBytes = 50'000;
constexpr std::int64_t kAnswerDelayMs = 1000;
constexpr std::uint64_t kLinkRate = 100'000;
constexpr int kMaxConnections = 7;
constexpr std::uint64_t kPeerMaximum = 65'535;  // what the virtual devices announce
constexpr std::uint64_t kPutOverhead = 11;
constexpr double kPacingPerSecond = 4.0;  // one tick every 250 ms

std::size_t DeviceCount() {
    const char* text = std::getenv("KAVRI_BENCH_DEVICES");
    if (text == nullptr || *text == '\0') {
        return kDefaultDevices;
    }
    const long value = std::strtol(text, nullptr, 10);
    return value > 0 && value <= 100'000 ? static_cast<std::size_t>(value) : kDefaultDevices;
}

// Seconds one device takes at least (see the top of the file).
double DeviceSeconds() {
    const double bodies = std::ceil(static_cast<double>(kPayloadBytes) /
                                    static_cast<double>(kPeerMaximum - kPutOverhead));
    const double roundTrips = 1 + 1 + bodies + 1;
    return static_cast<double>(kAnswerDelayMs) / 1000.0 * roundTrips +
           static_cast<double>(kPayloadBytes) / static_cast<double>(kLinkRate);
}

double BoundPerMinute() {
    return std::min(kMaxConnections / DeviceSeconds(), kPacingPerSecond) * 60.0;
}

// The seeded random devices of the scenario generator, every one made to
// accept with an Object Push service, a 1 s answer delay and the link rate.
std::string ScenarioText(std::size_t count) {
    kavri::sim::Scenario scenario;
    scenario.installedStacks = {kavri::sim::StackKind::Microsoft};
    scenario.radio.address = "(00:1A:7D:DA:71:13)";
    scenario.radio.name = "Bench Radio";
    scenario.devices = kavri::sim::GenerateDevices(count, 42);
    for (kavri::sim::DeviceSpec& device : scenario.devices) {
        device.behaviour = kavri::sim::PushBehaviour::Accept;
        device.answerDelayMs = kAnswerDelayMs;
        device.linkRateBytesPerSecond = kLinkRate;
        device.presence.clear();
        device.externalEndpoint.reset();
        const bool hasObjectPush =
            std::any_of(device.services.begin(), device.services.end(),
                        [](const kavri::sim::ServiceSpec& s) { return s.classUuid == "0x1105"; });
        if (!hasObjectPush) {
            // A device generated without Object Push gets it alone.
            device.services = {kavri::sim::ServiceSpec{9, "OBEX Object Push", "", "0x1105", false}};
        }
    }
    return kavri::sim::FormatScenario(scenario);
}

// kavrictl run's output, in memory; the flush after every line makes the
// buffer current.
class MemoryOut {
public:
    MemoryOut() : m_file(::open_memstream(&m_buffer, &m_size)) {}
    ~MemoryOut() {
        if (m_file != nullptr) {
            std::fclose(m_file);
        }
        std::free(m_buffer);
    }
    MemoryOut(const MemoryOut&) = delete;
    MemoryOut& operator=(const MemoryOut&) = delete;

    std::FILE* File() const { return m_file; }
    std::string_view Text() const {
        return m_buffer == nullptr ? std::string_view() : std::string_view(m_buffer, m_size);
    }

private:
    char* m_buffer = nullptr;
    std::size_t m_size = 0;
    std::FILE* m_file = nullptr;
};

std::size_t Count(std::string_view text, std::string_view what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos;
         at = text.find(what, at + what.size())) {
        ++n;
    }
    return n;
}

void BM_SenderRun(benchmark::State& state) {
    const std::size_t devices = DeviceCount();
    TempRoot root("kavri-bench-run-");
    const kavri::DataFolder data = kavri::DataFolder::Open((root.Path() / "data").string());
    AddCampaign(data, "promo.bin");
    {
        std::string payload(kPayloadBytes, '\0');
        std::uint32_t seed = 7;
        for (char& byte : payload) {
            seed = seed * 1103515245u + 12345u;
            byte = static_cast<char>(seed >> 16);
        }
        std::ofstream(data.CampaignFolder(kCampaign) + "promo.bin", std::ios::binary) << payload;
        kavri::AppSettings settings(data.SettingsFile());
        if (const kavri::Result written = settings.SetMaxConnections(kMaxConnections); !written) {
            state.SkipWithError(written.Message.c_str());
            return;
        }
    }
    const std::string scenarioPath = (root.Path() / "bench.scenario").string();
    std::ofstream(scenarioPath, std::ios::binary) << ScenarioText(devices);

    double servingSeconds = 0;
    double wholeSeconds = 0;
    std::size_t served = 0;
    std::size_t tried = 0;
    for (auto _ : state) {
        MemoryOut out;
        MemoryOut err;
        const auto start = std::chrono::steady_clock::now();
        std::optional<std::chrono::steady_clock::time_point> firstConnecting;
        int status = 1;
        {
            kavri::host::HeadlessSession session((root.Path() / "inboxes").string());
            if (const kavri::Result opened = session.Open(scenarioPath); !opened) {
                state.SkipWithError(opened.Message.c_str());
                return;
            }
            const kavri::SystemDateTimeClock clock;
            kavri::cli::RunEnvironment environment{
                session.Loop(), clock, "KAVRI-BENCH", [&] {
                    session.Loop().ProcessEvents(std::chrono::seconds(1));
                    if (!firstConnecting &&
                        out.Text().find("\tconnecting\t") != std::string_view::npos) {
                        firstConnecting = std::chrono::steady_clock::now();
                    }
                }};
            kavri::cli::RunOptions options;
            options.DataFolder = data.Path();
            options.Cycles = 1;
            status = kavri::cli::RunSenderIn(environment, options, out.File(), err.File());
        }
        const auto end = std::chrono::steady_clock::now();
        std::fflush(err.File());
        if (status != 0 || !firstConnecting) {
            state.SkipWithError(("the run failed: " + std::string(err.Text())).c_str());
            return;
        }
        wholeSeconds = std::chrono::duration<double>(end - start).count();
        servingSeconds = std::chrono::duration<double>(end - *firstConnecting).count();
        // A successful push is a send-complete line with result 0.
        std::size_t ok = 0;
        const std::string_view text = out.Text();
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t endOfLine = std::min(text.find('\n', at), text.size());
            const std::string_view line = text.substr(at, endOfLine - at);
            if (line.find("\tsend-complete\t") != std::string_view::npos &&
                line.ends_with("\t0x00000000")) {
                ++ok;
            }
            at = endOfLine + 1;
        }
        served = ok;
        tried = Count(text, "\tconnecting\t");
    }
    // Every push counted must have landed whole in its device's inbox.
    std::size_t arrived = 0;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(root.Path() / "inboxes", ignored)) {
        if (entry.is_regular_file(ignored) && entry.path().filename() == "promo.bin" &&
            entry.file_size(ignored) == kPayloadBytes) {
            ++arrived;
        }
    }
    if (arrived != served) {
        state.SkipWithError(
            ("served " + std::to_string(served) + ", arrived " + std::to_string(arrived)).c_str());
        return;
    }
    if (tried != devices) {
        state.SkipWithError(
            ("tried " + std::to_string(tried) + " of " + std::to_string(devices)).c_str());
        return;
    }
    const double bound = BoundPerMinute();
    const double perMinute = static_cast<double>(served) / servingSeconds * 60.0;
    const double wholePerMinute = static_cast<double>(served) / wholeSeconds * 60.0;
    state.counters["devices"] = static_cast<double>(devices);
    state.counters["served"] = static_cast<double>(served);
    state.counters["serving_s"] = servingSeconds;
    state.counters["whole_s"] = wholeSeconds;
    state.counters["t_device_s"] = DeviceSeconds();
    state.counters["bound_per_min"] = bound;
    state.counters["served_per_min"] = perMinute;
    state.counters["ratio_to_bound"] = perMinute / bound;
    state.counters["whole_per_min"] = wholePerMinute;
    state.counters["whole_ratio_to_bound"] = wholePerMinute / bound;
}
BENCHMARK(BM_SenderRun)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
