// INI files as they lie in a data folder, written by anyone: reading every
// section and value, then a write, a key removal and a section removal on the
// same file, each checked against what it may change. The input is
// SECTION NUL KEY NUL VALUE NUL FILE-TEXT.
#include "FuzzCheck.h"
#include "WorkFolder.h"

#include "app/DateFormat.h"
#include "app/IniFile.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace kavri;

namespace {

namespace fs = std::filesystem;

using Values = std::vector<std::pair<std::string, std::string>>;
using Contents = std::vector<std::pair<std::string, Values>>;

const fuzz::WorkFolder& Folder() {
    static const fuzz::WorkFolder folder("ini");
    return folder;
}

std::string FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

char Fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names match without regard to ASCII letter case, trimmed of blanks.
bool SameName(std::string_view a, std::string_view b) {
    const auto trim = [](std::string_view text) {
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
            text.remove_prefix(1);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
            text.remove_suffix(1);
        return text;
    };
    a = trim(a);
    b = trim(b);
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i]))
            return false;
    }
    return true;
}

bool HasControl(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return true;
    }
    return false;
}

// Every section with its values, checking the reads agree with each other.
Contents ReadAll(const IniFile& ini) {
    Contents contents;
    for (const std::string& section : ini.ReadSections()) {
        fuzz::Check(ini.SectionExists(section), "a listed section exists");
        Values values = ini.ReadSectionValues(section);
        fuzz::Check(!values.empty(), "a section exists only with an entry");
        for (const auto& [key, value] : values) {
            fuzz::Check(ini.ValueExists(section, key), "a listed key exists");
            fuzz::Check(value.size() <= IniFile::kMaxValueLength, "values are capped");
            fuzz::Check(ini.ReadString(section, key, "") == value, "reads agree");
            ini.ReadInteger(section, key, 0);
            ini.ReadBool(section, key, false);
            ini.ReadDateTime(section, key, TDateTime());
            ini.ReadTime(section, key, TDateTime());
        }
        contents.emplace_back(section, std::move(values));
    }
    std::vector<std::string> viewed;
    ini.ReadSnapshot().ForEachSection(
        [&](const IniFile::SectionView& view) { viewed.emplace_back(view.Name()); });
    fuzz::Check(viewed.size() == contents.size(), "a snapshot lists the same sections");
    for (std::size_t i = 0; i < viewed.size(); ++i)
        fuzz::Check(viewed[i] == contents[i].first, "a snapshot lists them in the same order");
    return contents;
}

// The sections of before other than skip are in after, unchanged.
void CheckOthersKept(const Contents& before, const Contents& after, std::string_view skip,
                     const char* property) {
    std::map<std::string, const Values*> found;
    for (const auto& [section, values] : after)
        found.emplace(section, &values);
    for (const auto& [section, values] : before) {
        if (SameName(section, skip))
            continue;
        const auto it = found.find(section);
        fuzz::Check(it != found.end() && *it->second == values, property);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    const std::string section(input.Field('\0'));
    const std::string key(input.Field('\0'));
    const std::string value(input.Field('\0'));
    const std::string_view text = input.Rest();

    Folder().Empty();
    const fs::path path = Folder().Path() / "file.dat";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    // A cache of its own: each input is read afresh, whatever came before.
    IniFile ini(path.string(), DateFormat::Iso(), std::make_shared<IniFile::Cache>());
    const Contents before = ReadAll(ini);

    if (const Result write = ini.WriteString(section, key, value); !write) {
        fuzz::Check(!write.Message.empty(), "a refused write says why");
        fuzz::Check(FileBytes(path) == text, "a refused write leaves the file as it was");
        return 0;
    }
    const Contents written = ReadAll(ini);
    fuzz::Check(written.size() <= before.size() + 1, "a write adds at most its own section");
    CheckOthersKept(before, written, section, "a write changes no other section");
    fuzz::Check(ini.ValueExists(section, key), "a written value exists");
    const std::string readBack = ini.ReadString(section, key, "");
    fuzz::Check(!HasControl(readBack), "no control character is stored");
    const bool plain = !HasControl(value) && value.size() <= IniFile::kMaxValueLength &&
                       (value.empty() || (value.front() != ' ' && value.back() != ' '));
    fuzz::Check(!plain || readBack == value, "a plain value reads back as written");

    fuzz::Check(ini.DeleteKey(section, key).Ok, "a key is removed");
    fuzz::Check(!ini.ValueExists(section, key), "no other entry of a removed key comes to light");
    CheckOthersKept(written, ReadAll(ini), section, "removing a key changes no other section");

    const Contents remaining = ReadAll(ini);
    if (remaining.empty())
        return 0;
    const std::string erased = remaining.front().first;
    fuzz::Check(ini.EraseSection(erased).Ok, "a section is removed");
    fuzz::Check(!ini.SectionExists(erased), "no other section of a removed name comes to light");
    const Contents last = ReadAll(ini);
    fuzz::Check(last.size() + 1 == remaining.size(), "removing a section removes one");
    CheckOthersKept(remaining, last, erased, "removing a section changes no other");
    return 0;
}
