// Object Push over loopback, as an operator runs it: `kavrictl push` as its
// own process sends an object of 20 MiB or 200 MiB to the libopenobex peer
// announcing a maximum packet length of 1024 (and 65535 for 20 MiB), and
// Debian's obexftp sends the same file to the same peer right before it, so
// that both meet the same load on the machine. A push to a virtual device
// (the built-in server, no rate limit) is timed too.
//
// Every push is timed whole, from the program's start to its end (stack load
// and OBEX connect included), and every object is checked to have arrived
// whole. The benchmark's time is ours. Counters:
//   MB_per_s              ours, the object in decimal megabytes over that time
//   peak_MB               ours: the largest peak resident memory (VmHWM) of
//                         any push, in MiB; the target is under 20 whatever
//                         the object's size
//   obexftp_MB_per_s      obexftp on the same peer
//   obexftp_peak_MB       the same for obexftp
//   time_ratio            our total time over obexftp's (paired pushes);
//                         1.0 or lower is the target
//   median_time_ratio     the median of the per-pair ratios, which a passing
//                         load on the machine moves less
// The obexftp counters are left out when obexftp is not installed.

#include "interop/ChildProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <benchmark/benchmark.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kavri::test::ChildProcess;

constexpr std::size_t kMiB = 1024u * 1024u;
constexpr const char* kVirtualAddress = "(00:17:E5:3A:91:02)";
constexpr const char* kVirtualFolder = "0017E53A9102";  // its inbox under the inbox root
constexpr const char* kPeerAddress = "(00:16:B8:29:C4:0A)";
// Far above any push seen here; a peer that hangs ends the run with an error.
constexpr auto kChildLimit = 600s;

