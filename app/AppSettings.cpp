#include "app/AppSettings.h"

#include "app/DateFormat.h"
#include "app/IniFile.h"
#include "platform/Text.h"

#include <charconv>

#include <limits.h>
#include <unistd.h>

namespace kavri {

namespace {

bool EqualsFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        x = x >= 'A' && x <= 'Z' ? static_cast<char>(x - 'A' + 'a') : x;
        y = y >= 'A' && y <= 'Z' ? static_cast<char>(y - 'A' + 'a') : y;
        if (x != y) {
            return false;
        }
    }
    return true;
}

bool HasControl(std::string_view text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            return true;
        }
    }
    return false;
}

}  // namespace

AppSettings::AppSettings(std::string path)
    // Settings hold no dates; the fixed forms spare a locale query.
    : m_file(std::make_unique<IniFile>(std::move(path), DateFormat::Iso())) {}

AppSettings::~AppSettings() = default;

const std::string& AppSettings::FileName() const {
    return m_file->FileName();
}

// Wider stored values keep their low bits, as the held types do.
std::uint8_t AppSettings::ConnectTimeout() const {
    return static_cast<std::uint8_t>(
        m_file->ReadInteger(kSection, "ConnectTimeout", kDefaultConnectTimeout));
}

Result AppSettings::SetConnectTimeout(std::uint8_t seconds) {
    return m_file->WriteInteger(kSection, "ConnectTimeout", seconds);
}

std::uint16_t AppSettings::IdleTimeout() const {
    return static_cast<std::uint16_t>(
        m_file->ReadInteger(kSection, "IdleTimeout", kDefaultIdleTimeout));
}

Result AppSettings::SetIdleTimeout(std::uint16_t seconds) {
    return m_file->WriteInteger(kSection, "IdleTimeout", seconds);
}

std::uint8_t AppSettings::MaxConnections() const {
    return static_cast<std::uint8_t>(
        m_file->ReadInteger(kSection, "MaxConnections", kDefaultMaxConnections));
}

Result AppSettings::SetMaxConnections(std::uint8_t count) {
    return m_file->WriteInteger(kSection, "MaxConnections", count);
}

std::uint8_t AppSettings::RejectedTimeout() const {
    return static_cast<std::uint8_t>(
        m_file->ReadInteger(kSection, "RejectedTimeout", kDefaultRejectedTimeout));
}

Result AppSettings::SetRejectedTimeout(std::uint8_t hours) {
    return m_file->WriteInteger(kSection, "RejectedTimeout", hours);
}

std::string AppSettings::Language() const {
    return m_file->ReadString(kSection, "Language", kDefaultLanguage);
}

Result AppSettings::SetLanguage(std::string_view language) {
    if (Result written = m_file->WriteString(kSection, "Language", language); !written) {
        return written;
    }
    if (OnLanguageChanged) {
        OnLanguageChanged();
    }
    return Result::Success();
}

std::uint16_t AppSettings::ResponseTimeout() const {
    return static_cast<std::uint16_t>(
        m_file->ReadInteger(kSection, "ResponseTimeout", kDefaultResponseTimeout));
}

Result AppSettings::SetResponseTimeout(std::uint16_t seconds) {
    return m_file->WriteInteger(kSection, "ResponseTimeout", seconds);
}

std::string AppSettings::LocalRadioName() const {
    return m_file->ReadString(kSection, "LocalRadioName", "");
}

Result AppSettings::SetLocalRadioName(std::string_view name) {
    return m_file->WriteString(kSection, "LocalRadioName", name);
}

AppSettings::SenderValues AppSettings::ReadSenderValues(std::string_view computerName) const {
    SenderValues values;
    values.RadioName = LocalRadioName();
    if (values.RadioName.empty()) {
        values.RadioName = std::string(computerName);
    }
    values.ConnectTimeOutMs = std::uint32_t{ConnectTimeout()} * 1000;
    values.MaxConnections = MaxConnections();
    values.SleepIntervalMs = std::uint32_t{IdleTimeout()} * 1000;
    values.ResponseTimeOutMs = std::uint32_t{ResponseTimeout()} * 1000;
    return values;
}

