#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "stack/wclLoaders.h"
#include "stack/wclMessages.h"
#include "stack/wclStackBinding.h"
#include "stack/wclStackTable.h"

// Stacks at the boundary of the stack layer for its tests: each fake loader
// and binding keeps its state in a shared record that the test reads and
// steers, also from the discovery thread, so everything in it is locked.
namespace kavri::test {

// What happened, in order, across every fake and the test's handlers.
class Journal {
public:
    void Add(std::string entry) {
        std::lock_guard lock(m_mutex);
        m_entries.push_back(std::move(entry));
    }
    std::vector<std::string> Entries() const {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_entries.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_entries;
};

// A latch the test opens to let a blocked fake call go on.
class Gate {
public:
    void Open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    void Wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

struct FakeStack {
    explicit FakeStack(std::string stackName, std::shared_ptr<Journal> j)
        : name(std::move(stackName)), journal(std::move(j)) {}

    const std::string name;
    const std::shared_ptr<Journal> journal;

    std::mutex mutex;  // guards the fields below
    bool ready = false;
    bool loaded = false;
    MessageWindowHandle window;
    std::optional<std::vector<std::string>> inquiryResult = std::vector<std::string>{};
    std::shared_ptr<Gate> inquiryGate;  // when set, the inquiry waits for it
    std::uint64_t radioAddress = 0;
    std::string writtenName;
    std::string remoteName;
    std::uint32_t classOfDevice = 0;
    std::vector<wclServiceInfo> services;
    std::optional<GUID> lastServiceClass;
    std::exception_ptr failure;  // thrown by the remote operations when set
    bool connectsInParallel = false;

    std::atomic<int> inquiries{0};
    std::atomic<int> inquiriesInFlight{0};
    std::atomic<bool> unloadedDuringInquiry{false};

    MessageWindowHandle Window() {
        std::lock_guard lock(mutex);
        return window;
    }
};

class FakeBinding final : public wclBluetoothBinding {
public:
    explicit FakeBinding(std::shared_ptr<FakeStack> stack) : m_stack(std::move(stack)) {}

    bool Load(const MessageWindowHandle& managerWindow) override {
        m_stack->journal->Add("load " + m_stack->name);
        std::lock_guard lock(m_stack->mutex);
        m_stack->loaded = true;
        m_stack->window = managerWindow;
        return m_stack->ready;
    }
    void Unload() override {
        m_stack->journal->Add("unload " + m_stack->name);
        if (m_stack->inquiriesInFlight.load() > 0) {
            m_stack->unloadedDuringInquiry = true;
        }
        std::lock_guard lock(m_stack->mutex);
        m_stack->loaded = false;
        m_stack->window = MessageWindowHandle();
    }
    bool IsLoaded() const override {
        std::lock_guard lock(m_stack->mutex);
        return m_stack->loaded;
    }

    std::uint64_t ReadRadioAddress() override {
        std::lock_guard lock(m_stack->mutex);
        return m_stack->radioAddress;
    }
    void WriteRadioName(const std::string& name) override {
        std::lock_guard lock(m_stack->mutex);
        m_stack->writtenName = name;
    }
    std::optional<std::vector<std::string>> Inquiry() override {
        ++m_stack->inquiries;
        ++m_stack->inquiriesInFlight;
        std::shared_ptr<Gate> gate;
        std::optional<std::vector<std::string>> result;
        {
            std::lock_guard lock(m_stack->mutex);
            gate = m_stack->inquiryGate;
            result = m_stack->inquiryResult;
        }
        if (gate) {
            gate->Wait();
        }
        --m_stack->inquiriesInFlight;
        return result;
    }
    std::string ReadRemoteName(const std::string& address) override {
        std::lock_guard lock(m_stack->mutex);
        ThrowIfFailing();
        return m_stack->remoteName + " at " + address;
    }
    std::uint32_t ReadRemoteClassOfDevice(const std::string&) override {
        std::lock_guard lock(m_stack->mutex);
        ThrowIfFailing();
        return m_stack->classOfDevice;
    }
    std::vector<wclServiceInfo> EnumServices(const std::string&,
                                             const std::optional<GUID>& serviceClass) override {
        std::lock_guard lock(m_stack->mutex);
        ThrowIfFailing();
        m_stack->lastServiceClass = serviceClass;
        return m_stack->services;
    }
    bool ConnectsInParallel() const override {
        std::lock_guard lock(m_stack->mutex);
        return m_stack->connectsInParallel;
    }

private:
    void ThrowIfFailing() {
        if (m_stack->failure) {
            std::rethrow_exception(m_stack->failure);
        }
    }

