#include "stack/wclAPI.h"

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/PollEventLoop.h"
#include "stack/wclExceptions.h"
#include "wclFakeStacks.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kavri {
namespace {

using test::CaughtExceptions;
using test::FakeStacks;
using test::kIrDA;
using test::kRAPI;
using test::ProcessPending;
using test::ProcessUntil;

constexpr std::size_t kBlueSoleil = 0;
constexpr std::size_t kMicrosoft = 1;
constexpr std::size_t kToshiba = 2;
constexpr std::size_t kWidcomm = 3;

TwclBluetoothAPIs ApiSet(std::initializer_list<TwclBluetoothAPI> apis) {
    TwclBluetoothAPIs set;
    for (TwclBluetoothAPI api : apis) {
        set.Include(api);
    }
    return set;
}

TwclTransports TransportSet(std::initializer_list<TwclTransport> transports) {
    TwclTransports set;
    for (TwclTransport transport : transports) {
        set.Include(transport);
    }
    return set;
}

template <typename Call>
std::string ErrorOf(Call call) {
    try {
        call();
    } catch (const wclException& e) {
        return e.what();
    }
    return "(no error)";
}

// Counts the events one TwclAPI raises.
struct EventCounts {
    explicit EventCounts(TwclAPI& api) {
        api.OnChanged = [this](TwclAPI&) { ++changed; };
        api.OnLoaded = [this](TwclAPI&) { ++loaded; };
        api.OnUnloaded = [this](TwclAPI&) { ++unloaded; };
    }
    int changed = 0;
    int loaded = 0;
    int unloaded = 0;
};

class APIManagerTest : public ::testing::Test {
protected:
    void CreateManager() { manager = std::make_unique<TwclAPIManager>(loop, stacks.Loaders()); }
    void LoadManager() {
        CreateManager();
        manager->Load();
        ProcessPending(loop);
    }
    // A watcher thread's way of reporting a change.
    void PostFromWatcher(std::size_t stack, std::uint32_t msg) {
        const MessageWindowHandle window = stacks[stack].Window();
        std::thread watcher([window, msg] { PostMessage(window, msg); });
        watcher.join();
    }

