#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/Result.h"

namespace kavri {

// The per-user data folder that holds the application settings, the campaign
// list, the black list and one folder per campaign. Its path always ends in a
// separator, so a file name is simply appended.
//
// Where it is: an explicitly given folder (kavrictl --data DIR); else
// $KAVRI_DATA_DIR; else $XDG_DATA_HOME/kavri/ (an XDG_DATA_HOME that is not
// absolute is ignored, as the XDG rules say); else ~/.local/share/kavri/.
// Open is for commands that write: missing folders on the way are created
// with mode 0700, and the folder must be writable. OpenExisting is for those
// that only read: it creates nothing, so a mistyped folder is reported rather
// than made, and a folder the user may only read serves them.
//
// Campaign folders are named after the campaign's display name upper-cased as
// Unicode text (UpperCase: "café" becomes "CAFÉ"), independent of the locale,
// and two names are one campaign when they upper-case alike ("café", "Café"
// and "CAFÉ"). Earlier versions upper-cased ASCII letters only ("CAFé"): such
// a folder is still found when no folder of the Unicode name exists.
//
// A value type: any thread, owns nothing but its path. Open throws
// std::runtime_error, with the path and the reason, when the folder cannot be
// found or made.
class DataFolder {
public:
    static constexpr std::string_view kSettingsFile = "settings.dat";
    static constexpr std::string_view kCampaignsFile = "campaigns.dat";
    static constexpr std::string_view kBlackListFile = "bl.dat";
    // Longest name of one folder entry, in bytes (NAME_MAX on Linux).
    static constexpr std::size_t kMaxNameBytes = 255;

    // Gives an environment variable's value, or nothing when it is unset.
    using Environment = std::function<std::optional<std::string>(std::string_view name)>;
    static std::optional<std::string> SystemEnvironment(std::string_view name);

    // The folder in use when none is given explicitly. Throws when neither the
    // variables nor the password database name a home folder.
    static std::string DefaultPath(const Environment& environment = SystemEnvironment);

    // Creates the folder as needed. An empty folder means DefaultPath(). A
    // relative folder is made absolute against the current working folder.
    static DataFolder Open(std::string_view folder = {},
                           const Environment& environment = SystemEnvironment);
    // The same folder as Open finds, for reading only: throws when it does not
    // exist or is not a folder; never creates one and does not ask for write
    // permission.
    static DataFolder OpenExisting(std::string_view folder = {},
                                   const Environment& environment = SystemEnvironment);

    // With a trailing separator.
    const std::string& Path() const { return m_path; }
    std::string SettingsFile() const { return m_path + std::string(kSettingsFile); }
    std::string CampaignsFile() const { return m_path + std::string(kCampaignsFile); }
    std::string BlackListFile() const { return m_path + std::string(kBlackListFile); }

    // Path() + ExistingCampaignFolderName(displayName) + separator. The name is
    // not checked here; callers that create or delete check it with
    // CheckName.
    std::string CampaignFolder(std::string_view displayName) const;
    // The campaign's folder name in this folder: the first of these that
    // exists, else the first: CampaignFolderName(displayName); listedName,
    // the campaign's line in the campaign list, when it is the same campaign
    // name (an earlier version wrote the folder name there); the name
    // upper-cased the earlier way, in ASCII letters only. Looks at the disk.
    std::string ExistingCampaignFolderName(std::string_view displayName,
                                           std::string_view listedName = {}) const;

    // The display name upper-cased as described above; also the line of a new
    // campaign in the campaign list.
    static std::string CampaignFolderName(std::string_view displayName);
    // The two names equal after CampaignFolderName, which is how campaign names
    // are compared without regard to letter case.
    static bool SameCampaignName(std::string_view a, std::string_view b);

    // Why name cannot be one entry directly inside a folder (a campaign folder
    // inside the data folder, a content file inside a campaign folder); empty
    // when it can. Refused: empty, "." and "..", a path separator ('/' or '\'),
    // control characters (C0, DEL and C1), malformed UTF-8, more than
    // kMaxNameBytes bytes, and blanks at either end (the record store trims
    // values, so such a name would not read back as written and its folder would
    // not be found again). Such names would otherwise reach outside the data
    // folder or make files that the rest of the program cannot find.
    static Result CheckName(std::string_view name);

private:
    explicit DataFolder(std::string path) : m_path(std::move(path)) {}

    std::string m_path;
};

}  // namespace kavri
