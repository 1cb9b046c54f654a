#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/Result.h"

namespace kavri {

class IniFile;

// The application settings: "settings.dat" in the data folder, section
// "SETTINGS". One reader and one writer per key; every read goes to the file
// (through the INI store's cache), so a value written is seen by the next read,
// and the sender reads them afresh at each start.
//
// Integers are held in 8 or 16 bits; a stored value wider than that keeps its
// low bits when read (so "MaxConnections=256" reads as 0, which the sender then
// refuses at start). The bounds below are those the settings dialog and
// kavrictl enforce; the writers store whatever fits the held type.
//
// Lives on the main thread; the main window keeps one open for the whole run.
// Throws only std::bad_alloc; a write that fails says why in its
// result.
class AppSettings {
public:
    static constexpr std::string_view kSection = "SETTINGS";

    struct Bounds {
        int Min;
        int Max;
        int Clamp(int value) const { return value < Min ? Min : (value > Max ? Max : value); }
    };
    // Seconds; default 20.
    static constexpr std::uint8_t kDefaultConnectTimeout = 20;
    static constexpr Bounds kConnectTimeoutBounds{5, 60};
    // Seconds; default 5.
    static constexpr std::uint16_t kDefaultIdleTimeout = 5;
    static constexpr Bounds kIdleTimeoutBounds{1, 300};
    // Links at once; default 6.
    static constexpr std::uint8_t kDefaultMaxConnections = 6;
    static constexpr Bounds kMaxConnectionsBounds{1, 50};
    // Hours a refusal keeps a device away, 0 for good; default 0.
    static constexpr std::uint8_t kDefaultRejectedTimeout = 0;
    static constexpr Bounds kRejectedTimeoutBounds{0, 168};
    // Seconds an OBEX request of the sender waits for the device's answer;
    // default 60.
    static constexpr std::uint16_t kDefaultResponseTimeout = 60;
    static constexpr Bounds kResponseTimeoutBounds{10, 600};
    // The radio name is at most this many bytes of UTF-8 (the Bluetooth
    // local name field).
    static constexpr std::size_t kMaxLocalRadioNameBytes = 248;
    // A section name of the language file.
    static constexpr std::string_view kDefaultLanguage = "English";

    // path is usually DataFolder::SettingsFile().
    explicit AppSettings(std::string path);
    ~AppSettings();
    AppSettings(const AppSettings&) = delete;
    AppSettings& operator=(const AppSettings&) = delete;

    std::uint8_t ConnectTimeout() const;
    Result SetConnectTimeout(std::uint8_t seconds);
    std::uint16_t IdleTimeout() const;
    Result SetIdleTimeout(std::uint16_t seconds);
    std::uint8_t MaxConnections() const;
    Result SetMaxConnections(std::uint8_t count);
    std::uint8_t RejectedTimeout() const;
    Result SetRejectedTimeout(std::uint8_t hours);
    std::string Language() const;
    // Runs OnLanguageChanged after a successful write.
    Result SetLanguage(std::string_view language);
    std::uint16_t ResponseTimeout() const;
    Result SetResponseTimeout(std::uint16_t seconds);
    // Empty means the computer's network name.
    std::string LocalRadioName() const;
    Result SetLocalRadioName(std::string_view name);

    // The main window re-applies its texts here.
    std::function<void()> OnLanguageChanged;

    // What the sender is given at start, read now.
    struct SenderValues {
        std::string RadioName;  // LocalRadioName, or computerName when empty
        std::uint32_t ConnectTimeOutMs;
        std::uint8_t MaxConnections;
        std::uint32_t SleepIntervalMs;
        std::uint32_t ResponseTimeOutMs;
    };
    SenderValues ReadSenderValues(std::string_view computerName) const;

    // Key-based access for kavrictl. Keys are matched without regard to case.
    struct KeyInfo {
        std::string_view Key;
        bool IsText;
        Bounds Range;  // for integers
    };
    static const std::vector<KeyInfo>& Keys();
    // The value as text, as the reader gives it; false for an unknown key.
    bool ValueText(std::string_view key, std::string& value) const;
    // Parses text for the key, refusing text that is not a decimal integer
    // within the key's bounds, and a LocalRadioName longer than
    // kMaxLocalRadioNameBytes, and writes it; refused with why otherwise.
    Result SetValueText(std::string_view key, std::string_view text);

    const std::string& FileName() const;

private:
    std::unique_ptr<IniFile> m_file;
};

// The computer's network name (gethostname), empty when it cannot be had.
std::string ComputerName();

}  // namespace kavri
