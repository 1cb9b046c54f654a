#include "cli/SettingsCommands.h"

#include <memory>
#include <stdexcept>

#include "app/AppSettings.h"
#include "app/DataFolder.h"
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

char FoldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The key as the settings name it, matched without regard to case; nothing
// for an unknown key.
const AppSettings::KeyInfo* FindKey(std::string_view key) {
    for (const AppSettings::KeyInfo& info : AppSettings::Keys()) {
        bool same = info.Key.size() == key.size();
        for (std::size_t i = 0; i < key.size() && same; ++i) {
            same = FoldAscii(info.Key[i]) == FoldAscii(key[i]);
        }
        if (same) {
            return &info;
        }
    }
    return nullptr;
}

int UnknownKey(std::FILE* err, std::string_view key) {
    std::string known;
    for (const AppSettings::KeyInfo& info : AppSettings::Keys()) {
        known += (known.empty() ? "" : ", ") + std::string(info.Key);
    }
    return Fail(err,
                "unknown setting \"" + std::string(key) + "\" (the settings are " + known + ")");
}

}  // namespace

int ShowSettings(const std::string& dataFolder, const std::optional<std::string>& key,
                 std::FILE* out, std::FILE* err) {
    const AppSettings::KeyInfo* only = nullptr;
    if (key) {
        only = FindKey(*key);
        if (only == nullptr) {
            return UnknownKey(err, *key);
        }
    }
    const std::unique_ptr<AppSettings> settings = OpenSettings(dataFolder, false, err);
    if (!settings) {
        return 1;
    }
    for (const AppSettings::KeyInfo& info : AppSettings::Keys()) {
        if (only != nullptr && only != &info) {
            continue;
        }
        std::string value;
        if (settings->ValueText(info.Key, value)) {
            std::fprintf(out, "%s\t%s\n", std::string(info.Key).c_str(),
                         EscapeField(value).c_str());
        }
    }
    return 0;
}

int SetSetting(const std::string& dataFolder, std::string_view key, std::string_view value,
               std::FILE*, std::FILE* err) {
    if (FindKey(key) == nullptr) {
        return UnknownKey(err, key);
    }
    const std::unique_ptr<AppSettings> settings = OpenSettings(dataFolder, true, err);
    if (!settings) {
        return 1;
    }
    const Result written = settings->SetValueText(key, value);
    return written ? 0 : Fail(err, written.Message);
}

}  // namespace kavri::cli
