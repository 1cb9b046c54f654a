#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "app/CampaignList.h"
#include "app/CampaignRecord.h"
#include "app/DataFolder.h"
#include "app/DateFormat.h"
#include "app/Result.h"

namespace kavri {

class IniFile;

// The campaigns in the data folder: the campaign list `Campaigns`, the campaign
// folders and their records, and deleting a campaign. The main window holds one
// for the whole run; the campaign list view, the editors and the per-device
// decisions reach campaigns through it.
//
// Lives on the main thread. Owns the campaign list; records are opened for one
// operation each. Throws only std::bad_alloc; failures come back as false with
// a one-line reason.
class CampaignStore {
public:
    // Loads the campaign list from folder's "campaigns.dat". Records are read
    // and written with format's date and time forms.
    explicit CampaignStore(DataFolder folder, DateFormat format = DateFormat::FromLocale());

    const DataFolder& Folder() const { return m_folder; }
    const DateFormat& Format() const { return m_format; }
    CampaignList& Campaigns() { return m_campaigns; }
    const CampaignList& Campaigns() const { return m_campaigns; }

    // DataFolder + FolderNameOf(name) + separator.
    std::string CampaignFolder(std::string_view name) const;
    // The folder name of the campaign named name (display or folder name) as
    // it is on disk: the upper-cased name, or for a campaign of an earlier
    // version its line in the campaign list or its name upper-cased in ASCII
    // only (DataFolder::ExistingCampaignFolderName).
    std::string FolderNameOf(std::string_view name) const;
    // The record file of the campaign named name (display or folder name).
    std::unique_ptr<IniFile> OpenRecord(std::string_view name) const;
    // The record, with every default for what is missing. A name that cannot be
    // a folder name gives the defaults without touching the disk.
    CampaignRecord ReadRecord(std::string_view name) const;

    // Deletes the campaign named name: removes it from the campaign list (the
    // file is rewritten at once), then deletes every entry directly in its
    // folder except subfolders, then the folder, which stays when something
    // could not be deleted. The list goes first, so a crash half-way leaves a
    // stray folder rather than a listed campaign without its record. Deletion
    // stays inside the data folder: a name that cannot be a folder name is
    // refused, and a campaign folder that is a symbolic link has the link
    // removed, never what it points to. Refused, with nothing deleted, when the
    // name is refused, is not in the list, or the list cannot be written.
    Result DeleteCampaign(std::string_view name);

private:
    DataFolder m_folder;
    DateFormat m_format;
    CampaignList m_campaigns;
};

// Deletes every entry directly in the folder named name inside parent (not
// descending into subfolders; symbolic links are removed as links), then the
// folder itself, which stays when it is not empty afterwards. A name that is
// itself a symbolic link has only the link removed. For the campaign folders;
// name must already have passed DataFolder::CheckName. True when the folder is
// gone (or was never there).
bool RemoveFlatFolder(const std::string& parent, const std::string& name);

}  // namespace kavri
