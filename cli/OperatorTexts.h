#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/TextLookup.h"

namespace kavri {
class AppSettings;
class LanguageFile;
}  // namespace kavri

namespace kavri::cli {

// The texts kavrictl shows an operator: the language file's, in the language
// that the data folder's settings name (`kavrictl language set`), so that the
// tool speaks as the program's windows do. The language file is the one given
// (--language-file), else the one found beside the program, in the installed
// share folder or in the source tree. A text the file cannot give (no file, no
// section for the language, no such key) reads "UNDEFINED" in its place, as in
// the windows, and everything else works. The first time that happens, one
// warning line on the warnings stream says which file and which language or
// key is missing, so an operator who sees "UNDEFINED" knows why; later misses
// stay silent, so a command warns at most once.
//
// Lives on the thread that runs a command; owns its settings and language
// readers. Throws only std::bad_alloc.
class OperatorTexts {
public:
    OperatorTexts(const std::string& dataFolder, const std::string& languageFile,
                  std::FILE* warnings = stderr);
    ~OperatorTexts();
    OperatorTexts(const OperatorTexts&) = delete;
    OperatorTexts& operator=(const OperatorTexts&) = delete;

    // The text of key in the current language.
    std::string Text(std::string_view key) const;
    // Text as a lookup for the editors and lists; refers to this object.
    TextLookup Lookup() const;
    // The texts of keys in order, for a line of column titles.
    std::vector<std::string> Titles(std::span<const std::string_view> keys) const;

private:
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<LanguageFile> m_languages;
    std::FILE* m_warnings;
    mutable bool m_warned = false;
};

// The column titles of kavrictl's listings, as language keys.
inline constexpr std::array<std::string_view, 4> kCampaignListTitles = {
    "Campaign_Name", "Main_Campaign_Type", "Enabled", "Scheduling"};
inline constexpr std::array<std::string_view, 3> kBlackListTitles = {"Device_Address",
                                                                     "Device_Name", "Device_Type"};
inline constexpr std::array<std::string_view, 5> kRejectedTitles = {
    "Campaign_Name", "Device_Address", "Device_Name", "Device_Type", "DateTime"};
inline constexpr std::array<std::string_view, 6> kAcceptedTitles = {
    "Campaign_Name", "Device_Address", "Device_Name",
    "Device_Type",   "DateTime",       "CheckCoupon_Coupon"};
inline constexpr std::array<std::string_view, 4> kStatisticsTitles = {
    "Campaign_Name", "Statistics_Accepted", "Statistics_Rejected", "Statistics_Total"};
inline constexpr std::array<std::string_view, 4> kCouponCheckTitles = {
    "Campaign_Name", "Device_Address", "Device_Name", "DateTime"};

// One line of titles: the fields escaped with EscapeField and joined by tabs,
// with the line end.
std::string TitleLine(const std::vector<std::string>& titles);

}  // namespace kavri::cli
