#include "app/LanguageFile.h"

#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "app/IniFile.h"

namespace kavri {
namespace {

namespace fs = std::filesystem;

bool IsFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// The folder of the running program; empty when /proc cannot tell.
fs::path ProgramFolder() {
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : program.parent_path();
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto fold = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
        };
        if (fold(a[i]) != fold(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string LanguageFile::Locate(std::string_view explicitPath, std::string_view sourceTree) {
    if (!explicitPath.empty()) {
        return std::string(explicitPath);
    }
    const fs::path folder = ProgramFolder();
    const fs::path beside = folder / kFileName;
    std::vector<fs::path> candidates;
    if (!folder.empty()) {
        candidates.push_back(beside);
        candidates.push_back(folder / ".." / "share" / "kavri" / kFileName);
    }
    if (!sourceTree.empty()) {
        candidates.push_back(fs::path(sourceTree) / "lang" / kFileName);
    }
    for (const fs::path& candidate : candidates) {
        if (IsFile(candidate)) {
            return candidate.lexically_normal().string();
        }
    }
    return folder.empty() ? std::string(kFileName) : beside.string();
}

LanguageFile::LanguageFile(std::string path, std::function<std::string()> currentLanguage)
    : m_file(std::make_unique<IniFile>(std::move(path))),
      m_currentLanguage(std::move(currentLanguage)) {}

LanguageFile::~LanguageFile() = default;

std::string LanguageFile::GetLanguageString(std::string_view key) const {
    const std::string language = m_currentLanguage ? m_currentLanguage() : std::string();
    if (language.empty()) {
        return std::string(kUndefinedText);
    }
    return m_file->ReadString(language, key, kUndefinedText);
}

std::string LanguageFile::MissingTextReason(std::string_view key) const {
    const std::string& path = m_file->FileName();
    std::error_code error;
    if (!fs::exists(path, error)) {
        return "there is no language file at " + path;
    }
    if (!IsFile(path) || !std::ifstream(path, std::ios::binary).is_open()) {
        return "the language file " + path + " cannot be read";
    }
    const std::string language = m_currentLanguage ? m_currentLanguage() : std::string();
    if (language.empty() || !m_file->SectionExists(language)) {
        return "the language file " + path + " has no language \"" + language + "\"";
    }
    if (!m_file->ValueExists(language, key)) {
        return "the language file " + path + " has no text \"" + std::string(key) + "\" in \"" +
               language + "\"";
    }
    return {};
}

std::vector<std::string> LanguageFile::ListLanguages() const {
    return m_file->ReadSections();
}

std::string LanguageFile::FindLanguage(std::string_view language) const {
    for (std::string& name : ListLanguages()) {
        if (SameName(name, language)) {
            return std::move(name);
        }
    }
    return {};
}

TextLookup LanguageFile::Lookup() const {
    return [this](std::string_view key) { return GetLanguageString(key); };
}

const std::string& LanguageFile::FileName() const {
    return m_file->FileName();
}

}  // namespace kavri
