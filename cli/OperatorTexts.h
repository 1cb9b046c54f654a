#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "app/ListTitleKeys.h"
#include "app/OperatorTexts.h"

namespace kavri::cli {

// The texts kavrictl shows an operator (OperatorTexts): the language file
// given (--language-file), else the one beside the program, installed, or in
// the source tree. The first text the file cannot give prints one line
// "kavrictl: warning: REASON; such texts show as UNDEFINED" on warnings.
OperatorTexts CommandTexts(const std::string& dataFolder, const std::string& languageFile,
                           std::FILE* warnings = stderr);

// One line of titles: the fields escaped with EscapeField and joined by tabs,
// with the line end.
std::string TitleLine(const std::vector<std::string>& titles);

}  // namespace kavri::cli
