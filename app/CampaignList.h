#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/Result.h"

namespace kavri {

// `Campaigns`: the ordered list of campaign folder names (each the display name
// upper-cased), kept in the data folder's "campaigns.dat", one name per line
// in creation order. Its order is the order of the main window's list and of
// the choice of the campaign of each discovery cycle.
//
// Every change reads the file again first, so a change made meanwhile by
// another process (a `kavrictl campaign add` beside a running sender) is kept,
// and is written to the file at once, atomically, before Add or Remove
// returns; a change that cannot be written is undone in memory, so the list
// and the file never disagree and a crash never loses a campaign from the list
// (the file used to be written only at an orderly exit). Names are compared as
// DataFolder::SameCampaignName does, without regard to letter case.
//
// Loading takes LF or CR LF lines and skips a leading UTF-8 byte-order mark
// and empty lines. A line that cannot be one folder name
// (DataFolder::CheckName) names no campaign: a hand-edited "../x" would lead
// outside the data folder, and a line that is not UTF-8 (written under a legacy
// 8-bit code page) is no name this program can show or match. Such lines are
// reported by SkippedLines() and kept byte for byte in their places when the
// file is written again, never dropped. A missing file is an empty list. A
// file that exists but cannot be read (or is larger than kMaxFileSize) is an
// empty list with LoadError() set, and is never written over: every change is
// refused with the reason, so the campaigns it lists are not lost to a list of
// one.
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

    // Reads the file again, replacing what was read before (Names(),
    // SkippedLines(), LoadError()).
    void Reload();

    // Index of the first name equal to name without regard to case, or -1.
    int IndexOf(std::string_view name) const;
    bool Contains(std::string_view name) const { return IndexOf(name) >= 0; }

    // Reads the file again, appends name as it is given and writes the file.
    // False, with the list as read and error set, for a name that cannot be a
    // folder name, a name already in the list, a file that cannot be read, or
    // a write that fails.
    [[nodiscard]] bool Add(std::string_view name, std::string& error);
    // Reads the file again, removes the first name equal to name without
    // regard to case and writes the file. Refused, with the list as read,
    // when the name is not in the list, the file cannot be read, or
    // the write fails.
    Result Remove(std::string_view name);
    // Writes the list as it is (the orderly exit does so once more). Refused
    // while LoadError() is set.
    Result Save() const;

private:
    // One line of the file as read: a campaign name, or a line kept as it is.
    struct Line {
        std::string Text;
        bool IsName = false;
    };

    void Rebuild();

    std::string m_path;
    // Every line in file order; Names() and SkippedLines() are views of it.
    std::vector<Line> m_lines;
    std::vector<std::string> m_names;
    // m_names upper-cased, for IndexOf.
    std::vector<std::string> m_upperNames;
    std::vector<std::string> m_skipped;
    std::string m_loadError;
};

}  // namespace kavri
