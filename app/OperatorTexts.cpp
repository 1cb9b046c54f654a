#include "app/OperatorTexts.h"

#include <stdexcept>
#include <utility>

#include "app/AppSettings.h"
#include "app/DataFolder.h"
#include "app/LanguageFile.h"

namespace kavri {

OperatorTexts::OperatorTexts(const std::string& dataFolder, const std::string& languageFile,
                             std::string_view sourceTree, MissingTextReport onMissingText)
    : m_onMissingText(std::move(onMissingText)) {
    try {
        m_settings =
            std::make_unique<AppSettings>(DataFolder::OpenExisting(dataFolder).SettingsFile());
    } catch (const std::runtime_error&) {
        // A data folder that cannot be opened is reported by the command
        // itself; the texts then come in the default language.
    }
    const std::string path = LanguageFile::Locate(languageFile, sourceTree);
    // Made also when the file is missing: every lookup then gives UNDEFINED,
    // and the file names itself in the warning.
    AppSettings* settings = m_settings.get();
    m_languages = std::make_unique<LanguageFile>(path, [settings] {
        return settings != nullptr ? settings->Language()
                                   : std::string(AppSettings::kDefaultLanguage);
    });
}

OperatorTexts::~OperatorTexts() = default;

std::string OperatorTexts::Text(std::string_view key) const {
    std::string text = m_languages->GetLanguageString(key);
    if (text == kUndefinedText && !m_warned) {
        const std::string reason = m_languages->MissingTextReason(key);
        // A text that is literally "UNDEFINED" in the file is no miss.
        if (!reason.empty()) {
            m_warned = true;
            if (m_onMissingText) {
                m_onMissingText(reason);
            }
        }
    }
    return text;
}

TextLookup OperatorTexts::Lookup() const {
    return [this](std::string_view key) { return Text(key); };
}

std::vector<std::string> OperatorTexts::Titles(std::span<const std::string_view> keys) const {
    std::vector<std::string> titles;
    titles.reserve(keys.size());
    for (const std::string_view key : keys) {
        titles.push_back(Text(key));
    }
    return titles;
}

}  // namespace kavri
