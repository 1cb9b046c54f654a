#include "cli/InquiryCommand.h"

#include <chrono>
#include <exception>
#include <memory>

#include "cli/Escape.h"
#include "cli/RadioAdvice.h"
#include "host/HeadlessSession.h"
#include "platform/Text.h"
#include "stack/wclBluetoothDiscovery.h"
#include "stack/wclExceptions.h"
#include "stack/wclUUIDs.h"

namespace kavri::cli {
namespace {

// One inquiry of a real stack takes about ten seconds; a minute means the
// stack is stuck.
constexpr std::chrono::milliseconds kInquiryLimit{60000};

std::string ReadName(const TwclBluetoothDevice& device, const TwclBluetoothRadio& radio) {
    try {
        return EscapeField(device.GetName(&radio));
    } catch (const wclException&) {
        return "<unknown>";
    }
}

std::string ReadClass(const TwclBluetoothDevice& device, const TwclBluetoothRadio& radio) {
    try {
        char text[16];
        std::snprintf(text, sizeof text, "0x%06X", device.GetClassOfDevice(&radio) & 0xFFFFFFu);
        return text;
    } catch (const wclException&) {
        return "-";
    }
}

std::string ReadPushChannel(const TwclBluetoothDevice& device, const TwclBluetoothRadio& radio) {
    try {
        auto services = device.EnumServices(&radio, OBEXObjectPushServiceClassUUID);
        for (int i = 0; i < services->Count(); ++i) {
            const TwclBluetoothService& service = services->Items(i);
            if (service.Channel() != 0)
                return std::to_string(service.Channel());
        }
    } catch (const wclException&) {
    }
    return "-";
}

// The Bluetooth stack named (any letter case), or nothing.
std::optional<TwclBluetoothAPI> StackNamed(const std::string& name) {
    const std::pair<const char*, TwclBluetoothAPI> stacks[] = {
        {"bluesoleil", TwclBluetoothAPI::baBlueSoleil},
        {"microsoft", TwclBluetoothAPI::baMicrosoft},
        {"toshiba", TwclBluetoothAPI::baToshiba},
        {"widcomm", TwclBluetoothAPI::baWidComm},
        {"bluez", TwclBluetoothAPI::baBlueZ},
    };
    for (const auto& [stackName, api] : stacks) {
        if (EqualsFoldedAscii(name, stackName))
            return api;
    }
    return std::nullopt;
}

}  // namespace

int RunInquiry(const std::optional<std::string>& scenarioPath, std::FILE* out, std::FILE* err,
               const std::optional<std::string>& stack) {
    std::optional<TwclBluetoothAPI> wanted;
    if (stack) {
        wanted = StackNamed(*stack);
        if (!wanted) {
            std::fprintf(err,
                         "kavrictl: unknown stack %s; use microsoft, bluesoleil, toshiba, "
                         "widcomm or bluez\n",
                         EscapeField(*stack).c_str());
            return 2;
        }
    }
    try {
        host::HeadlessSession session;
        if (const Result opened = session.Open(scenarioPath); !opened) {
            std::fprintf(err, "kavrictl: %s\n", EscapeField(opened.Message).c_str());
            return 1;
        }
        TwclBluetoothDiscovery discovery(session.Loop());
        const std::unique_ptr<TwclBluetoothRadios> radios =
            RadiosOrReason(discovery, session.Stack(), err);
        if (radios == nullptr)
            return 1;
        int chosen = wanted ? -1 : 0;
        for (int i = 0; wanted && i < radios->Count(); ++i) {
            if (radios->Items(i).API() == *wanted) {
                chosen = i;
                break;
            }
        }
        if (radios->Count() == 0 || chosen < 0) {
            std::fprintf(err,
                         wanted ? "kavrictl: the stack %s has no radio\n"
                                : "kavrictl: no Bluetooth radio is available\n",
                         stack ? EscapeField(*stack).c_str() : "");
            if (!wanted || *wanted == TwclBluetoothAPI::baBlueZ)
                PrintAdvice(err, session.Stack().NoRadioAdvice());
            return 1;
        }
        TwclBluetoothRadio radio;
        radio.Assign(&radios->Items(chosen));

        bool complete = false;
        std::unique_ptr<TwclBluetoothDevices> found;
        discovery.OnDiscoveryComplete = [&](TwclBluetoothDiscovery&, const TwclBluetoothRadio&,
                                            const TwclBluetoothDevices* devices) {
            if (devices != nullptr) {
                found = std::make_unique<TwclBluetoothDevices>();
                found->Assign(devices);
            }
            complete = true;
        };
        discovery.Discover(&radio);
        if (!session.RunUntil([&] { return complete; }, kInquiryLimit)) {
            std::fprintf(err, "kavrictl: the inquiry did not finish\n");
            return 1;
        }
        if (!found) {
            std::fprintf(err, "kavrictl: the inquiry failed\n");
            return 1;
        }
        for (int i = 0; i < found->Count(); ++i) {
            const TwclBluetoothDevice& device = found->Items(i);
            std::fprintf(out, "%s\t%s\t%s\t%s\n", device.Address().c_str(),
                         ReadClass(device, radio).c_str(), ReadPushChannel(device, radio).c_str(),
                         ReadName(device, radio).c_str());
        }
        std::fflush(out);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(err, "kavrictl: %s\n", EscapeField(e.what()).c_str());
        return 1;
    }
}

}  // namespace kavri::cli
