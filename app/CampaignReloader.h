#pragma once

#include <map>
#include <optional>
#include <string>

#include "app/FileStamp.h"

namespace kavri {

class CampaignStore;
class CampaignTable;

// Keeps a running sender's campaigns in step with the disk. Before each
// selection of the campaign of a cycle, Update() reloads the campaign list
// when "campaigns.dat" changed, and rebuilds the table's rows when the list or
// the record of any listed campaign changed, so a campaign disabled, added or
// removed by another process (kavrictl, the window) counts from the next
// cycle on. A change is what FileStamp tells, the same check that the record
// store's parse cache makes; an unchanged folder costs one stat per file.
//
// Lives on the main thread, beside the store and table it updates, which must
// outlive it. Throws only std::bad_alloc.
class CampaignReloader {
public:
    CampaignReloader(CampaignStore& store, CampaignTable& table);

    // True when it reloaded or rebuilt something. The first call always does.
    bool Update();

private:
    CampaignStore& m_store;
    CampaignTable& m_table;
    bool m_updated = false;
    std::optional<FileStamp> m_list;
    // Record stamps by the list line they belong to.
    std::map<std::string, std::optional<FileStamp>> m_records;
};

}  // namespace kavri
