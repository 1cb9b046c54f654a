#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "host/StopSignals.h"

namespace CLI {
class App;
}

namespace kavri {
class DateTimeClock;
class EventLoop;
}  // namespace kavri

namespace kavri::cli {

struct GlobalOptions;
using CommandAction = std::function<int()>;

// kavrictl run [--simulate [SCENARIO]] [--inbox DIR] [--cycles N]
CommandAction RegisterRunCommand(CLI::App& app, const GlobalOptions& global);

// What kavrictl run is asked to do.
struct RunOptions {
    // The data folder; empty: the per-user one.
    std::string DataFolder;
    // The virtual neighbourhood's scenario file; none: the real stacks.
    std::optional<std::string> Scenario;
    // Where the virtual devices keep what they receive (one folder per
    // device); empty: the default of the virtual neighbourhood.
    std::string InboxRoot;
    // Stop after this many discovery cycles; 0: run until SIGINT or SIGTERM.
    // A cycle ends when the sender begins its pause, that is when every
    // device of the cycle has been tried and no link is open.
    unsigned Cycles = 0;
};

// kavrictl run: starts the sender on the data folder exactly as the main
// window's Start command does and prints one line per event:
//   TIME <TAB> EVENT <TAB> ADDRESS <TAB> NAME <TAB> CAMPAIGN <TAB> RESULT
// TIME is the local date and time "YYYY-MM-DD HH:MM:SS". EVENT is one of
// started, discovery-started, discovery-complete, accept, refuse, connecting,
// connected, send-start, send-complete, disconnected, stopped. ADDRESS and
// NAME are the device's (NAME as the device list shows it); CAMPAIGN is the
// campaign of the cycle. RESULT is the library's result code as 0xXXXXXXXX
// for connected and send-complete, the reason for refuse (no-campaign,
// black-listed, already-accepted, recently-refused), refusal-expired for an
// accept whose earlier refusal has just run out. Fields are escaped
// (EscapeField) and "-" stands for an empty one.
//
// Ends after options.Cycles cycles or on SIGINT/SIGTERM, stopping the sender,
// freeing the radio and unloading the stacks in that order; returns 0 then.
// Returns 1 with one line on err when no radio is available ("kavrictl:
// Transport is not available."), when the sender refuses to start (the
// library's message), when the data folder or the scenario cannot be used,
// and when the sender stops by itself because its radio went away and no
// other radio is chosen within five seconds. When one is (another stack's
// radio, or the same radio plugged in again), the sender starts again on it,
// which prints a second started line.
// A device record that cannot be written is one line on err; the run goes on.
int RunSender(const RunOptions& options, std::FILE* out, std::FILE* err);

// The surroundings RunSender builds for itself, for a caller that has set up
// the stacks itself (options.Scenario and InboxRoot are then not looked at):
// a loaded stack session on loop (host::StackSession), the date-time clock of
// the records and the printed times, the computer's name for the radio, and
// one step of event handling (RunSender's own waits up to a second on the
// real clock; a test's advances a manual one when nothing is ready).
struct RunEnvironment {
    EventLoop& Loop;
    const DateTimeClock& Clock;
    std::string ComputerName;
    std::function<void()> ProcessEvents;
    // What to tell the operator when the sender cannot start for want of a
    // radio (see StackSession::NoRadioAdvice); may be empty.
    std::function<std::string()> NoRadioAdvice = {};
};
int RunSenderIn(RunEnvironment& environment, const RunOptions& options, std::FILE* out,
                std::FILE* err);

// The signal watch of the run, kept under its name here for its callers.
using host::StopSignals;

}  // namespace kavri::cli