    ManualClock clock;
    PollEventLoop loop{clock};
    FakeStacks stacks;
    std::unique_ptr<TwclAPIManager> manager;  // destroyed before the loop
};

TEST_F(APIManagerTest, LoadsEveryStackInOrderAndRaisesOnLoadedOnce) {
    // Microsoft and IrDA ready; Load twice. Expected: one load per loader in the
    // fixed order, APIs {Microsoft}, Bluetooth, IrDA and serial usable, one OnLoaded.
    stacks.SetReady(kMicrosoft, true);
    stacks.SetReady(kIrDA, true);
    TwclAPI api(loop);
    EventCounts counts(api);
    LoadManager();

    EXPECT_TRUE(manager->IsLoaded());
    EXPECT_EQ(manager->APIs(), ApiSet({TwclBluetoothAPI::baMicrosoft}));
    EXPECT_EQ(
        manager->Transports(),
        TransportSet({TwclTransport::trBluetooth, TwclTransport::trIrDA, TwclTransport::trSerial}));
    EXPECT_EQ(stacks.journal->Entries(),
              (std::vector<std::string>{"load BlueSoleil", "load Microsoft", "load Toshiba",
                                        "load Widcomm", "load BlueZ", "load RAPI", "load IrDA"}));
    EXPECT_EQ(counts.loaded, 1);

    manager->Load();
    api.Load();
    ProcessPending(loop);
    EXPECT_EQ(counts.loaded, 1);
    EXPECT_EQ(stacks.journal->Entries().size(), 7u);
}

TEST_F(APIManagerTest, WithoutAnyStackOnlySerialIsUsable) {
    // No stack installed at all. Expected: Load succeeds, APIs empty, Transports
    // {trSerial}; a Bluetooth check names the transport, not the stack.
    LoadManager();
    EXPECT_TRUE(manager->IsLoaded());
    EXPECT_TRUE(manager->APIs().Empty());
    EXPECT_EQ(manager->Transports(), TransportSet({TwclTransport::trSerial}));
    EXPECT_EQ(ErrorOf([] { CheckBluetoothAPI(TwclBluetoothAPI::baMicrosoft); }),
              "Transport is not available.");
    EXPECT_NO_THROW(CheckTransport(TwclTransport::trSerial));
    EXPECT_NO_THROW(CheckAPILoaded());
    EXPECT_TRUE(IsTransportAvailable(TwclTransport::trSerial));
    EXPECT_FALSE(IsBluetoothAPIAvailable(TwclBluetoothAPI::baMicrosoft));
}

TEST_F(APIManagerTest, ChecksBeforeLoadReportNotLoaded) {
    // Without a manager, then with one not yet loaded. Expected: every raising
    // check says "API subsystem was not loaded."; the plain tests answer false.
    for (int withManager = 0; withManager < 2; ++withManager) {
        SCOPED_TRACE(withManager);
        if (withManager == 1) {
            CreateManager();
        }
        const std::string notLoaded = "API subsystem was not loaded.";
        EXPECT_EQ(ErrorOf([] { CheckAPILoaded(); }), notLoaded);
        EXPECT_EQ(ErrorOf([] { CheckTransport(TwclTransport::trSerial); }), notLoaded);
        EXPECT_EQ(ErrorOf([] { CheckBluetoothAPI(TwclBluetoothAPI::baMicrosoft); }), notLoaded);
        EXPECT_EQ(ErrorOf([] { AcquireBluetoothBinding(TwclBluetoothAPI::baMicrosoft); }),
                  notLoaded);
        EXPECT_FALSE(IsTransportAvailable(TwclTransport::trSerial));
        EXPECT_FALSE(IsBluetoothAPIAvailable(TwclBluetoothAPI::baBlueSoleil));
    }
}

TEST_F(APIManagerTest, ChecksRaiseTheFirstMissingLevel) {
    // Toshiba ready; checks for Toshiba, Widcomm and values above 7. Expected:
    // Toshiba passes, Widcomm names the stack, values above 7 are never available.
    stacks.SetReady(kToshiba, true);
    LoadManager();
    EXPECT_NO_THROW(CheckBluetoothAPI(TwclBluetoothAPI::baToshiba));
    EXPECT_EQ(ErrorOf([] { CheckBluetoothAPI(TwclBluetoothAPI::baWidComm); }),
              "Bluetooth API is not available.");
    EXPECT_EQ(ErrorOf([] { CheckTransport(TwclTransport::trIrDA); }),
              "Transport is not available.");
    for (unsigned value : {5u, 8u, 200u, 255u}) {
        SCOPED_TRACE(value);
        const auto api = static_cast<TwclBluetoothAPI>(value);
        const auto transport = static_cast<TwclTransport>(value);
        EXPECT_FALSE(IsBluetoothAPIAvailable(api));
        EXPECT_FALSE(IsTransportAvailable(transport));
        EXPECT_EQ(ErrorOf([&] { CheckBluetoothAPI(api); }), "Bluetooth API is not available.");
        EXPECT_EQ(ErrorOf([&] { CheckTransport(transport); }), "Transport is not available.");
        EXPECT_EQ(manager->Binding(api), nullptr);
    }
}

struct ChangeCase {
    std::uint32_t arrival;
    std::size_t poster;
    TwclBluetoothAPIs apis;
    TwclTransports transports;
};

TEST_F(APIManagerTest, EachArrivalAndRemovalMessageMovesItsOwnBit) {
    // Nothing present; each stack's arrival message, then its removal message.
    // Expected: the arrival sets exactly its bit (trBluetooth with a Bluetooth
    // stack), the removal returns to {trSerial}; one OnChanged per message.
    using A = TwclBluetoothAPI;
    using T = TwclTransport;
    const TwclTransports bluetooth = TransportSet({T::trBluetooth, T::trSerial});
    const ChangeCase cases[] = {
        {1024, kRAPI, {}, TransportSet({T::trRAPI, T::trSerial})},
        {1026, kBlueSoleil, ApiSet({A::baBlueSoleil}), bluetooth},
        {1028, kMicrosoft, ApiSet({A::baMicrosoft}), bluetooth},
        {1030, kToshiba, ApiSet({A::baToshiba}), bluetooth},
        {1032, kWidcomm, ApiSet({A::baWidComm}), bluetooth},
        {1034, kIrDA, {}, TransportSet({T::trIrDA, T::trSerial})},
    };
    TwclAPI api(loop);
    EventCounts counts(api);
    LoadManager();
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.arrival);
        counts.changed = 0;
        PostFromWatcher(c.poster, c.arrival);
        ProcessPending(loop);
        EXPECT_EQ(manager->APIs(), c.apis);
        EXPECT_EQ(manager->Transports(), c.transports);
        EXPECT_EQ(counts.changed, 1);
        PostFromWatcher(c.poster, c.arrival + 1);
        ProcessPending(loop);
        EXPECT_TRUE(manager->APIs().Empty());
        EXPECT_EQ(manager->Transports(), TransportSet({T::trSerial}));
        EXPECT_EQ(counts.changed, 2);
    }
}

