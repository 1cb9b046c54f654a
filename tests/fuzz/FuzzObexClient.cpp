// OBEX responses as a peer sends them to our client, interleaved with the
// client's own calls, failing writes and time passing. The input is a list of
// commands; most of them deliver the next bytes of the peer's side.
#include "FuzzCheck.h"

#include "engine/wclOBEXClients.h"
#include "platform/Clock.h"
#include "platform/PollEventLoop.h"
#include "stack/wclAPI.h"
#include "stack/wclExceptions.h"
#include "stack/wclMessages.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

using namespace kavri;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Bounds the work one input can ask for.
constexpr std::size_t kMaxCommands = 4096;

// The Object Push client over a link in memory: what it writes is checked to
// be whole OBEX packets, what the peer says is delivered by the input. The
// link comes up as soon as Connect asks for it.
class MemoryLinkClient final : public TwclOPPClient {
public:
    explicit MemoryLinkClient(EventLoop& loop) : TwclOPPClient(loop) {
        // Serial is usable whenever the library is loaded, without any stack.
        SetClientTransport(TwclClientTransport::ctSerial);
    }
    ~MemoryLinkClient() override { DestroyingDisconnect(); }

    void Receive(std::string_view bytes) {
        DataReceived(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }

    // Every packet written so far was whole: the link never ends inside one.
    void CheckWholePackets() const {
        fuzz::Check(m_pending.empty(), "the client writes whole packets");
    }

    bool failWrites = false;

protected:
    void InternalConnect() override {
        m_pending.clear();
        SetConnected(true);
        if (!AfterConnect())
            DoConnect(0);
    }
    void InternalWrite(const std::uint8_t* data, std::size_t size) override {
        if (failWrites)
            throw wclEWriteError();
        m_pending.insert(m_pending.end(), data, data + size);
        // Packets are taken off the front as soon as they are complete.
        while (m_pending.size() >= 3) {
            const std::size_t length = (std::size_t{m_pending[1]} << 8) | m_pending[2];
            fuzz::Check(length >= 3, "a packet's length covers its opcode and length");
            if (m_pending.size() < length)
                break;
            m_pending.erase(m_pending.begin(),
                            m_pending.begin() + static_cast<std::ptrdiff_t>(length));
        }
    }
    void InternalDisconnect() override {}

private:
    Bytes m_pending;
};

// The loop, its clock and the loaded library, shared by every input.
struct Environment {
    Environment() {
        // Our handlers throw nothing, so anything that arrives here escaped
        // the client itself.
        SetApplicationExceptionHandler([](std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "%s\n", e.what());
            } catch (...) {
            }
            fuzz::Check(false, "no exception reaches the application's handler");
        });
        manager.Load();
    }
    ManualClock clock;
    PollEventLoop loop{clock};
    TwclAPIManager manager{loop, wclLoaderSet{}};
};

Bytes Pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return bytes;
}

void RunCommand(Environment& environment, MemoryLinkClient& client, fuzz::InputReader& input,
                std::size_t& putSize) {
    const std::uint8_t command = input.Byte();
    switch (command % 16) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
            // The peer's next bytes, in a chunk of 1 to 256.
            client.Receive(input.Bytes(std::size_t{input.Byte()} + 1));
            break;
        case 7: {
            const std::size_t size = input.Word();
            const std::string name(input.Bytes(input.Byte() % 32));
            client.Put(name, Pattern(size));
            putSize = size;
            break;
        }
        case 8:
            client.Get(std::string(input.Bytes(input.Byte() % 32)));
            break;
        case 9:
            client.Dir();
            break;
        case 10: {
            const std::string name(input.Bytes(input.Byte() % 32));
            switch (input.Byte() % 3) {
                case 0:
                    client.SetPath(name);
                    break;
                case 1:
                    client.Delete(name);
                    break;
                default:
                    client.MakeDir(name);
                    break;
            }
            break;
        }
        case 11:
            client.Abort();
            break;
        case 12:
            // Time passes: up to 255 seconds, in one step.
            environment.clock.Advance(std::chrono::seconds(input.Byte()));
            environment.loop.ProcessEvents(std::chrono::milliseconds(0));
            break;
        case 13:
            client.failWrites = !client.failWrites;
            break;
        case 14:
            client.Disconnect();
            client.CheckWholePackets();
            client.failWrites = false;
            client.Connect();
            break;
        default:
            environment.loop.ProcessEvents(std::chrono::milliseconds(0));
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Environment environment;
    fuzz::InputReader input(data, size);

    MemoryLinkClient client(environment.loop);
    std::size_t putSize = 0;
    client.OnProgress = [&putSize](TwclCustomOBEXClient& sender, std::uint32_t position,
                                   std::uint32_t total) {
        if (sender.Operation() == TwclOBEXOperation::ooPut)
            fuzz::Check(position <= total && total == putSize, "a put's progress stays in it");
    };
    client.OnComplete = [](TwclCustomOBEXClient& sender, std::uint32_t, TwclOBEXOperation) {
        fuzz::Check(sender.Operation() == TwclOBEXOperation::ooNone, "idle on completion");
    };
    client.OnGetComplete = [](TwclCustomOBEXClient& sender, std::uint32_t result,
                              const Bytes* object) {
        fuzz::Check((result == 0) == (object != nullptr), "an object exactly on success");
        fuzz::Check(!object || object->size() <= kOBEXMaxIncomingObject, "objects are bounded");
        fuzz::Check(sender.Operation() == TwclOBEXOperation::ooNone, "idle on completion");
    };
    client.OnDirComplete = [](TwclCustomOBEXClient& sender, std::uint32_t result,
                              const TwclFileSystemObjects* objects) {
        fuzz::Check((result == 0) == (objects != nullptr), "a listing exactly on success");
        fuzz::Check(sender.Operation() == TwclOBEXOperation::ooNone, "idle on completion");
    };

    try {
        client.Connect();
    } catch (const wclException&) {
        return 0;
    }
    for (std::size_t step = 0; step < kMaxCommands && !input.Empty(); ++step) {
        try {
            RunCommand(environment, client, input, putSize);
        } catch (const wclException&) {
            // Refused calls: not connected, busy, a bad name, a failed write.
        }
    }
    client.Disconnect();
    client.CheckWholePackets();
    // Timers the client left behind go with it; none may fire later.
    environment.loop.ProcessEvents(std::chrono::milliseconds(0));
    return 0;
}
