#include "stack/wclStackBinding.h"

#include "stack/wclExceptions.h"

namespace kavri {

std::unique_ptr<wclConnectionBackend> wclBluetoothBinding::OpenLink(EventLoop&,
                                                                    const wclBluetoothLinkRequest&,
                                                                    wclLinkEvents) {
    throw wclEInvalidBluetoothAPI();
}

int wclConnectionBackend::SignalLevel() {
    throw wclEUnableGetSignalLevel();
}

}  // namespace kavri
