#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kavri {

// `Campaigns`: the ordered list of campaign folder names (each the display name
// upper-cased), kept in the data folder's "campaigns.dat", one name per line
// in creation order. Its order is the order of the main window's list and of
// the choice of the campaign of each discovery cycle.
//
// Every change is written to the file at once, atomically, before Add or
// Remove returns; a change that cannot be written is undone in memory, so the
// list and the file never disagree and a crash never loses a campaign from the
// list (the file used to be written only at an orderly exit). Names are
// compared without regard to ASCII letter case, like the campaign folders.
//
// Loading takes LF or CR LF lines and skips lines that are empty or that cannot
// be one folder name (DataFolder::NameRefusal), such as a hand-edited "../x":
// those never name a campaign and would lead outside the data folder. A missing
// file is an empty list. A file that exists but cannot be read (or is larger
// than kMaxFileSize) is never written over: every change is refused with the
// reason, so the campaigns it lists are not lost to a list of one.
//
// Lives on the main thread; throws only std::bad_alloc.
class CampaignList {
public:
    static constexpr std::size_t kMaxFileSize = std::size_t{16} << 20;

    // Reads path (usually DataFolder::CampaignsFile()).
    explicit CampaignList(std::string path);

    const std::string& FileName() const { return m_path; }
    const std::vector<std::string>& Names() const { return m_names; }
    std::size_t Size() const { return m_names.size(); }
    // Lines that loading skipped, as they were (for a warning).
    const std::vector<std::string>& SkippedLines() const { return m_skipped; }
    // Why the file could not be read (other than not existing); empty if read.
    const std::string& LoadError() const { return m_loadError; }

    // Index of the first name equal to name without regard to case, or -1.
    int IndexOf(std::string_view name) const;
    bool Contains(std::string_view name) const { return IndexOf(name) >= 0; }

    // Appends name as it is given and writes the file. False, with the list
    // unchanged and error set, for a name that cannot be a folder name, a name
    // already in the list, or a write that fails.
    [[nodiscard]] bool Add(std::string_view name, std::string& error);
    // Removes the first name equal to name without regard to case and writes
    // the file. False, with the list unchanged and error set, when the name is
    // not in the list or the write fails.
    [[nodiscard]] bool Remove(std::string_view name, std::string& error);
    // Writes the list as it is (the orderly exit does so once more). Refused
    // while LoadError() is set.
    [[nodiscard]] bool Save(std::string& error) const;

private:
    void Load();

    std::string m_path;
    std::vector<std::string> m_names;
    std::vector<std::string> m_skipped;
    std::string m_loadError;
};

}  // namespace kavri