TEST_F(APIManagerTest, LastRadioRemovedTakesBluetoothTransportAlong) {
    // Microsoft and Widcomm ready; Microsoft's radio goes, then Widcomm's.
    // Expected: trBluetooth stays after the first and goes with the last;
    // OnChanged once per removal; Bluetooth checks then name the transport.
    stacks.SetReady(kMicrosoft, true);
    stacks.SetReady(kWidcomm, true);
    TwclAPI api(loop);
    EventCounts counts(api);
    LoadManager();

    PostFromWatcher(kMicrosoft, wclMsg::kMicrosoftAbsent);
    ProcessPending(loop);
    EXPECT_EQ(manager->APIs(), ApiSet({TwclBluetoothAPI::baWidComm}));
    EXPECT_TRUE(manager->Transports().Contains(TwclTransport::trBluetooth));
    EXPECT_EQ(counts.changed, 1);

    PostFromWatcher(kWidcomm, wclMsg::kWidCommNotReady);
    ProcessPending(loop);
    EXPECT_TRUE(manager->APIs().Empty());
    EXPECT_EQ(manager->Transports(), TransportSet({TwclTransport::trSerial}));
    EXPECT_EQ(counts.changed, 2);
    EXPECT_EQ(ErrorOf([] { CheckBluetoothAPI(TwclBluetoothAPI::baWidComm); }),
              "Transport is not available.");
}

TEST_F(APIManagerTest, ComponentCreatedAfterLoadHearsChangesButNotLoaded) {
    // A TwclAPI created after Load. Expected: OnChanged and OnUnloaded reach it,
    // OnLoaded never does.
    stacks.SetReady(kMicrosoft, true);
    LoadManager();
    TwclAPI late(loop);
    EventCounts counts(late);
    PostFromWatcher(kMicrosoft, wclMsg::kMicrosoftAbsent);
    ProcessPending(loop);
    late.Unload();
    ProcessPending(loop);
    EXPECT_EQ(counts.loaded, 0);
    EXPECT_EQ(counts.changed, 1);
    EXPECT_EQ(counts.unloaded, 1);
}

