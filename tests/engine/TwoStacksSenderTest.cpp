// Two proximity senders at once, each on the radio of another Bluetooth stack
// of one virtual neighbourhood (whose one radio every installed stack sees),
// pushing their own file to the same virtual devices. The manual clock runs
// the pacing, sleep and connect timers; waits for other threads are capped in
// real time.
#include "engine/wclProximitySender.h"

#include <gtest/gtest.h>

#include "platform/EventLoopTestSupport.h"
#include "platform/PollEventLoop.h"
#include "sim/ScenarioParser.h"
#include "sim/VirtualNeighbourhood.h"
#include "sim/VirtualObjectPushDevices.h"
#include "stack/wclAPI.h"
#include "stack/wclExceptions.h"
#include "stack/wclLoaders.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace kavri {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Two stacks installed side by side: the scenario's names and their stack values.
struct MicrosoftAndWidcomm {
    static constexpr const char* kFirst = "microsoft";
    static constexpr const char* kSecond = "widcomm";
    static constexpr TwclBluetoothAPI kFirstApi = TwclBluetoothAPI::baMicrosoft;
    static constexpr TwclBluetoothAPI kSecondApi = TwclBluetoothAPI::baWidComm;
};

struct BlueSoleilAndToshiba {
    static constexpr const char* kFirst = "bluesoleil";
    static constexpr const char* kSecond = "toshiba";
    static constexpr TwclBluetoothAPI kFirstApi = TwclBluetoothAPI::baBlueSoleil;
    static constexpr TwclBluetoothAPI kSecondApi = TwclBluetoothAPI::baToshiba;
};

constexpr const char* kAnna = "(00:17:E5:3A:91:02)";
constexpr const char* kBen = "(00:17:E5:3A:91:03)";
constexpr const char* kRefuser = "(00:17:E5:3A:91:04)";
constexpr const char* kOwn = "(00:17:E5:3A:91:05)";

// Two phones, one that refuses every object, and one that only the first stack's
// radio sees.
std::string Street(const char* first, const char* second) {
    return std::string("stacks ") + first + " " + second + R"(
radio (00:1A:7D:DA:71:13) "Kavri Radio"
device (00:17:E5:3A:91:02) "Anna" class 0x5A020C
  service 9 "OBEX Object Push" 0x1105
device (00:17:E5:3A:91:03) "Ben" class 0x5A020C
  service 5 "OBEX Object Push" 0x1105
device (00:17:E5:3A:91:04) "Refuser" class 0x5A020C behaviour refuse-object
  service 4 "OBEX Object Push" 0x1105
device (00:17:E5:3A:91:05) "Own" class 0x5A020C on )" +
           first + R"(
  service 6 "OBEX Object Push" 0x1105
)";
}

std::string Hex(std::uint32_t value) {
    std::ostringstream out;
    out << std::hex << std::uppercase << value;
    return out.str();
}

// The last byte of an address: how the journal names a device.
std::string Short(const std::string& address) {
    return address.substr(16, 2);
}

// One sender and what its owner saw: the owner accepts a device until it has been
// served once, pushes one file, and keeps each device's last file result.
struct Engine {
    Engine(EventLoop& loop, TwclBluetoothAPI api, std::string file)
        : radio(api), path(std::move(file)), sender(loop) {
        using S = TwclProximitySender;
        using D = TwclBluetoothDevice;
        sender.SetRadio(&radio);
        sender.SetSleepInterval(TwclProximitySender::kMinSleepInterval);
        sender.OnAcceptDevice = [this](S&, const D& device, bool& accept) {
            accept = served.count(device.Address()) == 0;
        };
        sender.OnGetFile = [this](S&, std::string& name, bool& more) {
            name = path;
            more = false;
        };
        sender.OnConnected = [this](S&, const D& device, std::uint32_t result) {
            log.push_back("Connected " + Short(device.Address()) + " " + Hex(result));
            if (onConnected) {
                onConnected();
            }
        };
        sender.OnFileSendComplete = [this](S&, const D& device, const std::string&,
                                           std::uint32_t result) {
            log.push_back("Sent " + Short(device.Address()) + " " + Hex(result));
            results[device.Address()] = result;
        };
        sender.OnFilesSendComplete = [this](S&, const D& device) {
            served.insert(device.Address());
        };
        sender.OnDisconnected = [this](S&, const D& device) {
            log.push_back("Disconnected " + Short(device.Address()));
        };
        sender.OnDiscoveryStarted = [this](S&) { ++discoveries; };
        sender.OnSleepStarted = [this](S&) { ++sleeps; };
        sender.OnStopped = [this](S&) { log.push_back("Stopped"); };
    }

