#pragma once

#include "stack/wclSDPService.h"
#include "stack/wclUUIDs.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

namespace kavri {

// The client side of a device's service discovery protocol over one connected
// socket: a single ServiceSearchAttribute transaction that follows the
// server's continuations and turns the records it returns into services.
// Everything a peer sends is bounded by the limits below and by the bytes
// actually received. It runs on the calling thread and blocks it (polling the
// socket) until the answer is complete or the time-out passes, so a binding
// calls it from a worker thread. Nothing is kept between calls.

struct SdpClientLimits {
    std::chrono::milliseconds timeout{10000};  // for the whole transaction, real time
    std::size_t maxResponseBytes =
        256 * 1024;      // attribute-list bytes gathered over all continuations
    int maxRounds = 64;  // requests per transaction
};

// The services of a device over one SDP connection: one ServiceSearchAttribute
// transaction whose search pattern is the class UUID (128-bit form, or 16-bit
// when it is built on the base UUID with a 16-bit value), or L2CAPProtocolUUID
// (every service) when none is given; attribute range 0x0000-0xFFFF;
// continuations followed. Each record is read with ReadServiceFromRecord;
// records that name no service, or whose channel is 32 or more, are left out;
// the rest in the order the server sent them. A record sequence that is not
// well formed ends the list: the records before it are kept.
// fd: a connected stream or packet socket, blocking or not (the client polls
// and never blocks in a read or write); not closed here.
// Throws wclEEnumServices on a time-out, a closed or failed socket, an
// ErrorResponse, a response that is not well formed (wrong PDU id or
// transaction id, lengths that disagree, a continuation state over 16 bytes),
// or a limit passed.
std::vector<SdpServiceInfo> SdpQueryServices(int fd, const std::optional<GUID>& serviceClass,
                                             const SdpClientLimits& limits = {});

}  // namespace kavri
