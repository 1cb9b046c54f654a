#pragma once

#include <string>
#include <string_view>

#include "app/CampaignEditor.h"

namespace kavri {

// The file-based campaign editor without its window: a campaign that pushes one
// file of the operator's choice. Values().FileName is the file name field: the
// name under which the file is kept in the campaign folder, and so the name
// devices receive. The chosen source is copied (never referenced), so later
// changes to it do not reach the campaign.
//
// Checks at OK, after the name checks: the file name field is not empty
// ("FileNameRequired") and can be a file name in the campaign folder, which
// rules out the campaign's own "settings.dat", "accepted.dat" and
// "rejected.dat" ("FileNameInvalid"); a file has been given to this campaign at
// some time ("SelectFile"); a chosen source is a readable regular file
// ("SourceFileUnreadable"); a rename does not land on another file and finds
// the stored file ("FileNameInvalid").
//
// Placing the content: with no stored file, the source is copied to the field's
// name; with a stored file and a new source, the source is copied to the
// field's name first and the old file deleted after, so a copy that fails
// leaves the campaign with its old file; with a stored file and no new source,
// the stored file is renamed to the field's name. Copies and renames replace
// the target in one step. Failures are reported ("CampaignSaveFailed").
//
// Lives on the main thread for one editor use; throws only std::bad_alloc.
class FileCampaignEditor final : public CampaignEditor {
public:
    FileCampaignEditor(CampaignStore& store, const DateTimeClock& clock, TextLookup texts = {});

    // A file picked in the chooser or dropped on the campaign list: remembers
    // path as the source and puts its name (after the last '/') into the file
    // name field.
    void ChooseSourceFile(std::string_view path);
    // The chosen source path; empty until a file is chosen.
    const std::string& SourcePath() const { return m_sourcePath; }
    // "FileName" as stored when the campaign was loaded; empty for a new one.
    const std::string& StoredFileName() const { return m_storedFileName; }

private:
    Result CheckOwn() override;
    void LoadOwn(const CampaignRecord& stored) override;
    Result PlaceContent(const std::string& folder) override;
    void AppendOwnEntries(CampaignRecord::Entries& entries) const override;

    std::string m_sourcePath;
    std::string m_storedFileName;
};

}  // namespace kavri
