#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace kavri {
class TwclBluetoothDiscovery;
class TwclBluetoothRadios;
namespace host {
class StackSession;
}
}  // namespace kavri

namespace kavri::cli {

// After "no radio": one more line on the error stream, "kavrictl: ADVICE",
// that tells the operator what to do (see StackSession::NoRadioAdvice);
// nothing when there is no advice.
void PrintAdvice(std::FILE* err, const std::string& advice);

// The radios of every loaded stack; when no stack is loaded at all, null after
// printing the library's message and the advice on err.
std::unique_ptr<TwclBluetoothRadios> RadiosOrReason(const TwclBluetoothDiscovery& discovery,
                                                    const host::StackSession& stack,
                                                    std::FILE* err);

}  // namespace kavri::cli
