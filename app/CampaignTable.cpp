#include "app/CampaignTable.h"

#include "app/CampaignSchedule.h"
#include "app/CampaignStore.h"
#include "app/DateTimeClock.h"

namespace kavri {

CampaignTable::CampaignTable(const CampaignStore& store, const DateTimeClock& clock,
                             TextLookup texts)
    : m_store(store), m_clock(clock), m_texts(std::move(texts)) {}

std::string CampaignTable::Text(std::string_view key) const {
    return m_texts ? m_texts(key) : std::string(kUndefinedText);
}

std::string CampaignTable::ActiveCampaignFolder() const {
    return m_activeCampaign.empty() ? std::string() : m_store.CampaignFolder(m_activeCampaign);
}

void CampaignTable::RefreshCampaigns() {
    static constexpr std::string_view kSchedulingKeys[] = {"Continuous", "Time_Based",
                                                           "Day_Of_Weeek_Based"};
    static constexpr std::string_view kTypeKeys[] = {"FileBased", "MessageBased", "CouponBased"};

    std::vector<CampaignRow> rows;
    rows.reserve(m_store.Campaigns().Size());
    for (const std::string& folderName : m_store.Campaigns().Names()) {
        const CampaignRecord record = m_store.ReadRecord(folderName);
        CampaignRow row;
        row.FolderName = folderName;
        row.Name = record.Name.empty() ? std::string(kUndefinedText) : record.Name;
        row.Scheduling = record.Scheduling;
        row.SchedulingText = record.Scheduling >= 0 && record.Scheduling <= 2
                                 ? Text(kSchedulingKeys[record.Scheduling])
                                 : std::string(kUndefinedText);
        row.Type = record.Type;
        row.TypeText = record.Type >= 0 && record.Type <= 2 ? Text(kTypeKeys[record.Type])
                                                            : std::string(kUndefinedText);
        if (!record.Enabled) {
            row.State = csDisabled;
        } else {
            row.State = row.Name == m_activeCampaign ? csActive : csEnabled;
        }
        rows.push_back(std::move(row));
    }
    m_rows = std::move(rows);
}

void CampaignTable::ResetActiveMarks() {
    for (CampaignRow& row : m_rows) {
        if (row.State == csActive) {
            row.State = csEnabled;
        }
    }
}

bool CampaignTable::PassesAt(const CampaignRow& row) const {
    // The record is found again from the display name, which a hand-edited
    // record may have turned into something that is no folder name;
    // ReadRecord gives the defaults for that, which never pass.
    return IsScheduledAt(m_store.ReadRecord(row.Name), m_clock.Now());
}

const std::string& CampaignTable::SelectActiveCampaign() {
    if (OnSelecting) {
        OnSelecting();
    }
    ResetActiveMarks();
    const std::size_t count = m_rows.size();
    std::size_t firstPassStart = 0;
    bool hadPrevious = false;
    if (!m_activeCampaign.empty()) {
        for (std::size_t i = 0; i < count; ++i) {
            if (m_rows[i].Name == m_activeCampaign) {
                firstPassStart = i + 1;
                hadPrevious = true;
                break;
            }
        }
    }
    m_activeCampaign.clear();

    auto pass = [&](std::size_t from) {
        for (std::size_t i = from; i < count; ++i) {
            CampaignRow& row = m_rows[i];
            if (row.State == csEnabled && PassesAt(row)) {
                row.State = csActive;
                m_activeCampaign = row.Name;
                return true;
            }
        }
        return false;
    };
    // The second pass includes the previous choice, so a single active
    // campaign is sent again in every cycle.
    if (!pass(firstPassStart) && hadPrevious) {
        pass(0);
    }
    return m_activeCampaign;
}

}  // namespace kavri
