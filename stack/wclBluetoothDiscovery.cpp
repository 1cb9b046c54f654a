#include "stack/wclBluetoothDiscovery.h"

#include <thread>
#include <utility>

#include "platform/Text.h"
#include "stack/wclAPI.h"
#include "stack/wclBluetoothAddress.h"
#include "stack/wclExceptions.h"

namespace kavri {
namespace {

// A remote name is at most 248 bytes over the air; a stack that hands back
// more, or bytes that are not UTF-8, does not get them into the library.
constexpr std::size_t kMaxRemoteNameBytes = 248;
constexpr std::uint32_t kClassOfDeviceMask = 0x00FFFFFF;
constexpr unsigned kChannelLimit = 32;

const TwclBluetoothRadio& RequireRadio(const TwclBluetoothRadio* radio) {
    if (radio == nullptr) {
        throw wclERadioRequired();
    }
    return *radio;
}

std::string CleanText(std::string_view text) {
    return Utf16ToUtf8(Utf8ToUtf16(text));
}

// The body of the self-freeing discovery thread. It owns everything it
// touches: its radio copy, the window handle (messages to a released window
// are dropped) and a share of the stack's binding slot, whose lease keeps the
// stack loaded for the length of the inquiry. Nothing may escape it.
void RunDiscovery(TwclBluetoothRadio radio, MessageWindowHandle window,
                  std::shared_ptr<wclBindingSlot> slot) noexcept {
    const auto radioParam = reinterpret_cast<std::uintptr_t>(&radio);
    // Nobody is listening once the discovery was cancelled before it began:
    // the stack is spared an inquiry whose result would be thrown away.
    if (!SendMessage(window, wclMsg::kDiscoveryStarted, radioParam)) {
        return;
    }
    std::unique_ptr<TwclBluetoothDevices> devices;
    try {
        std::optional<std::vector<std::string>> found;
        if (wclBindingSlot::Lease lease = slot->TryAcquire()) {
            found = lease->Inquiry();
        }
        if (found) {
            devices = std::make_unique<TwclBluetoothDevices>();
            for (const std::string& address : *found) {
                // Bindings produce valid text; should one not, that entry is
                // left out rather than the whole inquiry.
                if (IsValidAddress(address)) {
                    auto device = std::make_unique<TwclBluetoothDevice>();
                    device->SetAddress(address);
                    devices->Add(std::move(device));
                }
            }
        }
    } catch (...) {
        // A stack failure, or no memory for the list: reported as a failed
        // inquiry, since an exception must not leave this thread.
        devices.reset();
    }
    SendMessage(window, wclMsg::kDiscoveryComplete, radioParam,
                reinterpret_cast<std::intptr_t>(devices.get()));
}

}  // namespace

// TwclBluetoothRadio

std::string TwclBluetoothRadio::Address() const {
    return UInt64ToAddress(AcquireBluetoothBinding(m_api)->ReadRadioAddress());
}

void TwclBluetoothRadio::SetName(const std::string& name) const {
    AcquireBluetoothBinding(m_api)->WriteRadioName(name);
}

void TwclBluetoothRadio::Assign(const TwclBluetoothRadio* source) {
    if (source == nullptr) {
        throw wclEInvalidArgument();
    }
    m_api = source->m_api;
}

// TwclBluetoothDevice

void TwclBluetoothDevice::SetAddress(std::string_view address) {
    if (address == m_address) {
        return;
    }
    ValidateAddress(address);
    m_address = address;
}

void TwclBluetoothDevice::Assign(const TwclBluetoothDevice* source) {
    if (source == nullptr) {
        throw wclEInvalidArgument();
    }
    m_address = source->m_address;
}

std::string TwclBluetoothDevice::GetName(const TwclBluetoothRadio* radio) const {
    const TwclBluetoothRadio& r = RequireRadio(radio);
    const std::string name = AcquireBluetoothBinding(r.API())->ReadRemoteName(m_address);
    return std::string(TruncateUtf8(CleanText(name), kMaxRemoteNameBytes));
}

std::uint32_t TwclBluetoothDevice::GetClassOfDevice(const TwclBluetoothRadio* radio) const {
    const TwclBluetoothRadio& r = RequireRadio(radio);
    return AcquireBluetoothBinding(r.API())->ReadRemoteClassOfDevice(m_address) &
           kClassOfDeviceMask;
}

std::unique_ptr<TwclBluetoothServices> TwclBluetoothDevice::EnumServices(
    const TwclBluetoothRadio* radio, const std::optional<GUID>& serviceClass) const {
    const TwclBluetoothRadio& r = RequireRadio(radio);
    std::vector<wclServiceInfo> found;
    {
        wclBindingSlot::Lease lease = AcquireBluetoothBinding(r.API());
        found = lease->EnumServices(m_address, serviceClass);
    }
    auto services = std::make_unique<TwclBluetoothServices>();
    for (wclServiceInfo& info : found) {
        auto service = std::make_unique<TwclBluetoothService>();
        // A channel no RFCOMM link can use is as good as none: the record
        // came over the air and one bad entry must not lose the others.
        service->SetChannel(info.Channel < kChannelLimit ? info.Channel : 0);
        service->SetComment(CleanText(info.Comment));
        service->SetName(CleanText(info.Name));
        service->SetUUID(info.UUID);
        services->Add(std::move(service));
    }
    return services;
}

// TwclBluetoothService

void TwclBluetoothService::SetChannel(unsigned channel) {
    if (channel >= kChannelLimit) {
        throw wclEInvalidChannelNumber();
    }
    m_channel = static_cast<std::uint8_t>(channel);
}

void TwclBluetoothService::Assign(const TwclBluetoothService* source) {
    if (source == nullptr) {
        throw wclEInvalidArgument();
    }
    m_channel = source->m_channel;
    m_comment = source->m_comment;
    m_name = source->m_name;
    m_uuid = source->m_uuid;
}

// wclOwningList

template <typename Item>
Item& wclOwningList<Item>::Items(int index) const {
    if (index < 0 || index >= Count()) {
        throw wclEIndexOutOfRange();
    }
    return *m_items[static_cast<std::size_t>(index)];
}

template <typename Item>
Item& wclOwningList<Item>::Add(std::unique_ptr<Item> item) {
    if (!item) {
        throw wclEInvalidArgument();
    }
    m_items.push_back(std::move(item));
    return *m_items.back();
}

template <typename Item>
void wclOwningList<Item>::AssignList(const wclOwningList* source) {
    if (source == nullptr) {
        throw wclEInvalidArgument();
    }
    if (source == this) {
        return;
    }
    // Built aside first, so that running out of memory leaves the list as it was.
    std::vector<std::unique_ptr<Item>> copies;
    copies.reserve(source->m_items.size());
    for (const auto& item : source->m_items) {
        auto copy = std::make_unique<Item>();
        copy->Assign(item.get());
        copies.push_back(std::move(copy));
    }
    m_items.swap(copies);
}

template class wclOwningList<TwclBluetoothRadio>;
template class wclOwningList<TwclBluetoothDevice>;
template class wclOwningList<TwclBluetoothService>;

// TwclBluetoothDiscovery

TwclBluetoothDiscovery::TwclBluetoothDiscovery(EventLoop& loop) : m_loop(loop) {}

TwclBluetoothDiscovery::~TwclBluetoothDiscovery() = default;

std::unique_ptr<TwclBluetoothRadios> TwclBluetoothDiscovery::EnumRadios() const {
    CheckTransport(TwclTransport::trBluetooth);
    // The check found a manager, and on this thread it cannot go away meanwhile.
    const TwclAPIManager* manager = TwclAPIManager::Current();
    auto radios = std::make_unique<TwclBluetoothRadios>();
    for (const TwclBluetoothAPI api : manager->BluetoothAPIs()) {
        if (IsBluetoothAPIAvailable(api)) {
            radios->Add(std::make_unique<TwclBluetoothRadio>(api));
        }
    }
    return radios;
}

void TwclBluetoothDiscovery::Discover(const TwclBluetoothRadio* radio) {
    if (m_window) {
        throw wclEOperationInProgress();
    }
    const TwclBluetoothRadio& r = RequireRadio(radio);
    CheckBluetoothAPI(r.API());
    TwclAPIManager* manager = TwclAPIManager::Current();
    std::shared_ptr<wclBindingSlot> slot =
        manager != nullptr ? manager->BindingSlot(r.API()) : nullptr;
    if (!slot) {
        throw wclEInvalidBluetoothAPI();
    }

    const std::uint64_t generation = ++m_generation;
    m_window = std::make_unique<MessageWindow>(
        m_loop, [this, generation](const Message& message) { HandleMessage(generation, message); });
    try {
        std::thread(RunDiscovery, r, m_window->Handle(), std::move(slot)).detach();
    } catch (...) {
        m_window.reset();
        throw;
    }
}

void TwclBluetoothDiscovery::Cancel() {
    // A send of the thread that is being handled right now keeps running; all
    // later ones find no window.
    m_window.reset();
}

void TwclBluetoothDiscovery::HandleMessage(std::uint64_t generation, const Message& message) {
    const auto* radio = reinterpret_cast<const TwclBluetoothRadio*>(message.WParam);
    if (radio == nullptr) {
        return;
    }
    if (message.Msg == wclMsg::kDiscoveryStarted) {
        if (auto handler = OnDiscoveryStarted) {
            handler(*this, *radio);
        }
        return;
    }
    if (message.Msg != wclMsg::kDiscoveryComplete) {
        return;
    }
    const auto* devices = reinterpret_cast<const TwclBluetoothDevices*>(message.LParam);
    const std::weak_ptr<int> alive = m_lifeToken;
    try {
        if (auto handler = OnDiscoveryComplete) {
            handler(*this, *radio, devices);
        }
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
    // The handler may have destroyed the component, or cancelled this
    // discovery and started the next one; only this discovery's window goes.
    if (alive.expired() || generation != m_generation) {
        return;
    }
    m_window.reset();
}

}  // namespace kavri
