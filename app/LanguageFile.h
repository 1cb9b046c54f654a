#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/TextLookup.h"

namespace kavri {

class IniFile;

// The language file "kavri.lang": one INI section per language, named as the
// settings list shows it, each key a user-interface text. Every lookup goes to
// the file through the INI store's cache, which checks the file's size and
// times on each read, so an edit to the file shows in the next lookup.
//
// The current language comes from a function asked on every lookup (usually
// AppSettings::Language), so writing the setting takes effect at once.
//
// Belongs to one thread at a time (the main thread in the application). Owns
// its INI reader. Throws only std::bad_alloc.
class LanguageFile {
public:
    static constexpr std::string_view kFileName = "kavri.lang";

    // Where the language file is: explicitPath when it is not empty (whether
    // it exists or not); else the first existing of "kavri.lang" beside the
    // running program, "../share/kavri/kavri.lang" from the program's folder,
    // and sourceTree + "/lang/kavri.lang" when sourceTree is not empty. With
    // none of them present, the path beside the program, so every lookup
    // gives kUndefinedText until such a file appears.
    static std::string Locate(std::string_view explicitPath = {}, std::string_view sourceTree = {});

    LanguageFile(std::string path, std::function<std::string()> currentLanguage);
    ~LanguageFile();
    LanguageFile(const LanguageFile&) = delete;
    LanguageFile& operator=(const LanguageFile&) = delete;

    // The text of key in the current language's section, or kUndefinedText
    // when the file, the section or the key is missing.
    std::string GetLanguageString(std::string_view key) const;
    // Why key reads as kUndefinedText, for an operator: the file is missing,
    // it has no section for the current language, or the section lacks the
    // key; each message names the file. Empty when the key has a text.
    std::string MissingTextReason(std::string_view key) const;
    // The section names (languages that hold at least one text), in file
    // order; empty without a file.
    std::vector<std::string> ListLanguages() const;
    // The section name as the file spells it when language names one of them
    // (letter case aside); empty otherwise.
    std::string FindLanguage(std::string_view language) const;
    // GetLanguageString as a TextLookup for the editors and lists. The lookup
    // refers to this object, which must outlive it.
    TextLookup Lookup() const;

    const std::string& FileName() const;

private:
    std::unique_ptr<IniFile> m_file;
    std::function<std::string()> m_currentLanguage;
};

}  // namespace kavri
