#include "cli/LanguageCommands.h"

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "app/AppSettings.h"
#include "app/DataFolder.h"
#include "app/LanguageFile.h"
#include "cli/Escape.h"

namespace kavri::cli {
namespace {

int Fail(std::FILE* err, std::string_view message) {
    std::fprintf(err, "kavrictl: %s\n", EscapeField(message).c_str());
    return 1;
}

// Commands that only read neither create a missing data folder nor need write
// permission on it.
std::unique_ptr<AppSettings> OpenSettings(const std::string& dataFolder, bool forWriting,
                                          std::FILE* err) {
    try {
        return std::make_unique<AppSettings>(
            (forWriting ? DataFolder::Open(dataFolder) : DataFolder::OpenExisting(dataFolder))
                .SettingsFile());
    } catch (const std::runtime_error& e) {
        Fail(err, e.what());
        return nullptr;
    }
}

// The language file with its languages, or an error on err when there is no
// file or it holds no language.
std::unique_ptr<LanguageFile> OpenLanguages(const std::string& languageFile,
                                            const AppSettings& settings, std::FILE* err) {
#ifdef KAVRI_SOURCE_DIR
    const std::string path = LanguageFile::Locate(languageFile, KAVRI_SOURCE_DIR);
#else
    const std::string path = LanguageFile::Locate(languageFile);
#endif
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        Fail(err, "no language file at " + path);
        return nullptr;
    }
    auto file = std::make_unique<LanguageFile>(path, [&settings] { return settings.Language(); });
    if (file->ListLanguages().empty()) {
        Fail(err, "the language file " + path + " holds no language");
        return nullptr;
    }
    return file;
}

}  // namespace

int ListLanguagesCommand(const std::string& dataFolder, const std::string& languageFile,
                         std::FILE* out, std::FILE* err) {
    const std::unique_ptr<AppSettings> settings = OpenSettings(dataFolder, false, err);
    if (!settings) {
        return 1;
    }
    const std::unique_ptr<LanguageFile> languages = OpenLanguages(languageFile, *settings, err);
    if (!languages) {
        return 1;
    }
    // The setting as the file spells it, so "german" marks "German".
    const std::string current = languages->FindLanguage(settings->Language());
    for (const std::string& name : languages->ListLanguages()) {
        std::fprintf(out, "%s%s\n", EscapeField(name).c_str(), name == current ? "\t*" : "");
    }
    return 0;
}

int SetLanguageCommand(const std::string& dataFolder, const std::string& languageFile,
                       std::string_view name, std::FILE*, std::FILE* err) {
    const std::unique_ptr<AppSettings> settings = OpenSettings(dataFolder, true, err);
    if (!settings) {
        return 1;
    }
    const std::unique_ptr<LanguageFile> languages = OpenLanguages(languageFile, *settings, err);
    if (!languages) {
        return 1;
    }
    const std::string section = name.empty() ? std::string() : languages->FindLanguage(name);
    if (section.empty()) {
        std::string known;
        for (const std::string& language : languages->ListLanguages()) {
            known += (known.empty() ? "" : ", ") + language;
        }
        return Fail(err,
                    "unknown language \"" + std::string(name) + "\" (languages: " + known + ")");
    }
    if (const Result written = settings->SetLanguage(section); !written) {
        return Fail(err, "cannot write the settings: " + written.Message);
    }
    return 0;
}

}  // namespace kavri::cli
