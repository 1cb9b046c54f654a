#include "cli/RunCommand.h"

#include <chrono>
#include <exception>
#include <string_view>

#include "app/AppSettings.h"
#include "app/CampaignList.h"
#include "app/CampaignStore.h"
#include "app/DateTimeClock.h"
#include "app/SenderController.h"
#include "cli/Escape.h"
#include "cli/GuiSession.h"
#include "cli/RadioAdvice.h"
#include "host/HeadlessSession.h"
#include "host/SenderSession.h"
#include "platform/EventLoop.h"
#include "stack/wclMessages.h"

namespace kavri::cli {

namespace {

void PrintError(std::FILE* err, std::string_view message) {
    std::fprintf(err, "kavrictl: %s\n", EscapeField(message).c_str());
    std::fflush(err);
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

// The line's EVENT field; nullptr for events that print no line.
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
        case AcceptReason::OtherDeviceType:
            return "other-device-type";
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

// How long a run whose radio went waits for another radio before it ends: a
// stack reports a radio plugged in within a second or two.
constexpr std::chrono::seconds kRadioGrace{5};

// Puts the application's exception handler back when the run ends.
class ExceptionReporter {
public:
    explicit ExceptionReporter(std::FILE* err) {
        SetApplicationExceptionHandler([err](std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                PrintError(err, e.what());
            } catch (...) {
                std::fprintf(err, "kavrictl: unknown error\n");
                std::fflush(err);
            }
        });
    }
    ~ExceptionReporter() { SetApplicationExceptionHandler(nullptr); }
    ExceptionReporter(const ExceptionReporter&) = delete;
    ExceptionReporter& operator=(const ExceptionReporter&) = delete;
};

}  // namespace

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

        // The run prints no campaign texts, so the session needs no language.
        host::SenderSession session(environment.Loop, environment.Clock, environment.ComputerName);
        unsigned cycles = 0;
        bool cyclesDone = false;
        // The radio went: the run waits for another one (waiting), and ends
        // with an error when none comes within the grace (radioLost).
        bool waiting = false;
        bool radioLost = false;
        EventLoop::TimerId graceTimer = 0;
        const auto startAgain = [&] {
            if (!waiting || !session.StartEnabled()) {
                return;
            }
            waiting = false;
            environment.Loop.StopTimer(graceTimer);
            if (const Result restarted = session.Start(); !restarted) {
                PrintError(err, restarted.Message);
                radioLost = true;
            }
        };
        session.OnCampaignsChanged = [&session, err] {
            const std::string& loadError = session.Store().Campaigns().LoadError();
            if (!loadError.empty()) {
                PrintError(err, loadError);
            }
        };
        session.OnSenderEvent = [&](const SenderEvent& event) {
            if (event.Kind == SenderEventKind::SleepStarted) {
                // Every device of the cycle has been tried: one cycle done.
                ++cycles;
                cyclesDone = options.Cycles != 0 && cycles >= options.Cycles;
            }
            if (event.Kind == SenderEventKind::Stopped && !event.Requested) {
                waiting = true;
                graceTimer = environment.Loop.StartTimer(kRadioGrace, false, [&] {
                    if (waiting) {
                        radioLost = true;
                    }
                });
            }
            const char* name = EventName(event.Kind);
            if (name == nullptr) {
                return;
            }
            std::fprintf(out, "%s\t%s\t%s\t%s\t%s\t%s\n", TimeText(environment.Clock).c_str(), name,
                         Field(event.Address).c_str(), Field(event.Name).c_str(),
                         Field(event.Campaign).c_str(), ResultText(event).c_str());
            std::fflush(out);
        };
        session.OnRecordFailed = [err](const std::string& message) { PrintError(err, message); };
        session.OnRadioChanged = [&](const TwclBluetoothRadio* radio) {
            if (radio != nullptr) {
                startAgain();
            }
        };

        if (const Result opened = session.Open(options.DataFolder); !opened) {
            PrintError(err, opened.Message);
            return 1;
        }
        Result started = session.LoadStacks();
        if (started) {
            started = session.Start();
        }
        if (!started) {
            PrintError(err, started.Message);
            if (environment.NoRadioAdvice)
                PrintAdvice(err, environment.NoRadioAdvice());
            session.Shutdown();
            return 1;
        }
        while (!stopRequested && !cyclesDone && !radioLost) {
            environment.ProcessEvents();
            // Another stack's radio may have been chosen before this one went.
            startAgain();
        }
        environment.Loop.StopTimer(graceTimer);
        session.Shutdown();
        if (radioLost) {
            PrintError(err, "the sender stopped: the radio is no longer available");
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        PrintError(err, e.what());
        return 1;
    }
}

int RunSender(const RunOptions& options, std::FILE* out, std::FILE* err) {
    try {
        // A coupon campaign with one code per phone draws pictures while it runs.
        const GuiSession gui;
        host::HeadlessSession session(options.InboxRoot.empty() ? host::DefaultInboxRoot()
                                                                : options.InboxRoot);
        if (const Result opened = session.Open(options.Scenario); !opened) {
            PrintError(err, opened.Message);
            return 1;
        }
        const SystemDateTimeClock clock;
        RunEnvironment environment{session.Loop(), clock, ComputerName(),
                                   [&session] {
                                       // Posts, timers and the signal pipe all wake it.
                                       session.Loop().ProcessEvents(std::chrono::seconds(1));
                                   },
                                   [&session] { return session.Stack().NoRadioAdvice(); }};
        return RunSenderIn(environment, options, out, err);
    } catch (const std::exception& e) {
        PrintError(err, e.what());
        return 1;
    }
}

}  // namespace kavri::cli
