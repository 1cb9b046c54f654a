#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "app/LanguageFile.h"
#include "app/TextLookup.h"

namespace kavri::test {

// The language file shipped with the program, in the source tree.
inline std::string ShippedLanguageFile() {
    return (std::filesystem::path(KAVRI_SOURCE_DIR) / "lang" / LanguageFile::kFileName).string();
}

// The shipped file's texts in language, as the program's windows and kavrictl
// look them up: every message a test expects comes from the file, none is
// built into the program.
inline TextLookup ShippedTexts(std::string language = "English") {
    auto file =
        std::make_shared<LanguageFile>(ShippedLanguageFile(), [language] { return language; });
    return [file](std::string_view key) { return file->GetLanguageString(key); };
}

}  // namespace kavri::test
