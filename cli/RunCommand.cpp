#include "cli/RunCommand.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <exception>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "app/AppSettings.h"
#include "app/CampaignReloader.h"
#include "app/CampaignStore.h"
#include "app/CampaignTable.h"
#include "app/DataFolder.h"
#include "app/DateTimeClock.h"
#include "app/SenderController.h"
#include "app/TextLookup.h"
#include "cli/Escape.h"
#include "cli/StackSession.h"
#include "platform/EventLoop.h"
#include "stack/wclAPI.h"
#include "stack/wclExceptions.h"
#include "stack/wclMessages.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace kavri::cli {

namespace {

// The pipe end the handler writes to, -1 while no StopSignals lives. Read in
// the handler, so it must be lock-free.
std::atomic<int> g_signalPipe{-1};
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<bool> g_signalsInstalled{false};
struct sigaction g_previousInt {};
struct sigaction g_previousTerm {};

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    const int fd = g_signalPipe.load();
    if (fd >= 0) {
        const char byte = 1;
        // A full pipe already says that a signal came.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

std::string Field(std::string_view text) {
    return text.empty() ? std::string("-") : EscapeField(text);
}

std::string TimeText(const DateTimeClock& clock) {
    const std::optional<DateTimeParts> parts = clock.Now().Parts();
    if (!parts) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts->Year, parts->Month,
                  parts->Day, parts->Hour, parts->Minute, parts->Second);
    return text;
}

const char* EventName(SenderEventKind kind) {
    switch (kind) {
        case SenderEventKind::Started:
            return "started";
        case SenderEventKind::DiscoveryStarted:
            return "discovery-started";
        case SenderEventKind::DiscoveryComplete:
            return "discovery-complete";
        case SenderEventKind::Accept:
            return "accept";
        case SenderEventKind::Refuse:
            return "refuse";
        case SenderEventKind::Connecting:
            return "connecting";
        case SenderEventKind::Connected:
            return "connected";
        case SenderEventKind::SendStart:
            return "send-start";
        case SenderEventKind::SendComplete:
            return "send-complete";
        case SenderEventKind::Disconnected:
            return "disconnected";
        case SenderEventKind::Stopped:
            return "stopped";
        case SenderEventKind::SleepStarted:
            break;
    }
    return nullptr;
}

const char* ReasonText(AcceptReason reason) {
    switch (reason) {
        case AcceptReason::Accepted:
            return "-";
        case AcceptReason::RefusalExpired:
            return "refusal-expired";
        case AcceptReason::NoCampaign:
            return "no-campaign";
        case AcceptReason::BlackListed:
            return "black-listed";
        case AcceptReason::AlreadyAccepted:
            return "already-accepted";
        case AcceptReason::RecentlyRefused:
            return "recently-refused";
        case AcceptReason::UnreadableRecords:
            return "unreadable-records";
    }
    return "-";
}

std::string ResultText(const SenderEvent& event) {
    if (event.Result) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(*event.Result));
        return text;
    }
    if (event.Kind == SenderEventKind::Accept || event.Kind == SenderEventKind::Refuse) {
        return ReasonText(event.Reason);
    }
    return "-";
}

// Why the sender cannot start here: the library's own message when the
// Bluetooth transport is missing.
std::string NoRadioMessage() {
    try {
        CheckTransport(TwclTransport::trBluetooth);
    } catch (const wclException& e) {
        return e.what();
    }
    return "no Bluetooth radio is available";
}

// Puts the application's exception handler back when the run ends.
class ExceptionReporter {
public:
    explicit ExceptionReporter(std::FILE* err) {
        SetApplicationExceptionHandler([err](std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                std::fprintf(err, "kavrictl: %s\n", EscapeField(e.what()).c_str());
            } catch (...) {
                std::fprintf(err, "kavrictl: unknown error\n");
            }
            std::fflush(err);
        });
    }
    ~ExceptionReporter() { SetApplicationExceptionHandler(nullptr); }
    ExceptionReporter(const ExceptionReporter&) = delete;
    ExceptionReporter& operator=(const ExceptionReporter&) = delete;
};

}  // namespace

StopSignals::StopSignals() {
    bool expected = false;
    if (!g_signalsInstalled.compare_exchange_strong(expected, true)) {
        throw std::logic_error("stop signals are already being watched");
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int error = errno;
        g_signalsInstalled = false;
        throw std::system_error(error, std::generic_category(), "cannot make the signal pipe");
    }
    m_readFd = fds[0];
    m_writeFd = fds[1];
    g_signalPipe = m_writeFd;

    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Interrupted system calls resume; the loop learns of the signal by the pipe.
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGINT, &action, &g_previousInt) != 0 ||
        ::sigaction(SIGTERM, &action, &g_previousTerm) != 0) {
        const int error = errno;
        ::sigaction(SIGINT, &g_previousInt, nullptr);
        g_signalPipe = -1;
        ::close(m_readFd);
        ::close(m_writeFd);
        g_signalsInstalled = false;
        throw std::system_error(error, std::generic_category(), "cannot catch stop signals");
    }
}