const std::vector<AppSettings::KeyInfo>& AppSettings::Keys() {
    static const std::vector<KeyInfo> kKeys{
        {"ConnectTimeout", false, kConnectTimeoutBounds},
        {"IdleTimeout", false, kIdleTimeoutBounds},
        {"MaxConnections", false, kMaxConnectionsBounds},
        {"RejectedTimeout", false, kRejectedTimeoutBounds},
        {"Language", true, {0, 0}},
        {"LocalRadioName", true, {0, 0}},
        // Last, so that the lines of the settings above keep their places.
        {"ResponseTimeout", false, kResponseTimeoutBounds},
    };
    return kKeys;
}

bool AppSettings::ValueText(std::string_view key, std::string& value) const {
    if (EqualsFolded(key, "ConnectTimeout")) {
        value = std::to_string(ConnectTimeout());
    } else if (EqualsFolded(key, "IdleTimeout")) {
        value = std::to_string(IdleTimeout());
    } else if (EqualsFolded(key, "MaxConnections")) {
        value = std::to_string(MaxConnections());
    } else if (EqualsFolded(key, "RejectedTimeout")) {
        value = std::to_string(RejectedTimeout());
    } else if (EqualsFolded(key, "Language")) {
        value = Language();
    } else if (EqualsFolded(key, "LocalRadioName")) {
        value = LocalRadioName();
    } else if (EqualsFolded(key, "ResponseTimeout")) {
        value = std::to_string(ResponseTimeout());
    } else {
        return false;
    }
    return true;
}

Result AppSettings::SetValueText(std::string_view key, std::string_view text) {
    const KeyInfo* info = nullptr;
    for (const KeyInfo& candidate : Keys()) {
        if (EqualsFolded(candidate.Key, key)) {
            info = &candidate;
        }
    }
    if (info == nullptr) {
        return Result::Failure("unknown setting \"" + std::string(key) + "\"");
    }
    if (info->IsText) {
        if (HasControl(text) || !IsValidUtf8(text)) {
            return Result::Failure(std::string(info->Key) + " must be one line of UTF-8 text");
        }
        if (info->Key == "Language") {
            if (text.empty()) {
                return Result::Failure("Language must name a language");
            }
            return SetLanguage(text);
        } else {
            if (text.size() > kMaxLocalRadioNameBytes) {
                return Result::Failure(
                    "LocalRadioName must be at most " + std::to_string(kMaxLocalRadioNameBytes) +
                    " bytes of UTF-8 (this one has " + std::to_string(text.size()) + ")");
            }
            return SetLocalRadioName(text);
        }
    } else {
        int value = 0;
        const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (failure != std::errc() || end != text.data() + text.size() || text.empty() ||
            value < info->Range.Min || value > info->Range.Max) {
            return Result::Failure(std::string(info->Key) + " must be a whole number from " +
                                   std::to_string(info->Range.Min) + " to " +
                                   std::to_string(info->Range.Max));
        }
        if (info->Key == "ConnectTimeout") {
            return SetConnectTimeout(static_cast<std::uint8_t>(value));
        } else if (info->Key == "IdleTimeout") {
            return SetIdleTimeout(static_cast<std::uint16_t>(value));
        } else if (info->Key == "MaxConnections") {
            return SetMaxConnections(static_cast<std::uint8_t>(value));
        } else if (info->Key == "ResponseTimeout") {
            return SetResponseTimeout(static_cast<std::uint16_t>(value));
        } else {
            return SetRejectedTimeout(static_cast<std::uint8_t>(value));
        }
    }
}

std::string ComputerName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

}  // namespace kavri