    TwclBluetoothRadio radio;
    std::string path;
    std::vector<std::string> log;
    std::set<std::string> served;
    std::map<std::string, std::uint32_t> results;  // by address
    int discoveries = 0;
    int sleeps = 0;
    std::function<void()> onConnected;
    // Declared last: its destructor stops it and raises OnStopped into the journal.
    TwclProximitySender sender;
};

template <typename Pair>
class TwoStacksSender : public ::testing::Test {
protected:
    TwoStacksSender()
        : m_folder(fs::temp_directory_path() /
                   ("kavri-two-stacks-" + std::to_string(getpid()) + "-" + Pair::kFirst)),
          m_scenario(sim::ParseScenario(Street(Pair::kFirst, Pair::kSecond))),
          m_devices(m_loop, m_scenario, m_folder / "inboxes"),
          m_neighbourhood(m_scenario, m_clock, {}, m_loop, [this](const sim::DeviceSpec& device) {
              return m_devices.Endpoint(device);
          }) {
        fs::create_directories(m_folder);
        m_manager.Load();
        first = std::make_unique<Engine>(m_loop, Pair::kFirstApi,
                                         Write(std::string("from-") + Pair::kFirst + ".txt"));
        second = std::make_unique<Engine>(m_loop, Pair::kSecondApi,
                                          Write(std::string("from-") + Pair::kSecond + ".txt"));
    }

