// Object Push throughput over loopback: kavrictl's push command sends a 20 MiB
// object to a virtual device (its built-in server, no rate limit) and to the
// libopenobex peer announcing a maximum packet length of 1024 and of 65535;
// Debian's obexftp sends the same file to the same peer at both maximums.
//
// Every push is timed whole, as its operator waits for it: from the command's
// start (stack load and link for ours, process start for obexftp) to its end,
// the OBEX connect and disconnect included. Counters:
//   MB_per_s           20 MiB in decimal megabytes over that time
//   push_MB_per_s      ours: over the push alone, as kavrictl reports it
//   ours_MB_per_s      obexftp runs: ours, pushed to the same peer right after
//                      each obexftp push
//   ours_over_obexftp  obexftp runs: ours_MB_per_s / MB_per_s
// Every object is checked to have arrived whole. The obexftp runs are left out
// when obexftp is not installed.

#include "cli/PushCommand.h"
#include "interop/ChildProcess.h"

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

constexpr std::size_t kObjectBytes = 20u * 1024u * 1024u;
constexpr const char* kObjectName = "twenty-mib.bin";
constexpr const char* kVirtualAddress = "(00:17:E5:3A:91:02)";
constexpr const char* kVirtualFolder = "0017E53A9102";  // its inbox under the inbox root
constexpr const char* kPeerAddress = "(00:16:B8:29:C4:0A)";
constexpr int kIterations = 10;
// Far above any push seen here; a peer that hangs ends the run with an error.
constexpr auto kChildLimit = 300s;

