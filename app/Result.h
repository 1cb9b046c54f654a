#pragma once

#include <string>
#include <utility>

namespace kavri {

// What an operator's command or a step of it came to: done, or refused with
// the text to show the operator. Every layer above the Bluetooth library
// reports failures this way (the library itself throws its own exception
// classes); a window shows Message in a message box, kavrictl prints it on
// standard error.
//
// MessageKey names the language file's message when there is one
// ("CampaignNameRequired", "CampaignExists", ...), so a caller may tell
// refusals apart without comparing texts; it stays empty for failures the
// language file has no message for (a file that cannot be written).
struct [[nodiscard]] Result {
    bool Ok = true;
    std::string MessageKey;
    std::string Message;

    static Result Success() { return Result{}; }
    static Result Failure(std::string message, std::string messageKey = {}) {
        return Result{false, std::move(messageKey), std::move(message)};
    }

    explicit operator bool() const { return Ok; }
};

}  // namespace kavri
