#include "cli/RadioAdvice.h"

#include "cli/Escape.h"
#include "host/StackSession.h"
#include "stack/wclBluetoothDiscovery.h"

#include <exception>

namespace kavri::cli {

void PrintAdvice(std::FILE* err, const std::string& advice) {
    if (!advice.empty())
        std::fprintf(err, "kavrictl: %s\n", advice.c_str());
}

std::unique_ptr<TwclBluetoothRadios> RadiosOrReason(const TwclBluetoothDiscovery& discovery,
                                                    const host::StackSession& stack,
                                                    std::FILE* err) {
    try {
        return discovery.EnumRadios();
    } catch (const std::exception& e) {
        std::fprintf(err, "kavrictl: %s\n", EscapeField(e.what()).c_str());
        PrintAdvice(err, stack.NoRadioAdvice());
        return nullptr;
    }
}

}  // namespace kavri::cli
