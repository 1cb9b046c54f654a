#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "host/HeadlessSession.h"

namespace kavri::cli {

// A headless session opened at construction, for callers that want a failure
// thrown (std::runtime_error with the operator's message) rather than
// returned; the sender benchmark builds its runs on it.
class StackSession : public host::HeadlessSession {
public:
    explicit StackSession(const std::optional<std::string>& scenarioPath,
                          std::string inboxRoot = host::DefaultInboxRoot())
        : HeadlessSession(std::move(inboxRoot)) {
        if (const Result opened = Open(scenarioPath); !opened) {
            throw std::runtime_error(opened.Message);
        }
    }
};

}  // namespace kavri::cli
