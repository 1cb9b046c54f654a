#include "cli/PushCommand.h"

#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>

#include "cli/Escape.h"
#include "cli/RadioAdvice.h"
#include "engine/wclOBEXClients.h"
#include "engine/wclOBEXObjectSource.h"
#include "host/HeadlessSession.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclBluetoothDiscovery.h"
#include "stack/wclExceptions.h"

namespace kavri::cli {
namespace {

// Generous bounds: a page plus the service search takes seconds, and a 20 MiB
// object at a slow link rate takes minutes. The connection's own connect
// time-out ends a silent device sooner.
constexpr std::chrono::milliseconds kConnectLimit{120000};
constexpr std::chrono::milliseconds kPushLimit{3600000};

void PrintResult(std::FILE* out, const std::string& name, std::uint32_t result,
                 std::uintmax_t bytes, double seconds) {
    std::fprintf(out, "%s\t0x%08X\t%ju\t%.3f\n", EscapeField(name).c_str(), result, bytes, seconds);
    std::fflush(out);
}

std::uintmax_t FileSize(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

}  // namespace

int RunPush(const PushRequest& request, std::FILE* out, std::FILE* err) {
    try {
        ValidateAddress(request.address);
        host::HeadlessSession session(request.inboxRoot);
        if (const Result opened = session.Open(request.scenarioPath); !opened) {
            std::fprintf(err, "kavrictl: %s\n", EscapeField(opened.Message).c_str());
            return 1;
        }
        TwclBluetoothDiscovery discovery(session.Loop());
        const std::unique_ptr<TwclBluetoothRadios> radios =
            RadiosOrReason(discovery, session.Stack(), err);
        if (radios == nullptr)
            return 1;
        if (radios->Count() == 0) {
            std::fprintf(err, "kavrictl: no Bluetooth radio is available\n");
            PrintAdvice(err, session.Stack().NoRadioAdvice());
            return 1;
        }

        TwclOPPClient client(session.Loop());
        client.BluetoothParams().SetRadio(&radios->Items(0));
        client.BluetoothParams().SetAddress(request.address);

        std::optional<std::uint32_t> connectResult;
        bool linkClosed = false;
        client.OnConnect = [&](TwclCustomConnection&, std::uint32_t result) {
            connectResult = result;
        };
        client.OnDisconnect = [&](TwclCustomConnection&) { linkClosed = true; };

        client.Connect();
        if (!session.RunUntil([&] { return connectResult.has_value(); }, kConnectLimit)) {
            connectResult = kWclErrTimeout;
        }

        bool allSent = true;
        for (const std::string& path : request.files) {
            // Named as the sender names what it pushes.
            const std::string name = PushNameOfPath(path);
            const std::uintmax_t size = FileSize(path);
            const auto started = std::chrono::steady_clock::now();
            const auto elapsed = [&] {
                return std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
                    .count();
            };
            if (*connectResult != kWclSuccess || linkClosed) {
                PrintResult(out, name,
                            linkClosed && *connectResult == kWclSuccess ? kWclErrConnectionClosed
                                                                        : *connectResult,
                            size, 0.0);
                allSent = false;
                continue;
            }

            std::optional<std::uint32_t> result;
            client.OnComplete = [&](TwclCustomOBEXClient&, std::uint32_t code, TwclOBEXOperation) {
                result = code;
            };
            client.OnProgress = [&](TwclCustomOBEXClient&, std::uint32_t position,
                                    std::uint32_t total) {
                if (request.progress) {
                    std::fprintf(err, "\r%s: %u / %u bytes", EscapeField(name).c_str(), position,
                                 total);
                    std::fflush(err);
                }
            };
            try {
                // Read from the disk as the packets go out, whatever its size.
                client.Put(name, std::make_unique<TwclOBEXFileSource>(path));
            } catch (const wclException& e) {
                result = e.ErrorCode();
            }
            // A link that closes mid-push ends the push with no completion.
            if (!session.RunUntil([&] { return result.has_value() || linkClosed; }, kPushLimit)) {
                result = kWclErrTimeout;
            }
            if (!result)
                result = kWclErrConnectionClosed;
            if (request.progress)
                std::fputs("\n", err);
            PrintResult(out, name, *result, size, elapsed());
            if (*result != kWclSuccess)
                allSent = false;
        }
        client.Disconnect();
        return allSent ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(err, "kavrictl: %s\n", EscapeField(e.what()).c_str());
        return 1;
    }
}

}  // namespace kavri::cli
