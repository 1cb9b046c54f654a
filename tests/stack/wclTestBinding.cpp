#include "wclTestBinding.h"

#include <utility>

#include "stack/wclExceptions.h"

namespace kavri::test {
namespace {

// Finds one device with no services; names and classes fail as a stack's do
// when the device does not answer.
class TestBinding final : public wclBluetoothBinding {
public:
    explicit TestBinding(std::shared_ptr<TestStackState> state) : m_state(std::move(state)) {}

    bool Load(const MessageWindowHandle& managerWindow) override {
        std::lock_guard lock(m_state->mutex);
        m_state->window = managerWindow;
        m_state->loaded = true;
        return m_state->ready;
    }
    void Unload() override {
        std::lock_guard lock(m_state->mutex);
        m_state->window = MessageWindowHandle();
        m_state->loaded = false;
    }
    bool IsLoaded() const override { return m_state->loaded; }

    std::uint64_t ReadRadioAddress() override { return kTestRadioAddress; }
    void WriteRadioName(const std::string&) override { throw wclERadoNameWriteError(); }
    std::optional<std::vector<std::string>> Inquiry() override {
        return std::vector<std::string>{kTestDeviceAddress};
    }
    std::string ReadRemoteName(const std::string&) override {
        throw wclERemoteDeviceNameReadError();
    }
    std::uint32_t ReadRemoteClassOfDevice(const std::string&) override {
        throw wclERemoteClassOfDeviceReadError();
    }
    std::vector<wclServiceInfo> EnumServices(const std::string&,
                                             const std::optional<GUID>&) override {
        return {};
    }

private:
    std::shared_ptr<TestStackState> m_state;
};

}  // namespace

wclStackLine TestStackLine(std::shared_ptr<TestStackState> state) {
    return {
        wclBluetoothStack{kTestStackAPI,
                          [state](const Clock&) { return std::make_unique<TestBinding>(state); }},
        "Test", kTestStackArrived, kTestStackRemoved};
}

}  // namespace kavri::test
