#include "cli/OperatorTexts.h"

#include "cli/Escape.h"

namespace kavri::cli {

OperatorTexts CommandTexts(const std::string& dataFolder, const std::string& languageFile,
                           std::FILE* warnings) {
#ifdef KAVRI_SOURCE_DIR
    const std::string_view sourceTree = KAVRI_SOURCE_DIR;
#else
    const std::string_view sourceTree;
#endif
    return OperatorTexts(
        dataFolder, languageFile, sourceTree, [warnings](const std::string& reason) {
            if (warnings != nullptr) {
                std::fprintf(warnings, "kavrictl: warning: %s; such texts show as UNDEFINED\n",
                             EscapeField(reason).c_str());
            }
        });
}

std::string TitleLine(const std::vector<std::string>& titles) {
    std::string line;
    for (std::size_t i = 0; i < titles.size(); ++i) {
        line += i == 0 ? "" : "\t";
        line += EscapeField(titles[i]);
    }
    return line + "\n";
}

}  // namespace kavri::cli
