#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

#include <stdlib.h>

#include "app/DateTime.h"
#include "app/Result.h"

namespace kavri::test {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes. Path() ends in a separator.
class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kavri-app-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot create a temporary folder";
        }
        m_path = pattern + "/";
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

inline std::string Slurp(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error) {
        return "<missing>";
    }
    std::string bytes(size, '\0');
    std::ifstream in(path, std::ios::binary);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

inline void Spill(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Every entry below root (relative path -> content, "<folder>" or
// "<link>target"), links not followed, so two snapshots show any change.
inline std::map<std::string, std::string> Tree(const std::string& root) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).string();
        if (entry.is_symlink()) {
            tree[relative] = "<link>" + fs::read_symlink(entry.path()).string();
        } else if (entry.is_directory()) {
            tree[relative] = "<folder>";
        } else {
            tree[relative] = Slurp(entry.path().string());
        }
    }
    return tree;
}

inline TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    const std::optional<TDateTime> value = TDateTime::FromParts({y, mo, d, h, mi, s, ms});
    EXPECT_TRUE(value.has_value());
    return value.value_or(TDateTime());
}

inline TDateTime TimeOfDay(int h, int mi, int s, int ms = 0) {
    const std::optional<TDateTime> value = TDateTime::FromTime(h, mi, s, ms);
    EXPECT_TRUE(value.has_value());
    return value.value_or(TDateTime());
}

// A result as the tests check it: true when done, its message in error.
inline bool Done(const Result& result, std::string& error) {
    error = result.Message;
    return result.Ok;
}

}  // namespace kavri::test
