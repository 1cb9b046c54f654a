#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/TextLookup.h"

namespace kavri {

class AppSettings;
class LanguageFile;

// The texts an operator is shown: the language file's, in the language that
// the data folder's settings name, so that every front end speaks as the
// program's windows do. The language file is the one given, else the one
// found beside the program, in the installed share folder or in sourceTree
// (LanguageFile::Locate). A text the file cannot give (no file, no section
// for the language, no such key) reads "UNDEFINED" in its place, as in the
// windows, and everything else works. The first time that happens,
// onMissingText is told which file and which language or key is missing, so
// an operator who sees "UNDEFINED" can be told why; later misses stay silent.
// A data folder that cannot be opened gives the default language (the
// command that uses it reports the folder itself).
//
// Lives on one thread; owns its settings and language readers. Throws only
// std::bad_alloc.
class OperatorTexts {
public:
    using MissingTextReport = std::function<void(const std::string& reason)>;

    OperatorTexts(const std::string& dataFolder, const std::string& languageFile,
                  std::string_view sourceTree, MissingTextReport onMissingText);
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
    MissingTextReport m_onMissingText;
    mutable bool m_warned = false;
};

}  // namespace kavri
