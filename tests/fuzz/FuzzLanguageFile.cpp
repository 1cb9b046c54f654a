// Language files as an operator or a translator edits them: listing the
// languages, finding one by name, and looking texts up in it. The input is
// LANGUAGE LF FILE-TEXT; the current language is LANGUAGE.
#include "FuzzCheck.h"
#include "WorkFolder.h"

#include "app/DateFormat.h"
#include "app/IniFile.h"
#include "app/LanguageFile.h"
#include "app/TextLookup.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

using namespace kavri;

namespace {

namespace fs = std::filesystem;

const fs::path& WorkFolder() {
    static const fuzz::WorkFolder folder("lang");
    return folder.Path();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    const std::string language(input.Field('\n'));
    const std::string_view text = input.Rest();

    const fs::path path = WorkFolder() / LanguageFile::kFileName;
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    // The language file reads through the process's cache, which would take an
    // earlier input of the same size and times for this one.
    IniFile::Cache::Process()->Clear();

    const LanguageFile file(path.string(), [&language] { return language; });
    for (const std::string& name : file.ListLanguages())
        fuzz::Check(!file.FindLanguage(name).empty(), "every listed language is found");

    // Each text of the current language is looked up as the file holds it;
    // a key it lacks shows the undefined text. No language is no language.
    if (language.empty())
        return 0;
    const IniFile direct(path.string(), DateFormat::Iso(), std::make_shared<IniFile::Cache>());
    for (const auto& [key, value] : direct.ReadSectionValues(language))
        fuzz::Check(file.GetLanguageString(key) == value, "a text reads as the file holds it");
    if (!direct.ValueExists(language, "fuzz-no-such-key"))
        fuzz::Check(file.GetLanguageString("fuzz-no-such-key") == kUndefinedText,
                    "a missing text shows as undefined");
    file.FindLanguage(language);
    return 0;
}
