#include "app/CampaignEditor.h"

#include "app/CampaignStore.h"
#include "app/DataFolder.h"
#include "app/DateTimeClock.h"
#include "app/DeviceTypeFilter.h"
#include "app/IniFile.h"

#include <cerrno>
#include <system_error>

#include <sys/stat.h>

namespace kavri {

CampaignEditor::CampaignEditor(CampaignStore& store, const DateTimeClock& clock, TextLookup texts,
                               int type)
    : m_store(store), m_texts(std::move(texts)), m_type(type) {
    const TDateTime now = clock.Now();
    m_values.Type = type;
    m_values.Scheduling = kSchedulingContinuous;
    m_values.StartDateTime = now;
    m_values.EndDateTime = now;
    m_values.StartTime = now.TimePart();
    m_values.EndTime = now.TimePart();
    if (const int day = now.DayOfWeek(); day >= 1 && day <= 7) {
        m_values.Days[static_cast<std::size_t>(day - 1)] = true;
    }
    m_values.Enabled = true;
}

CampaignEditor::~CampaignEditor() = default;

Result CampaignEditor::Refuse(std::string_view key, std::string_view reason) const {
    std::string message = LookUpText(m_texts, key);
    if (!reason.empty()) {
        message.append(": ").append(reason);
    }
    return Result::Failure(std::move(message), std::string(key));
}

Result CampaignEditor::RefuseControlCharacters(std::string_view key, std::string_view what,
                                               std::string_view text) const {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // C1 controls are U+0080 to U+009F, encoded as C2 80 to C2 9F.
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        const bool c1 = c == 0xC2 && next >= 0x80 && next <= 0x9F;
        if (c < 0x20 || c == 0x7F || c1) {
            return Refuse(key, std::string(what) + " holds a control character");
        }
    }
    return Result::Success();
}

Result CampaignEditor::AfterRecord(const std::string&) {
    return Result::Success();
}

Result CampaignEditor::Load(std::string_view name) {
    if (Result named = DataFolder::CheckName(name); !named) {
        return Refuse("CampaignNameInvalid", named.Message);
    }
    if (!m_store.Campaigns().Contains(DataFolder::CampaignFolderName(name))) {
        return Refuse("CampaignNotFound", name);
    }
    const CampaignRecord stored = m_store.ReadRecord(name);
    m_values.Name = std::string(name);
    m_loadedName = std::string(name);
    m_values.Scheduling = stored.Scheduling;
    m_values.StartDateTime = stored.StartDateTime;
    m_values.EndDateTime = stored.EndDateTime;
    m_values.StartTime = stored.StartTime;
    m_values.EndTime = stored.EndTime;
    m_values.Days = stored.Days;
    m_values.Enabled = stored.Enabled;
    // In the stored form's names and order; names this version does not know
    // are left out, as they count for nothing when sending.
    m_values.DeviceTypes = DeviceTypeFilter::FromStored(stored.DeviceTypes).Text();
    LoadOwn(stored);
    m_editing = true;
    return Result::Success();
}

void CampaignEditor::DailyTimesChanged() {
    if (m_values.EndTime.TimePart() < m_values.StartTime.TimePart()) {
        m_values.EndTime = m_values.StartTime.TimePart();
    }
}

void CampaignEditor::WindowDatesChanged() {
    const TDateTime startDate = m_values.StartDateTime.DatePart();
    if (m_values.EndDateTime.DatePart() < startDate) {
        m_values.EndDateTime = TDateTime::Combine(startDate, m_values.EndDateTime.TimePart());
    }
    WindowTimesChanged();
}

void CampaignEditor::WindowTimesChanged() {
    if (m_values.EndDateTime.DatePart() == m_values.StartDateTime.DatePart() &&
        m_values.EndDateTime.TimePart() < m_values.StartDateTime.TimePart()) {
        m_values.EndDateTime = m_values.StartDateTime;
    }
}

Result CampaignEditor::Save() {
    const std::string name = CampaignName();
    if (name.empty()) {
        return Refuse("CampaignNameRequired");
    }
    // Unlike the name check alone, this keeps a name such as "../x" from making,
    // and later deleting, files outside the data folder.
    if (Result named = DataFolder::CheckName(name); !named) {
        return Refuse("CampaignNameInvalid", named.Message);
    }
    if (Result own = CheckOwn(); !own.Ok) {
        return own;
    }
    DeviceTypeFilter deviceTypes;
    if (Result types = DeviceTypeFilter::Parse(m_values.DeviceTypes, deviceTypes); !types) {
        return Refuse("DeviceTypesInvalid", types.Message);
    }
    const std::string folderName = DataFolder::CampaignFolderName(name);
    // Upper-casing may lengthen a name ("ß" becomes "SS").
    if (Result named = DataFolder::CheckName(folderName); !named) {
        return Refuse("CampaignNameInvalid", "in upper case, " + named.Message);
    }
    const std::string folder = m_store.CampaignFolder(name);
    const bool listed = m_store.Campaigns().Contains(folderName);
    if (!m_editing && listed) {
        return Refuse("CampaignExists");
    }
    if (m_editing && !listed) {
        // Deleted since it was loaded.
        return Refuse("CampaignNotFound", name);
    }

    // Only a folder of the new name can be made here (an earlier version's
    // folder of this campaign already exists), so folderName names it.
    bool madeFolder = false;
    if (!m_editing) {
        const std::string path = folder.substr(0, folder.size() - 1);
        if (::mkdir(path.c_str(), 0777) == 0) {
            madeFolder = true;
        } else if (errno != EEXIST) {
            return Refuse("CampaignSaveFailed",
                          "cannot create " + path + ": " + std::generic_category().message(errno));
        }
        // A folder left from an earlier campaign of that name is taken over
        // with its files; anything else in its place (a link, a file) is not
        // written through.
        struct stat st {};
        if (!madeFolder && (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
            return Refuse("CampaignSaveFailed", path + " exists and is not a folder");
        }
    }
    // Undoes a new campaign's folder when a later step fails.
    auto fail = [&](Result result) {
        if (madeFolder) {
            (void)RemoveFlatFolder(m_store.Folder().Path(), folderName);
        }
        return result;
    };

    if (Result placed = PlaceContent(folder); !placed.Ok) {
        return fail(std::move(placed));
    }
    std::unique_ptr<IniFile> record = m_store.OpenRecord(name);
    CampaignRecord written = m_values;
    written.Name = name;
    written.Type = m_type;
    written.DeviceTypes = deviceTypes.Text();
    CampaignRecord::Entries entries = written.CommonEntries(*record);
    AppendOwnEntries(entries);
    if (Result recorded = CampaignRecord::Write(*record, entries); !recorded) {
        return fail(Refuse("CampaignSaveFailed", recorded.Message));
    }
    if (Result after = AfterRecord(folder); !after.Ok) {
        return fail(std::move(after));
    }
    if (!m_editing) {
        if (Result added = m_store.Campaigns().Add(folderName); !added) {
            return fail(Refuse("CampaignSaveFailed", added.Message));
        }
    }
    return Result::Success();
}

}  // namespace kavri