StopSignals::~StopSignals() {
    ::sigaction(SIGTERM, &g_previousTerm, nullptr);
    ::sigaction(SIGINT, &g_previousInt, nullptr);
    g_signalPipe = -1;
    ::close(m_readFd);
    ::close(m_writeFd);
    g_signalsInstalled = false;
}

bool StopSignals::Take() {
    bool signalled = false;
    char buffer[64];
    // Bounded: the pipe is non-blocking and holds what few signals came.
    for (int i = 0; i < 1024; ++i) {
        const ssize_t n = ::read(m_readFd, buffer, sizeof buffer);
        if (n > 0) {
            signalled = true;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        break;
    }
    return signalled;
}

int RunSenderIn(RunEnvironment& environment, const RunOptions& options, std::FILE* out,
                std::FILE* err) {
    try {
        ExceptionReporter reporter(err);
        StopSignals signals;
        bool stopRequested = false;
        const EventLoop::WatchId watch =
            environment.Loop.WatchFd(signals.Fd(), EventLoop::kReadable, [&](unsigned) {
                if (signals.Take()) {
                    stopRequested = true;
                }
            });
        struct Unwatch {
            EventLoop& loop;
            EventLoop::WatchId id;
            ~Unwatch() { loop.UnwatchFd(id); }
        } unwatch{environment.Loop, watch};

        // What the main window holds for the whole run.
        const DataFolder folder = DataFolder::Open(options.DataFolder);
        CampaignStore store(folder);
        AppSettings settings(folder.SettingsFile());
        // The run prints no campaign texts, so the table needs no language.
        CampaignTable table(store, environment.Clock, TextLookup{});
        table.RefreshCampaigns();
        // Campaigns changed by another process count from the next cycle on.
        CampaignReloader reloader(store, table);
        table.OnSelecting = [&reloader, &store, err] {
            if (reloader.Update() && !store.Campaigns().LoadError().empty()) {
                std::fprintf(err, "kavrictl: %s\n",
                             EscapeField(store.Campaigns().LoadError()).c_str());
                std::fflush(err);
            }
        };

        SenderController controller(environment.Loop, store, table, settings, environment.Clock,
                                    environment.ComputerName);
        unsigned cycles = 0;
        bool cyclesDone = false;
        bool stoppedByItself = false;
        controller.OnEvent = [&](const SenderEvent& event) {
            if (event.Kind == SenderEventKind::SleepStarted) {
                // Every device of the cycle has been tried: one cycle done.
                ++cycles;
                cyclesDone = options.Cycles != 0 && cycles >= options.Cycles;
                return;
            }
            if (event.Kind == SenderEventKind::Stopped && !event.Requested) {
                stoppedByItself = true;
            }
            std::fprintf(out, "%s\t%s\t%s\t%s\t%s\t%s\n", TimeText(environment.Clock).c_str(),
                         EventName(event.Kind), Field(event.Address).c_str(),
                         Field(event.Name).c_str(), Field(event.Campaign).c_str(),
                         ResultText(event).c_str());
            std::fflush(out);
        };
        controller.Decisions().OnRecordFailed = [err](const std::string& message) {
            std::fprintf(err, "kavrictl: %s\n", EscapeField(message).c_str());
            std::fflush(err);
        };

        controller.LoadStacks();
        if (!controller.StartEnabled()) {
            std::fprintf(err, "kavrictl: %s\n", EscapeField(NoRadioMessage()).c_str());
            controller.Shutdown();
            return 1;
        }
        try {
            controller.Start();
        } catch (const wclException& e) {
            // The engine refused a setting or the start and stays stopped.
            std::fprintf(err, "kavrictl: %s\n", EscapeField(e.what()).c_str());
            controller.Shutdown();
            return 1;
        }
        while (!stopRequested && !cyclesDone && !stoppedByItself) {
            environment.ProcessEvents();
        }
        controller.Shutdown();
        if (stoppedByItself) {
            std::fprintf(err, "kavrictl: the sender stopped: the radio is no longer available\n");
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(err, "kavrictl: %s\n", EscapeField(e.what()).c_str());
        return 1;
    }
}

int RunSender(const RunOptions& options, std::FILE* out, std::FILE* err) {
    try {
        StackSession session(options.Scenario,
                             options.InboxRoot.empty() ? DefaultInboxRoot() : options.InboxRoot);
        const SystemDateTimeClock clock;
        RunEnvironment environment{session.Loop(), clock, ComputerName(), [&session] {
                                       // Posts, timers and the signal pipe all wake it.
                                       session.Loop().ProcessEvents(std::chrono::seconds(1));
                                   }};
        return RunSenderIn(environment, options, out, err);
    } catch (const std::exception& e) {
        std::fprintf(err, "kavrictl: %s\n", EscapeField(e.what()).c_str());
        return 1;
    }
}

}  // namespace kavri::cli