    ~TwoStacksSender() override {
        // The senders close their links while the devices and stacks still exist.
        first.reset();
        second.reset();
        m_manager.Unload();
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    // A file whose content is its own name, to push.
    std::string Write(const std::string& name) {
        const fs::path path = m_folder / name;
        std::ofstream(path, std::ios::binary) << name;
        return path.string();
    }

    // Runs the loop, the clock moving on by a twentieth of a second a round, until done.
    bool Run(const std::function<bool()>& done) {
        return test::ProcessUntil(
            m_loop,
            [&] {
                m_clock.Advance(50ms);
                return done();
            },
            20s);
    }

    // Both senders have finished a cycle that found nothing left to serve.
    bool BothIdle() const {
        return first->sleeps >= 2 && second->sleeps >= 2 && first->served.size() == 4 &&
               second->served.size() == 3;
    }

    // The names in a device's inbox, sorted.
    std::set<std::string> Inbox(const std::string& address) const {
        std::set<std::string> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(m_devices.InboxOf(address), error)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    std::string FirstFile() const { return std::string("from-") + Pair::kFirst + ".txt"; }
    std::string SecondFile() const { return std::string("from-") + Pair::kSecond + ".txt"; }

    ManualClock m_clock;
    PollEventLoop m_loop{m_clock};
    fs::path m_folder;
    sim::Scenario m_scenario;
    sim::VirtualObjectPushDevices m_devices;
    sim::VirtualNeighbourhood m_neighbourhood;
    TwclAPIManager m_manager{m_loop, CreateDefaultLoaders(m_clock)};
    std::unique_ptr<Engine> first;
    std::unique_ptr<Engine> second;
};

using StackPairs = ::testing::Types<MicrosoftAndWidcomm, BlueSoleilAndToshiba>;
TYPED_TEST_SUITE(TwoStacksSender, StackPairs);

TYPED_TEST(TwoStacksSender, EachDeviceGetsEachSendersFileOnce) {
    // Both senders run until a cycle finds nothing left to serve.
    // Expected: every device each stack sees holds that sender's file once, with its
    // bytes; the refusal is recorded by each sender for its own file and nothing is
    // stored; the device only the first stack sees gets only the first file.
    this->first->sender.Start();
    this->second->sender.Start();
    ASSERT_TRUE(this->Run([this] { return this->BothIdle(); }))
        << "first served " << this->first->served.size() << ", second "
        << this->second->served.size();

    const std::uint32_t refused = 0x8000F01C;
    EXPECT_EQ(this->first->results, (std::map<std::string, std::uint32_t>{
                                        {kAnna, 0}, {kBen, 0}, {kRefuser, refused}, {kOwn, 0}}));
    EXPECT_EQ(this->second->results,
              (std::map<std::string, std::uint32_t>{{kAnna, 0}, {kBen, 0}, {kRefuser, refused}}));
    for (const Engine* engine : {this->first.get(), this->second.get()}) {
        for (const char* device : {kAnna, kBen, kRefuser}) {
            EXPECT_EQ(std::count(engine->log.begin(), engine->log.end(),
                                 "Connected " + Short(device) + " 0"),
                      1)
                << device;
        }
    }
    const std::set<std::string> both = {this->FirstFile(), this->SecondFile()};
    EXPECT_EQ(this->Inbox(kAnna), both);
    EXPECT_EQ(this->Inbox(kBen), both);
    EXPECT_EQ(this->Inbox(kRefuser), std::set<std::string>{});
    EXPECT_EQ(this->Inbox(kOwn), std::set<std::string>{this->FirstFile()});
    std::ifstream in(this->m_devices.InboxOf(kBen) / this->SecondFile(), std::ios::binary);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, this->SecondFile());
    EXPECT_TRUE(this->first->sender.Active());
    EXPECT_TRUE(this->second->sender.Active());
}

TYPED_TEST(TwoStacksSender, OneSenderRunsPerStackWhateverTheOtherStackDoes) {
    // A third sender on the first sender's stack while both run; then the first stops.
    // Expected: the third is refused with the busy code while the first runs, the
    // second is untouched, and the third starts once the first has stopped.
    this->first->sender.Start();
    this->second->sender.Start();
    Engine third(this->m_loop, TypeParam::kFirstApi, this->first->path);
    EXPECT_THROW(third.sender.Start(), wclEOperationInProgress);
    EXPECT_FALSE(third.sender.Active());
    this->first->sender.Stop();
    EXPECT_TRUE(this->second->sender.Active());
    third.sender.Start();
    EXPECT_TRUE(third.sender.Active());
    EXPECT_THROW(this->first->sender.Start(), wclEOperationInProgress);
    third.sender.Stop();
}

TYPED_TEST(TwoStacksSender, StoppingOneLeavesTheOtherRunning) {
    // The first sender is stopped from within its first OnConnected.
    // Expected: it reports nothing after its OnStopped; the second serves every device
    // it sees and goes on cycling; started again, the first serves the rest.
    this->first->sender.Start();
    this->second->sender.Start();
    this->first->onConnected = [this] { this->first->sender.Stop(); };
    ASSERT_TRUE(this->Run([this] { return !this->first->log.empty(); }));
    this->first->onConnected = nullptr;
    ASSERT_FALSE(this->first->sender.Active());
    const std::vector<std::string> atStop = this->first->log;
    const int discoveries = this->first->discoveries;

    ASSERT_TRUE(this->Run(
        [this] { return this->second->served.size() == 3 && this->second->sleeps >= 2; }));
    ASSERT_EQ(atStop.size(), 2u);
    EXPECT_EQ(atStop.back(), "Stopped");
    EXPECT_EQ(this->first->log, atStop);
    EXPECT_EQ(this->first->discoveries, discoveries);
    EXPECT_TRUE(this->second->sender.Active());
    EXPECT_EQ(this->second->results.size(), 3u);

    this->first->sender.Start();
    ASSERT_TRUE(this->Run([this] { return this->first->served.size() == 4; }));
    EXPECT_EQ(this->Inbox(kOwn), std::set<std::string>{this->FirstFile()});
    EXPECT_EQ(this->Inbox(kAnna), (std::set<std::string>{this->FirstFile(), this->SecondFile()}));
}

}  // namespace
}  // namespace kavri
