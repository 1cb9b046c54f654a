#include "stack/wclAbsentBinding.h"

#include "stack/wclExceptions.h"

namespace kavri {
namespace {

class wclAbsentBinding final : public wclBluetoothBinding {
public:
    bool Load(const MessageWindowHandle&) override { return false; }
    void Unload() override {}
    bool IsLoaded() const override { return false; }

    std::uint64_t ReadRadioAddress() override { throw wclERadioAddressReadError(); }
    void WriteRadioName(const std::string&) override { throw wclERadoNameWriteError(); }
    std::optional<std::vector<std::string>> Inquiry() override { return std::nullopt; }
    std::string ReadRemoteName(const std::string&) override {
        throw wclERemoteDeviceNameReadError();
    }
    std::uint32_t ReadRemoteClassOfDevice(const std::string&) override {
        throw wclERemoteClassOfDeviceReadError();
    }
    std::vector<wclServiceInfo> EnumServices(const std::string&,
                                             const std::optional<GUID>&) override {
        throw wclEEnumServices();
    }
};

}  // namespace

std::unique_ptr<wclBluetoothBinding> CreateAbsentBinding() {
    return std::make_unique<wclAbsentBinding>();
}

}  // namespace kavri
