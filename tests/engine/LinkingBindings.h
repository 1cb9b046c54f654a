#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "stack/wclLoaders.h"
#include "stack/wclMicrosoft.h"
#include "stack/wclStackBinding.h"

namespace kavri::test {

// Bindings that add a way to link to a fake stack: radio and device calls go
// to the fake, which the test steers as usual.
class FakeStackBinding : public wclBluetoothBinding {
public:
    explicit FakeStackBinding(std::unique_ptr<wclBluetoothBinding> fake)
        : m_fake(std::move(fake)) {}

    bool Load(const MessageWindowHandle& managerWindow) override {
        return m_fake->Load(managerWindow);
    }
    void Unload() override { m_fake->Unload(); }
    bool IsLoaded() const override { return m_fake->IsLoaded(); }
    std::uint64_t ReadRadioAddress() override { return m_fake->ReadRadioAddress(); }
    void WriteRadioName(const std::string& name) override { m_fake->WriteRadioName(name); }
    std::optional<std::vector<std::string>> Inquiry() override { return m_fake->Inquiry(); }
    std::string ReadRemoteName(const std::string& address) override {
        return m_fake->ReadRemoteName(address);
    }
    std::uint32_t ReadRemoteClassOfDevice(const std::string& address) override {
        return m_fake->ReadRemoteClassOfDevice(address);
    }
    std::vector<wclServiceInfo> EnumServices(const std::string& address,
                                             const std::optional<GUID>& serviceClass) override {
        return m_fake->EnumServices(address, serviceClass);
    }

private:
    std::unique_ptr<wclBluetoothBinding> m_fake;
};

// A fake stack whose links, and whose pacing of connection attempts, are the
// Microsoft binding's own: OpenLink and ConnectsInParallel go to a Microsoft
// binding that is never loaded (opening a link needs only the socket library,
// which the tests register).
class MicrosoftLinkBinding final : public FakeStackBinding {
public:
    MicrosoftLinkBinding(std::unique_ptr<wclBluetoothBinding> fake, const Clock& clock)
        : FakeStackBinding(std::move(fake)), m_microsoft(clock) {}

    std::unique_ptr<wclConnectionBackend> OpenLink(EventLoop& loop,
                                                   const wclBluetoothLinkRequest& request,
                                                   wclLinkEvents events) override {
        return m_microsoft.OpenLink(loop, request, std::move(events));
    }
    bool ConnectsInParallel() const override { return m_microsoft.ConnectsInParallel(); }

private:
    TwclMicrosoftLoader m_microsoft;
};

// The binding a loader set holds for a Bluetooth stack of its table.
inline std::unique_ptr<wclBluetoothBinding>& BindingOf(wclLoaderSet& loaders,
                                                       TwclBluetoothAPI api) {
    for (wclBluetoothLoader& loader : loaders.bluetooth) {
        if (loader.api == api) {
            return loader.binding;
        }
    }
    throw std::invalid_argument("the loader set has no such stack");
}

// The loader set with the fake Microsoft stack linking as the real one does.
inline wclLoaderSet WithMicrosoftLinks(wclLoaderSet loaders, const Clock& clock) {
    std::unique_ptr<wclBluetoothBinding>& microsoft =
        BindingOf(loaders, TwclBluetoothAPI::baMicrosoft);
    microsoft = std::make_unique<MicrosoftLinkBinding>(std::move(microsoft), clock);
    return loaders;
}

}  // namespace kavri::test