// The objects and the scenarios, made once per process and removed at exit.
class Workspace {
public:
    Workspace() {
        std::string folder = (fs::temp_directory_path() / "kavri-bench-push-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        m_root = folder;
        fs::create_directories(PeerInbox());
    }
    ~Workspace() {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    // An object of that many MiB of varied bytes, written on first use.
    fs::path Object(std::size_t mib) const {
        const fs::path path = m_root / (std::to_string(mib) + "-mib.bin");
        if (fs::exists(path))
            return path;
        std::ofstream out(path, std::ios::binary);
        std::vector<char> chunk(kMiB);
        std::uint32_t seed = 7;
        for (std::size_t i = 0; i < mib; ++i) {
            for (char& byte : chunk) {
                seed = seed * 1103515245u + 12345u;
                byte = static_cast<char>(seed >> 16);
            }
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
        return path;
    }
    fs::path VirtualInboxRoot() const { return m_root / "virtual-inbox"; }
    fs::path PeerInbox() const { return m_root / "peer-inbox"; }

    // A radio and one device: an accepting virtual one, or, when a port is
    // given, one whose Object Push service is the peer on that port.
    fs::path Scenario(const std::optional<std::string>& peerPort) const {
        const fs::path path = m_root / (peerPort ? "peer.scenario" : "virtual.scenario");
        std::ofstream out(path);
        out << "stacks microsoft\nradio (00:1A:7D:DA:71:13) \"Radio\"\n";
        if (peerPort)
            out << "device " << kPeerAddress << " \"Peer\" endpoint 127.0.0.1:" << *peerPort;
        else
            out << "device " << kVirtualAddress << " \"Virtual\"";
        out << "\n  service 9 \"OBEX Object Push\" 0x1105\n";
        return path;
    }

private:
    fs::path m_root;
};

Workspace* g_workspace = nullptr;

double Seconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

double MegabytesPerSecond(std::uint64_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0;
}

// One push by a program: its time, its peak resident memory, or an error.
struct Push {
    double seconds = 0;
    long peakKb = 0;
    std::string error;
};

Push RunProgram(std::vector<std::string> argv, int expectedStatus,
                const std::string& expectedOutput) {
    const auto started = std::chrono::steady_clock::now();
    ChildProcess child(std::move(argv), {"LC_ALL=C.UTF-8"});
    const std::optional<int> status = child.Wait(kChildLimit);
    Push push;
    push.seconds = Seconds(std::chrono::steady_clock::now() - started);
    push.peakKb = child.PeakResidentKb();
    if (status != expectedStatus || child.Output().find(expectedOutput) == std::string::npos) {
        push.error = "push failed (status " + (status ? std::to_string(*status) : "none") +
                     "): " + child.Output();
    }
    return push;
}

Push PushOurs(const std::string& address, const fs::path& scenario, const fs::path& object) {
    // NAME, RESULT, BYTES: the push succeeded whole.
    const std::string expected = object.filename().string() + "\t0x00000000\t" +
                                 std::to_string(fs::file_size(object)) + "\t";
    return RunProgram(
        {KAVRI_KAVRICTL, "push", address, object.string(), "--simulate", scenario.string(),
         "--inbox", g_workspace->VirtualInboxRoot().string(), "--no-progress"},
        0, expected);
}

Push PushObexftp(const std::string& port, const fs::path& object) {
    // obexftp turns a spinner on its output at every packet: to /dev/null, as
    // an operator would run it, rather than through a pipe that wakes this
    // process 20 000 times a push. exec keeps the measured process obexftp.
    // obexftp 0.24 ends a successful push with status 255.
    return RunProgram({"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/null 2>&1", KAVRI_OBEXFTP, "-n",
                       "127.0.0.1:" + port, "-U", "none", "-p", object.string()},
                      255, "");
}

// The peer announcing maximum, until the benchmark ends.
std::optional<std::string> StartPeer(std::optional<ChildProcess>& peer, int maximum) {
    peer.emplace(std::vector<std::string>{KAVRI_OPENOBEX_PUSH_PEER,
                                          g_workspace->PeerInbox().string(), "--mtu",
                                          std::to_string(maximum)});
    return peer->WaitForLine("port ", 10s);
}

// The peer's report of the object just pushed; an error text when it is not
// the whole object.
std::string CheckPeerStored(ChildProcess& peer, const fs::path& object) {
    const auto stored = peer.WaitForLine("stored ", 60s);
    const std::string expected = std::to_string(fs::file_size(object)) + " " +
                                 (g_workspace->PeerInbox() / object.filename()).string();
    if (!stored || *stored != expected)
        return "the peer did not store the object: " + peer.Output();
    return "";
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double PeakMB(long peakKb) {
    return static_cast<double>(peakKb) / 1024.0;
}

// Arguments: the peer's maximum packet length, the object's size in MiB.
void BM_PushToOpenObexPeer(benchmark::State& state) {
    const int maximum = static_cast<int>(state.range(0));
    const auto mib = static_cast<std::size_t>(state.range(1));
    const fs::path object = g_workspace->Object(mib);
    const std::uint64_t bytes = fs::file_size(object);
    const bool withObexftp = std::string(KAVRI_OBEXFTP).size() > 0;
    std::optional<ChildProcess> peer;
    const auto port = StartPeer(peer, maximum);
    if (!port) {
        state.SkipWithError("the peer did not start");
        return;
    }
    const fs::path scenario = g_workspace->Scenario(*port);
    double ours = 0;
    double theirs = 0;
    long oursPeak = 0;
    long theirsPeak = 0;
    std::vector<double> ratios;
    for (auto _ : state) {
        std::string error;
        Push obexftp;
        if (withObexftp) {
            obexftp = PushObexftp(*port, object);
            error = obexftp.error.empty() ? CheckPeerStored(*peer, object) : obexftp.error;
        }
        Push push;
        if (error.empty()) {
            push = PushOurs(kPeerAddress, scenario, object);
            error = push.error.empty() ? CheckPeerStored(*peer, object) : push.error;
        }
        if (!error.empty()) {
            state.SkipWithError(error.c_str());
            break;
        }
        state.SetIterationTime(push.seconds);
        ours += push.seconds;
        oursPeak = std::max(oursPeak, push.peakKb);
        if (withObexftp) {
            theirs += obexftp.seconds;
            theirsPeak = std::max(theirsPeak, obexftp.peakKb);
            ratios.push_back(push.seconds / obexftp.seconds);
        }
    }
    const std::uint64_t total = bytes * state.iterations();
    state.SetBytesProcessed(static_cast<std::int64_t>(total));
    state.counters["MB_per_s"] = MegabytesPerSecond(total, ours);
    state.counters["peak_MB"] = PeakMB(oursPeak);
    if (withObexftp && theirs > 0) {
        state.counters["obexftp_MB_per_s"] = MegabytesPerSecond(total, theirs);
        state.counters["obexftp_peak_MB"] = PeakMB(theirsPeak);
        state.counters["time_ratio"] = ours / theirs;
        state.counters["median_time_ratio"] = Median(ratios);
    }
    peer->Terminate(5s);
}

// Argument: the object's size in MiB.
void BM_PushToVirtualDevice(benchmark::State& state) {
    const auto mib = static_cast<std::size_t>(state.range(0));
    const fs::path object = g_workspace->Object(mib);
    const std::uint64_t bytes = fs::file_size(object);
    const fs::path scenario = g_workspace->Scenario(std::nullopt);
    const fs::path stored = g_workspace->VirtualInboxRoot() / kVirtualFolder / object.filename();
    double ours = 0;
    long oursPeak = 0;
    for (auto _ : state) {
        const Push push = PushOurs(kVirtualAddress, scenario, object);
        std::error_code error;
        const auto size = fs::file_size(stored, error);
        if (!push.error.empty() || error || size != bytes) {
            state.SkipWithError(push.error.empty() ? "the device did not keep the object"
                                                   : push.error.c_str());
            break;
        }
        // The device would keep the next one under another name.
        fs::remove(stored, error);
        state.SetIterationTime(push.seconds);
        ours += push.seconds;
        oursPeak = std::max(oursPeak, push.peakKb);
    }
    const std::uint64_t total = bytes * state.iterations();
    state.SetBytesProcessed(static_cast<std::int64_t>(total));
    state.counters["MB_per_s"] = MegabytesPerSecond(total, ours);
    state.counters["peak_MB"] = PeakMB(oursPeak);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Workspace workspace;
    g_workspace = &workspace;
    if (std::string(KAVRI_OBEXFTP).empty())
        std::fprintf(stderr, "bench_push: obexftp is not installed; its counters are left out\n");

    const auto configure = [](benchmark::internal::Benchmark* benchmark, int iterations) {
        benchmark->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(iterations);
    };
    configure(benchmark::RegisterBenchmark("BM_PushToOpenObexPeer", BM_PushToOpenObexPeer)
                  ->ArgNames({"mtu", "MiB"})
                  ->Args({1024, 20}),
              10);
    configure(benchmark::RegisterBenchmark("BM_PushToOpenObexPeer", BM_PushToOpenObexPeer)
                  ->ArgNames({"mtu", "MiB"})
                  ->Args({1024, 200}),
              3);
    configure(benchmark::RegisterBenchmark("BM_PushToOpenObexPeer", BM_PushToOpenObexPeer)
                  ->ArgNames({"mtu", "MiB"})
                  ->Args({65535, 20}),
              10);
    configure(benchmark::RegisterBenchmark("BM_PushToVirtualDevice", BM_PushToVirtualDevice)
                  ->ArgName("MiB")
                  ->Arg(20),
              10);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_workspace = nullptr;
    return 0;
}
