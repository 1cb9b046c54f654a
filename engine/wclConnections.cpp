#include "engine/wclConnections.h"

#include "engine/SerialReader.h"
#include "platform/SerialPort.h"
#include "stack/wclExceptions.h"
#include "stack/wclIrDA.h"
#include "stack/wclTypes.h"

#include <chrono>
#include <vector>

namespace kavri {

// ---- TwclCustomConnection ----------------------------------------------------

TwclCustomConnection::TwclCustomConnection(EventLoop& loop) : m_loop(loop) {}

TwclCustomConnection::~TwclCustomConnection() {
    // Normally gone already (DestroyingDisconnect); never leave a window whose
    // handler points at a dead object.
    if (m_window) {
        ProcessNotificationList().Remove(m_window->Handle());
        m_window.reset();
    }
}

MessageWindowHandle TwclCustomConnection::WindowHandle() const {
    return m_window ? m_window->Handle() : MessageWindowHandle();
}

void TwclCustomConnection::Connect() {
    if (m_connected) {
        throw wclEConnectionExists();
    }
    if (m_active) {
        throw wclEConnectionActive();
    }
    CheckTransport(Transport());
    if (!m_window) {
        m_window = std::make_unique<MessageWindow>(m_loop, [this](const Message& message) {
            // The window passes what escapes to the application's handler too;
            // catching here keeps that promise whatever a subclass does.
            try {
                WndProc(message);
            } catch (...) {
                HandleApplicationException(std::current_exception());
            }
        });
    }
    ProcessNotificationList().Add(m_window->Handle());
    m_active = true;
    const std::weak_ptr<void> life = m_lifeToken;
    try {
        InternalConnect();
    } catch (...) {
        if (!life.expired() && m_active) {
            m_active = false;
            m_connected = false;
            if (m_window) {
                ProcessNotificationList().Remove(m_window->Handle());
                m_window.reset();
            }
            WindowReleased();
        }
        throw;
    }
}

void TwclCustomConnection::Disconnect() {
    if (!m_active) {
        return;
    }
    if (m_inDisconnect) {
        // Destroyed from inside OnDisconnect: finish here, quietly, because the
        // outer call must not touch the connection again.
        if (m_destroying) {
            FinishDisconnect();
        }
        return;
    }
    m_inDisconnect = true;
    if (m_connected && OnDisconnect) {
        const std::weak_ptr<void> life = m_lifeToken;
        try {
            OnDisconnect(*this);
        } catch (...) {
            if (life.expired()) {
                throw;
            }
            FinishDisconnect();
            throw;
        }
        if (life.expired()) {
            return;
        }
    }
    FinishDisconnect();
}

void TwclCustomConnection::DestroyingDisconnect() {
    m_destroying = true;
    Disconnect();
}

void TwclCustomConnection::FinishDisconnect() {
    // Whatever the transport says, the connection ends Idle.
    struct Finally {
        TwclCustomConnection& self;
        ~Finally() {
            if (self.m_window) {
                ProcessNotificationList().Remove(self.m_window->Handle());
                self.m_window.reset();
            }
            self.m_active = false;
            self.m_connected = false;
            self.m_inDisconnect = false;
            self.WindowReleased();
        }
    } finally{*this};
    BeforeDisconnect();
    InternalDisconnect();
}

void TwclCustomConnection::Write(const std::uint8_t* data, std::size_t size) {
    if (!m_connected) {
        throw wclENotConnected();
    }
    if (data == nullptr || size == 0) {
        throw wclEInvalidArgument();
    }
    InternalWrite(data, size);
}

void TwclCustomConnection::DoConnect(std::uint32_t result) {
    if (m_active && OnConnect) {
        OnConnect(*this, result);
    }
}

bool TwclCustomConnection::ProcessData(const std::uint8_t*, std::size_t) {
    return false;
}

void TwclCustomConnection::DataReceived(const std::uint8_t* data, std::size_t size) {
    if (!m_connected || data == nullptr || size == 0) {
        return;
    }
    // The handlers get a copy: the sender's buffer is reused once we return.
    const std::vector<std::uint8_t> copy(data, data + size);
    const std::weak_ptr<void> life = m_lifeToken;
    if (ProcessData(copy.data(), copy.size()) || life.expired()) {
        return;
    }
    if (OnData) {
        OnData(*this, copy.data(), copy.size());
    }
}

void TwclCustomConnection::WndProc(const Message& message) {
    switch (message.Msg) {
        case wclMsg::kAPIChanged:
            if (!IsTransportAvailable(Transport())) {
                Disconnect();
            }
            break;
        case wclMsg::kAPIUnloading:
            Disconnect();
            break;
        default:
            break;
    }
}

// ---- TwclCustomClientConnection ----------------------------------------------

namespace {

SerialLineSettings LineSettings(const TwclSerialPortClientParams& params) {
    SerialLineSettings settings;
    settings.baudRate = params.BaudRateValue();
    switch (params.ByteSize()) {
        case TwclByteSize::bs4:
            settings.dataBits = 4;
            break;
        case TwclByteSize::bs5:
            settings.dataBits = 5;
            break;
        case TwclByteSize::bs6:
            settings.dataBits = 6;
            break;
        case TwclByteSize::bs7:
            settings.dataBits = 7;
            break;
        case TwclByteSize::bs8:
            settings.dataBits = 8;
            break;
    }
    switch (params.Parity()) {
        case TwclParity::paNone:
            settings.parity = SerialParity::None;
            break;
        case TwclParity::paOdd:
            settings.parity = SerialParity::Odd;
            break;
        case TwclParity::paEven:
            settings.parity = SerialParity::Even;
            break;
        case TwclParity::paMark:
            settings.parity = SerialParity::Mark;
            break;
        case TwclParity::paSpace:
            settings.parity = SerialParity::Space;
            break;
    }
    // There is no 1.5 on this system: sb15 sets two stop bits, like sb2.
    settings.twoStopBits = params.StopBits() != TwclStopBits::sb1;
    return settings;
}

}  // namespace

// How deep the handling of message 1053 is nested right now. While it is, the
// reader that sent the chunk waits for the handling to return and cannot be
// joined: a reader stopped meanwhile waits here, and the handling's way out
// posts a task that joins it, which runs after the send has returned.
struct TwclCustomClientConnection::SerialDataScope {
    int depth = 0;
    std::vector<std::shared_ptr<SerialReader>> pending;
};

TwclCustomClientConnection::TwclCustomClientConnection(EventLoop& loop)
    : TwclCustomConnection(loop), m_serialScope(std::make_shared<SerialDataScope>()) {}

TwclCustomClientConnection::~TwclCustomClientConnection() {
    DestroyingDisconnect();
    StopConnectTimer();
    JoinStoppedReader();
}

void TwclCustomClientConnection::SetClientTransport(TwclClientTransport transport) {
    if (transport == m_clientTransport) {
        return;
    }
    if (Active()) {
        throw wclEConnectionActive();
    }
    m_clientTransport = transport;
}

void TwclCustomClientConnection::SetConnectTimeOut(std::int32_t ms) {
    if (ms == m_connectTimeOut) {
        return;
    }
    if (Active()) {
        throw wclEConnectionActive();
    }
    m_connectTimeOut = ms;
}

TwclTransport TwclCustomClientConnection::Transport() const {
    return ClientTransportToTransport(m_clientTransport);
}

int TwclCustomClientConnection::GetSignalLevel() {
    if (!Connected()) {
        throw wclENotConnected();
    }
    if (Transport() != TwclTransport::trBluetooth) {
        throw wclEInvalidTransport();
    }
    if (m_bluetoothParams.Radio() == nullptr) {
        throw wclERadioRequired();
    }
    if (!m_backend) {
        throw wclENotConnected();
    }
    return m_backend->SignalLevel();
}

void TwclCustomClientConnection::DoConnect(std::uint32_t result) {
    StopConnectTimer();
    m_connectReported = true;
    TwclCustomConnection::DoConnect(result);
}

void TwclCustomClientConnection::StopConnectTimer() {
    if (m_connectTimer != 0) {
        Loop().StopTimer(m_connectTimer);
        m_connectTimer = 0;
    }
}

void TwclCustomClientConnection::ConnectTimerTick() {
    m_connectTimer = 0;
    const std::weak_ptr<void> life = LifeToken();
    // A timer task is not a message handler: what its handlers throw is
    // handed to the application here, never to the loop.
    try {
        DoConnect(kWclErrTimeout);
        if (!life.expired() && Active()) {
            Disconnect();
        }
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

void TwclCustomClientConnection::InternalConnect() {
    m_connectReported = false;
    const std::weak_ptr<void> life = LifeToken();
    switch (m_clientTransport) {
        case TwclClientTransport::ctBluetooth:
            OpenBluetooth();
            break;
        case TwclClientTransport::ctIrDA:
            OpenIrDA();
            break;
        case TwclClientTransport::ctSerial:
            OpenSerial();
            break;
        default:
            throw wclEInvalidTransport();
    }
    if (life.expired() || !Active() || m_connectReported || m_connectTimeOut <= 0) {
        return;
    }
    m_connectTimer =
        Loop().StartTimer(Clock::Duration(m_connectTimeOut), false, [this] { ConnectTimerTick(); });
}

wclLinkSettings TwclCustomClientConnection::LinkSettings() const {
    wclLinkSettings settings;
    settings.readTimeout = Timeouts().ReadTimeout();
    settings.writeTimeout = Timeouts().WriteTimeout();
    settings.readBuffer = Buffers().ReadBuffer();
    settings.writeBuffer = Buffers().WriteBuffer();
    return settings;
}

// The link is owned by this connection and closed before it goes, so its
// reports can hold a plain pointer.
wclLinkEvents TwclCustomClientConnection::LinkEvents() {
    wclLinkEvents events;
    events.onConnect = [this](std::uint32_t result) { LinkConnected(result); };
    events.onData = [this](const std::uint8_t* data, std::size_t size) {
        DataReceived(data, size);
    };
    events.onClose = [this] { LinkClosed(); };
    return events;
}

void TwclCustomClientConnection::OpenBluetooth() {
    const TwclBluetoothRadio* radio = m_bluetoothParams.Radio();
    if (radio == nullptr) {
        throw wclERadioRequired();
    }
    wclBluetoothLinkRequest request;
    request.address = m_bluetoothParams.Address();
    request.channel = m_bluetoothParams.Channel();
    request.serviceUUID = m_bluetoothParams.ServiceUUID();
    request.authentication = m_bluetoothParams.Authentication();
    request.encryption = m_bluetoothParams.Encryption();
    request.settings = LinkSettings();
    // The lease covers the opening only: an open link keeps what it needs of
    // its stack, and the stack layer tells this connection to disconnect
    // (1043) before it unloads a stack.
    const wclBindingSlot::Lease binding = AcquireBluetoothBinding(radio->API());
    m_backend = binding->OpenLink(Loop(), request, LinkEvents());
}

void TwclCustomClientConnection::OpenIrDA() {
    wclIrDALinkRequest request;
    request.address = m_irdaParams.Address();
    request.service = m_irdaParams.Service();
    request.nineWire = m_nineWire;
    request.settings = LinkSettings();
    m_backend = OpenIrDALink(Loop(), request, LinkEvents());
}

void TwclCustomClientConnection::OpenSerial() {
    std::unique_ptr<SerialPort> port =
        SerialPort::Open(SerialPortPath(m_serialParams.Port()), LineSettings(m_serialParams));
    if (port == nullptr) {
        throw wclEUnableConnect();
    }
    m_reader =
        std::make_shared<SerialReader>(std::move(port), WindowHandle(), Buffers().ReadBuffer());

    SetConnected(true);
    const std::weak_ptr<void> life = LifeToken();
    try {
        if (!AfterConnect()) {
            DoConnect(kWclSuccess);
        }
    } catch (...) {
        // Connect fails as a whole: close the port again before passing on.
        // The reader is joined by Connect once the window is gone.
        if (!life.expired() && m_reader) {
            SetConnected(false);
            InternalDisconnect();
        }
        throw;
    }
}

void TwclCustomClientConnection::LinkConnected(std::uint32_t result) {
    const std::weak_ptr<void> life = LifeToken();
    if (result != kWclSuccess) {
        SetConnected(false);
        DoConnect(result);
        if (!life.expired()) {
            Disconnect();
        }
        return;
    }
    SetConnected(true);
    try {
        if (!AfterConnect()) {
            DoConnect(kWclSuccess);
        }
    } catch (...) {
        if (life.expired()) {
            throw;
        }
        SetConnected(false);
        DoConnect(kWclErrUnableConnect);
        if (!life.expired()) {
            Disconnect();
        }
        throw;
    }
}

void TwclCustomClientConnection::LinkClosed() {
    if (Connected()) {
        Disconnect();
    }
}

void TwclCustomClientConnection::InternalDisconnect() {
    StopConnectTimer();
    if (m_backend) {
        // Closed and freed here, also when its own report led here: the link
        // touches nothing of its own once a report returns.
        const std::unique_ptr<wclConnectionBackend> backend = std::move(m_backend);
        backend->Close();
        return;
    }
    if (m_reader) {
        // The reader is joined once the window is gone: it may be waiting
        // for the window to take a chunk.
        m_reader->Stop();
        m_stoppedReader = std::move(m_reader);
    }
}

void TwclCustomClientConnection::WindowReleased() {
    JoinStoppedReader();
}

void TwclCustomClientConnection::JoinStoppedReader() {
    if (!m_stoppedReader) {
        return;
    }
    std::shared_ptr<SerialReader> reader = std::move(m_stoppedReader);
    if (m_serialScope->depth == 0) {
        reader->Join();
    } else {
        m_serialScope->pending.push_back(std::move(reader));
    }
}

void TwclCustomClientConnection::InternalWrite(const std::uint8_t* data, std::size_t size) {
    if (m_backend) {
        m_backend->Write(data, size);
        return;
    }
    if (!m_reader) {
        throw wclENotConnected();
    }
    const auto timeout = std::chrono::milliseconds(Timeouts().WriteTimeout());
    switch (m_reader->Port().Write(data, size, timeout)) {
        case SerialPort::WriteResult::Written:
            return;
        case SerialPort::WriteResult::TimedOut:
            throw wclETimeout();
        case SerialPort::WriteResult::Failed:
            break;
    }
    throw wclEWriteError();
}

void TwclCustomClientConnection::WndProc(const Message& message) {
    switch (message.Msg) {
        case wclMsg::kConnectionSerialData:
            HandleSerialData(message);
            return;
        case wclMsg::kAPIChanged:
            if (m_clientTransport == TwclClientTransport::ctBluetooth) {
                const TwclBluetoothRadio* radio = m_bluetoothParams.Radio();
                if (radio != nullptr && !IsBluetoothAPIAvailable(radio->API())) {
                    Disconnect();
                    return;
                }
            }
            break;
        default:
            break;
    }
    TwclCustomConnection::WndProc(message);
}

void TwclCustomClientConnection::HandleSerialData(const Message& message) {
    if (!m_reader || message.LParam <= 0) {
        return;
    }
    struct Leave {
        std::shared_ptr<SerialDataScope> scope;
        EventLoop& loop;
        ~Leave() {
            if (--scope->depth > 0 || scope->pending.empty()) {
                return;
            }
            // Should the loop refuse the task, the readers are let go and end
            // by themselves.
            loop.Post([readers = std::move(scope->pending)] {
                for (const auto& reader : readers) {
                    reader->Join();
                }
            });
            scope->pending.clear();
        }
    } leave{m_serialScope, Loop()};
    ++m_serialScope->depth;
    DataReceived(reinterpret_cast<const std::uint8_t*>(message.WParam),
                 static_cast<std::size_t>(message.LParam));
}

}  // namespace kavri