// The object and the scenario, made once per process and removed at exit.
class Workspace {
public:
    Workspace() {
        std::string folder = (fs::temp_directory_path() / "kavri-bench-push-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        m_root = folder;
        std::string bytes(kObjectBytes, '\0');
        std::uint32_t seed = 7;
        for (char& byte : bytes) {
            seed = seed * 1103515245u + 12345u;
            byte = static_cast<char>(seed >> 16);
        }
        std::ofstream(Object(), std::ios::binary) << bytes;
        fs::create_directories(PeerInbox());
    }
    ~Workspace() {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    fs::path Object() const { return m_root / kObjectName; }
    fs::path VirtualInboxRoot() const { return m_root / "virtual-inbox"; }
    fs::path PeerInbox() const { return m_root / "peer-inbox"; }

    // A radio and one device: an accepting virtual one, or, when a port is
    // given, one whose Object Push service is the peer on that port.
    fs::path Scenario(const std::optional<std::string>& peerPort) const {
        const fs::path path = m_root / "bench.scenario";
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

std::string Drain(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, n);
    std::fclose(file);
    return text;
}

double Seconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

double MegabytesPerSecond(std::size_t bytes, double seconds) {
    return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0;
}

// One kavrictl push of the object; the push's own seconds, or an error text.
struct OurPush {
    double seconds = 0;
    std::string error;
};

OurPush PushOnce(const std::string& address, const fs::path& scenario) {
    kavri::cli::PushRequest request{address,
                                    {g_workspace->Object().string()},
                                    scenario.string(),
                                    g_workspace->VirtualInboxRoot().string(),
                                    false};
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    if (out == nullptr || err == nullptr)
        return {0, "tmpfile failed"};
    const int status = kavri::cli::RunPush(request, out, err);
    const std::string lines = Drain(out);
    const std::string errors = Drain(err);
    // NAME, RESULT, BYTES, SECONDS
    const std::string expected =
        std::string(kObjectName) + "\t0x00000000\t" + std::to_string(kObjectBytes) + "\t";
    if (status != 0 || lines.compare(0, expected.size(), expected) != 0)
        return {0, "push failed: " + lines + errors};
    return {std::strtod(lines.c_str() + expected.size(), nullptr), ""};
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
std::string CheckPeerStored(ChildProcess& peer) {
    const auto stored = peer.WaitForLine("stored ", 30s);
    const std::string expected =
        std::to_string(kObjectBytes) + " " + (g_workspace->PeerInbox() / kObjectName).string();
    if (!stored || *stored != expected)
        return "the peer did not store the object: " + peer.Output();
    return "";
}

void SetThroughput(benchmark::State& state, double seconds) {
    state.counters["MB_per_s"] = MegabytesPerSecond(kObjectBytes * state.iterations(), seconds);
    state.SetBytesProcessed(static_cast<std::int64_t>(kObjectBytes * state.iterations()));
}

void BM_PushToVirtualDevice(benchmark::State& state) {
    const fs::path scenario = g_workspace->Scenario(std::nullopt);
    const fs::path stored = g_workspace->VirtualInboxRoot() / kVirtualFolder / kObjectName;
    double total = 0;
    double pushing = 0;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        const OurPush push = PushOnce(kVirtualAddress, scenario);
        const double seconds = Seconds(std::chrono::steady_clock::now() - started);
        state.SetIterationTime(seconds);
        std::error_code error;
        const auto size = fs::file_size(stored, error);
        if (!push.error.empty() || error || size != kObjectBytes) {
            state.SkipWithError(push.error.empty() ? "the device did not keep the object"
                                                   : push.error.c_str());
            break;
        }
        // The device would keep the next one as "twenty-mib (2).bin".
        fs::remove(stored, error);
        total += seconds;
        pushing += push.seconds;
    }
    SetThroughput(state, total);
    state.counters["push_MB_per_s"] =
        MegabytesPerSecond(kObjectBytes * state.iterations(), pushing);
}

void BM_PushToOpenObexPeer(benchmark::State& state) {
    const int maximum = static_cast<int>(state.range(0));
    std::optional<ChildProcess> peer;
    const auto port = StartPeer(peer, maximum);
    if (!port) {
        state.SkipWithError("the peer did not start");
        return;
    }
    const fs::path scenario = g_workspace->Scenario(*port);
    double total = 0;
    double pushing = 0;
    for (auto _ : state) {
        const auto started = std::chrono::steady_clock::now();
        const OurPush push = PushOnce(kPeerAddress, scenario);
        const double seconds = Seconds(std::chrono::steady_clock::now() - started);
        state.SetIterationTime(seconds);
        const std::string error = push.error.empty() ? CheckPeerStored(*peer) : push.error;
        if (!error.empty()) {
            state.SkipWithError(error.c_str());
            break;
        }
        total += seconds;
        pushing += push.seconds;
    }
    SetThroughput(state, total);
    state.counters["push_MB_per_s"] =
        MegabytesPerSecond(kObjectBytes * state.iterations(), pushing);
    peer->Terminate(5s);
}

// Each iteration times one obexftp push (the benchmark's time) and then one of
// ours to the same peer, so that both meet the same load on the machine.
void BM_ObexftpToOpenObexPeer(benchmark::State& state, std::string obexftp) {
    const int maximum = static_cast<int>(state.range(0));
    std::optional<ChildProcess> peer;
    const auto port = StartPeer(peer, maximum);
    if (!port) {
        state.SkipWithError("the peer did not start");
        return;
    }
    const fs::path scenario = g_workspace->Scenario(*port);
    double theirs = 0;
    double ours = 0;
    for (auto _ : state) {
        auto started = std::chrono::steady_clock::now();
        std::optional<int> status;
        std::string output;
        {
            ChildProcess push({obexftp, "-n", "127.0.0.1:" + *port, "-U", "none", "-p",
                               g_workspace->Object().string()},
                              {"LC_ALL=C.UTF-8"});
            status = push.Wait(kChildLimit);
            output = push.Output();
        }
        const double seconds = Seconds(std::chrono::steady_clock::now() - started);
        state.SetIterationTime(seconds);
        // obexftp 0.24 ends a successful push with status 255.
        std::string error = status == 255 ? CheckPeerStored(*peer) : "obexftp failed: " + output;
        if (error.empty()) {
            started = std::chrono::steady_clock::now();
            error = PushOnce(kPeerAddress, scenario).error;
            ours += Seconds(std::chrono::steady_clock::now() - started);
            if (error.empty())
                error = CheckPeerStored(*peer);
        }
        if (!error.empty()) {
            state.SkipWithError(error.c_str());
            break;
        }
        theirs += seconds;
    }
    SetThroughput(state, theirs);
    const double oursRate = MegabytesPerSecond(kObjectBytes * state.iterations(), ours);
    const double theirsRate = MegabytesPerSecond(kObjectBytes * state.iterations(), theirs);
    state.counters["ours_MB_per_s"] = oursRate;
    if (theirsRate > 0)
        state.counters["ours_over_obexftp"] = oursRate / theirsRate;
    peer->Terminate(5s);
}

void Configure(benchmark::internal::Benchmark* benchmark) {
    benchmark->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(kIterations);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Workspace workspace;
    g_workspace = &workspace;

    Configure(benchmark::RegisterBenchmark("BM_PushToVirtualDevice", BM_PushToVirtualDevice));
    Configure(benchmark::RegisterBenchmark("BM_PushToOpenObexPeer", BM_PushToOpenObexPeer)
                  ->ArgName("mtu")
                  ->Arg(1024)
                  ->Arg(65535));
    const std::string obexftp = KAVRI_OBEXFTP;
    if (obexftp.empty()) {
        std::fprintf(stderr, "bench_push: obexftp is not installed; its runs are left out\n");
    } else {
        Configure(benchmark::RegisterBenchmark("BM_ObexftpToOpenObexPeer", BM_ObexftpToOpenObexPeer,
                                               obexftp)
                      ->ArgName("mtu")
                      ->Arg(65535)
                      ->Arg(1024));
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_workspace = nullptr;
    return 0;
}
