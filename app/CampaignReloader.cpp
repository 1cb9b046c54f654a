#include "app/CampaignReloader.h"

#include "app/CampaignRecord.h"
#include "app/CampaignStore.h"
#include "app/CampaignTable.h"

namespace kavri {

CampaignReloader::CampaignReloader(CampaignStore& store, CampaignTable& table)
    : m_store(store), m_table(table) {}

bool CampaignReloader::Update() {
    CampaignList& list = m_store.Campaigns();
    const std::optional<FileStamp> listStamp = FileStamp::OfPath(list.FileName());
    bool changed = !m_updated || listStamp != m_list;
    if (changed) {
        list.Reload();
        m_list = listStamp;
    }

    std::map<std::string, std::optional<FileStamp>> records;
    for (const std::string& name : list.Names()) {
        records[name] = FileStamp::OfPath(m_store.CampaignFolder(name) +
                                          std::string(CampaignRecord::kFileName));
    }
    changed = changed || records != m_records;
    m_records = std::move(records);
    m_updated = true;
    if (changed) {
        m_table.RefreshCampaigns();
    }
    return changed;
}

}  // namespace kavri
