#pragma once

// A binding of a stack whose stand-in hands out virtual COM ports, over the
// virtual neighbourhood with an Object Push server and an inbox for each
// device, on a manual clock: loading, links opened through the binding, and
// OBEX packets exchanged over them.

#include <gtest/gtest.h>

#include "LoaderTestSupport.h"
#include "sim/ScenarioParser.h"
#include "sim/VirtualNeighbourhood.h"
#include "sim/VirtualObjectPushDevices.h"
#include "stack/wclConnectionBackend.h"
#include "stack/wclUUIDs.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace kavri::test {

template <typename Binding>
class StandInLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_inbox = std::filesystem::temp_directory_path() /
                  ("kavri-" + std::string(InboxName()) + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_inbox);
        m_neighbourhood.emplace(sim::ParseScenario(Street()), m_clock,
                                sim::VirtualNeighbourhood::Options{}, m_loop,
                                [this](const sim::DeviceSpec& device) {
                                    return m_devices ? m_devices->Endpoint(device) : std::nullopt;
                                });
        m_devices.emplace(m_loop, m_neighbourhood->GetScenario(), m_inbox);
    }
    void TearDown() override {
        m_binding.Unload();
        m_devices.reset();
        m_neighbourhood.reset();
        std::filesystem::remove_all(m_inbox);
    }

    // The scenario of the test and the name of its inbox folder.
    virtual const char* Street() const = 0;
    virtual const char* InboxName() const = 0;

    bool Load() { return m_binding.Load(m_recorder.Handle()); }

    bool Pump(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + test::kRealTimeCap;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end) {
                return false;
            }
            m_loop.ProcessEvents(std::chrono::milliseconds(5));
        }
        return true;
    }

    std::unique_ptr<wclConnectionBackend> Open(const char* address, std::uint8_t channel) {
        wclBluetoothLinkRequest request;
        request.address = address;
        request.channel = channel;
        request.serviceUUID = OBEXObjectPushServiceClassUUID;
        wclLinkEvents events;
        events.onConnect = [this](std::uint32_t result) { m_results.push_back(result); };
        events.onData = [this](const std::uint8_t* data, std::size_t size) {
            m_received.append(reinterpret_cast<const char*>(data), size);
        };
        events.onClose = [this] { ++m_closes; };
        return m_binding.OpenLink(m_loop, request, std::move(events));
    }

    // Sends one OBEX packet and returns the response packet.
    std::string Exchange(wclConnectionBackend& link, const std::string& packet) {
        m_received.clear();
        link.Write(reinterpret_cast<const std::uint8_t*>(packet.data()), packet.size());
        const bool whole = Pump([this] {
            return m_received.size() >= 3 &&
                   m_received.size() >=
                       static_cast<std::size_t>(static_cast<std::uint8_t>(m_received[1]) << 8 |
                                                static_cast<std::uint8_t>(m_received[2]));
        });
        return whole ? m_received : std::string();
    }

    ManualClock m_clock;
    PollEventLoop m_loop{m_clock};
    MessageRecorder m_recorder{m_loop};
    std::filesystem::path m_inbox;
    std::optional<sim::VirtualNeighbourhood> m_neighbourhood;
    std::optional<sim::VirtualObjectPushDevices> m_devices;
    Binding m_binding{m_clock};
    std::vector<std::uint32_t> m_results;
    std::string m_received;
    int m_closes = 0;
};

}  // namespace kavri::test