TEST_F(APIManagerTest, UnloadTellsEveryComponentBeforeFreeingTheStacks) {
    // Loaded manager, a TwclAPI whose OnUnloaded records itself and tries to
    // unload again. Expected: OnUnloaded runs before any loader unloads, sees the
    // manager already unloaded, the nested Unload does nothing, and the loaders
    // unload in the order BlueSoleil, Microsoft, Toshiba, Widcomm, RAPI, IrDA.
    stacks.SetReady(kMicrosoft, true);
    TwclAPI api(loop);
    LoadManager();
    stacks.journal->Clear();
    bool loadedInHandler = true;
    std::string checkInHandler;
    api.OnUnloaded = [&](TwclAPI& sender) {
        stacks.journal->Add("OnUnloaded");
        loadedInHandler = manager->IsLoaded();
        checkInHandler = ErrorOf([] { CheckAPILoaded(); });
        sender.Unload();
        sender.Load();
    };
    api.Unload();

    EXPECT_EQ(stacks.journal->Entries(),
              (std::vector<std::string>{"OnUnloaded", "unload BlueSoleil", "unload Microsoft",
                                        "unload Toshiba", "unload Widcomm", "unload BlueZ",
                                        "unload RAPI", "unload IrDA"}));
    EXPECT_FALSE(loadedInHandler);
    EXPECT_EQ(checkInHandler, "API subsystem was not loaded.");
    EXPECT_FALSE(manager->IsLoaded());
    EXPECT_TRUE(manager->APIs().Empty());
    EXPECT_TRUE(manager->Transports().Empty());

    // Nothing is loaded any more: a second Unload raises nothing.
    stacks.journal->Clear();
    api.Unload();
    EXPECT_TRUE(stacks.journal->Entries().empty());
}

TEST_F(APIManagerTest, ChangesQueuedAtUnloadAreDropped) {
    // A removal posted, then Unload before the loop runs. Expected: no OnChanged
    // and the sets stay empty.
    stacks.SetReady(kMicrosoft, true);
    TwclAPI api(loop);
    EventCounts counts(api);
    LoadManager();
    PostFromWatcher(kMicrosoft, wclMsg::kMicrosoftAbsent);
    manager->Unload();
    ProcessPending(loop);
    EXPECT_EQ(counts.changed, 0);
    EXPECT_EQ(counts.unloaded, 1);
    EXPECT_TRUE(manager->APIs().Empty());
}

TEST_F(APIManagerTest, ReloadAfterUnloadLoadsAgain) {
    // Load, Unload, Load. Expected: OnLoaded twice, the stacks loaded twice.
    stacks.SetReady(kBlueSoleil, true);
    TwclAPI api(loop);
    EventCounts counts(api);
    LoadManager();
    api.Unload();
    api.Load();
    ProcessPending(loop);
    EXPECT_EQ(counts.loaded, 2);
    EXPECT_EQ(counts.unloaded, 1);
    EXPECT_EQ(manager->APIs(), ApiSet({TwclBluetoothAPI::baBlueSoleil}));
}

TEST_F(APIManagerTest, DestroyingTheManagerUnloads) {
    // A loaded manager is destroyed. Expected: OnUnloaded, every loader
    // unloaded, no current manager, and a second manager may then be created.
    stacks.SetReady(kMicrosoft, true);
    TwclAPI api(loop);
    EventCounts counts(api);
    LoadManager();
    EXPECT_EQ(TwclAPIManager::Current(), manager.get());
    manager.reset();
    EXPECT_EQ(counts.unloaded, 1);
    EXPECT_EQ(TwclAPIManager::Current(), nullptr);
    for (std::size_t i = 0; i < 6; ++i) {
        std::lock_guard lock(stacks[i].mutex);
        EXPECT_FALSE(stacks[i].loaded) << stacks[i].name;
    }
    EXPECT_NO_THROW(CreateManager());
}

TEST_F(APIManagerTest, OnlyOneManagerAtATime) {
    // A second manager while one lives. Expected: std::logic_error, and the first
    // stays current.
    CreateManager();
    EXPECT_THROW(TwclAPIManager(loop, stacks.Loaders()), std::logic_error);
    EXPECT_EQ(TwclAPIManager::Current(), manager.get());
}

TEST_F(APIManagerTest, MissingLoadersCountAsAbsentStacks) {
    // A loader set with empty slots. Expected: Load succeeds with only serial.
    wclLoaderSet loaders = stacks.Loaders();
    for (wclBluetoothLoader& stack : loaders.bluetooth) {
        stack.binding.reset();
    }
    for (wclTransportLoader& stack : loaders.transports) {
        stack.loader.reset();
    }
    manager = std::make_unique<TwclAPIManager>(loop, std::move(loaders));
    manager->Load();
    EXPECT_TRUE(manager->IsLoaded());
    EXPECT_EQ(manager->Transports(), TransportSet({TwclTransport::trSerial}));
    ASSERT_NE(manager->Binding(TwclBluetoothAPI::baToshiba), nullptr);
    EXPECT_FALSE(manager->Binding(TwclBluetoothAPI::baToshiba)->IsLoaded());
}

