#pragma once

#include <cstdio>
#include <string>

namespace kavri::cli {

// After "no radio": one more line on the error stream, "kavrictl: ADVICE",
// that tells the operator what to do (see StackSession::NoRadioAdvice);
// nothing when there is no advice.
inline void PrintAdvice(std::FILE* err, const std::string& advice) {
    if (!advice.empty())
        std::fprintf(err, "kavrictl: %s\n", advice.c_str());
}

}  // namespace kavri::cli