    std::shared_ptr<FakeStack> m_stack;
};

// The seven stacks, indexed like this: the Bluetooth ones by their
// TwclBluetoothAPI value, then RAPI and IrDA.
inline constexpr std::size_t kBlueZ = 4;
inline constexpr std::size_t kRAPI = 5;
inline constexpr std::size_t kIrDA = 6;

struct FakeStacks {
    FakeStacks() {
        const char* names[] = {"BlueSoleil", "Microsoft", "Toshiba", "Widcomm",
                               "BlueZ",      "RAPI",      "IrDA"};
        for (std::size_t i = 0; i < stacks.size(); ++i) {
            stacks[i] = std::make_shared<FakeStack>(names[i], journal);
        }
        stacks[1]->connectsInParallel = true;  // as the Microsoft stack
    }

    FakeStack& operator[](std::size_t index) { return *stacks[index]; }
    void SetReady(std::size_t index, bool ready) {
        std::lock_guard lock(stacks[index]->mutex);
        stacks[index]->ready = ready;
    }

    // The default table with every loader replaced by its fake, so the
    // manager sees this build's lines and message numbers.
    wclLoaderSet Loaders() const {
        wclStackTable table = DefaultStackTable();
        for (wclStackLine& line : table) {
            std::shared_ptr<FakeStack> fake = stacks[IndexOf(line)];
            std::visit(
                [&fake](auto& stack) {
                    stack.make = [fake](const Clock&) {
                        return std::make_unique<FakeBinding>(fake);
                    };
                },
                line.stack);
        }
        return CreateLoaders(table, clock);
    }

    static std::size_t IndexOf(const wclStackLine& line) {
        if (const auto* stack = std::get_if<wclBluetoothStack>(&line.stack)) {
            return static_cast<std::size_t>(stack->api);
        }
        return std::get<wclTransportStack>(line.stack).transport == TwclTransport::trRAPI ? kRAPI
                                                                                          : kIrDA;
    }

    ManualClock clock;  // the fakes keep no time; the factories only need one
    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    std::array<std::shared_ptr<FakeStack>, 7> stacks;
};

// Handles what is ready until done() holds. Other threads wake the loop when
// they post, so this waits for them without sleeping; the real-time limit only
// turns a hang into a failure.
template <typename Done>
bool ProcessUntil(EventLoop& loop, Done done,
                  std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        loop.ProcessEvents(std::chrono::milliseconds(10));
    }
    return true;
}

// Handles everything already queued.
inline void ProcessPending(EventLoop& loop) {
    for (int pass = 0; pass < 1000 && loop.ProcessEvents(std::chrono::milliseconds(0)); ++pass) {
    }
}

// Collects what reaches the application's exception handler while it lives.
class CaughtExceptions {
public:
    CaughtExceptions() {
        SetApplicationExceptionHandler([this](std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                std::lock_guard lock(m_mutex);
                m_messages.push_back(e.what());
            }
        });
    }
    ~CaughtExceptions() { SetApplicationExceptionHandler(nullptr); }
    CaughtExceptions(const CaughtExceptions&) = delete;
    CaughtExceptions& operator=(const CaughtExceptions&) = delete;

    std::vector<std::string> Messages() const {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

}  // namespace kavri::test