TEST_F(APIManagerTest, LoadOffTheLoopThreadIsRefused) {
    // Load from another thread. Expected: std::logic_error, nothing loaded.
    CreateManager();
    bool refused = false;
    std::thread other([&] {
        try {
            manager->Load();
        } catch (const std::logic_error&) {
            refused = true;
        }
    });
    other.join();
    EXPECT_TRUE(refused);
    EXPECT_FALSE(manager->IsLoaded());
    EXPECT_TRUE(stacks.journal->Entries().empty());
}

TEST_F(APIManagerTest, HandlerExceptionsReachTheApplicationHandler) {
    // Two components; the first throws from every event. Expected: each throw
    // reaches the application handler and the second component still hears all.
    CaughtExceptions caught;
    stacks.SetReady(kMicrosoft, true);
    TwclAPI thrower(loop);
    thrower.OnLoaded = [](TwclAPI&) { throw wclEInvalidArgument(); };
    thrower.OnChanged = [](TwclAPI&) { throw wclETimeout(); };
    thrower.OnUnloaded = [](TwclAPI&) { throw wclEWriteError(); };
    TwclAPI listener(loop);
    EventCounts counts(listener);
    LoadManager();
    PostFromWatcher(kMicrosoft, wclMsg::kMicrosoftAbsent);
    ProcessPending(loop);
    manager->Unload();

    const std::vector<std::string> messages = caught.Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], wclErrorMessage(kWclErrInvalidArgument));
    EXPECT_EQ(messages[1], wclErrorMessage(kWclErrTimeout));
    EXPECT_EQ(messages[2], wclErrorMessage(kWclErrWrite));
    EXPECT_EQ(counts.loaded, 1);
    EXPECT_EQ(counts.changed, 1);
    EXPECT_EQ(counts.unloaded, 1);
}

TEST_F(APIManagerTest, ComponentWithoutManager) {
    // No manager exists. Expected: Load raises wclEAPINotLoaded, Unload is quiet.
    TwclAPI api(loop);
    EXPECT_THROW(api.Load(), wclEAPINotLoaded);
    EXPECT_NO_THROW(api.Unload());
}

TEST_F(APIManagerTest, DestroyedComponentLeavesTheNotificationList) {
    // A TwclAPI created and destroyed. Expected: its window joins the process
    // list at creation and leaves it at destruction.
    MessageWindowHandle handle;
    {
        TwclAPI api(loop);
        handle = api.Handle();
        const auto windows = ProcessNotificationList().Snapshot();
        EXPECT_NE(std::find(windows.begin(), windows.end(), handle), windows.end());
    }
    const auto windows = ProcessNotificationList().Snapshot();
    EXPECT_EQ(std::find(windows.begin(), windows.end(), handle), windows.end());
}

TEST(ClientTransport, MapsToLibraryTransports) {
    // Each client transport and one value beyond them. Expected: 0..2 map to
    // trBluetooth, trIrDA, trSerial; 3 raises wclETransportNotAvailable.
    EXPECT_EQ(ClientTransportToTransport(TwclClientTransport::ctBluetooth),
              TwclTransport::trBluetooth);
    EXPECT_EQ(ClientTransportToTransport(TwclClientTransport::ctIrDA), TwclTransport::trIrDA);
    EXPECT_EQ(ClientTransportToTransport(TwclClientTransport::ctSerial), TwclTransport::trSerial);
    EXPECT_THROW(ClientTransportToTransport(static_cast<TwclClientTransport>(3)),
                 wclETransportNotAvailable);
}

}  // namespace
}  // namespace kavri
