#include "app/CampaignLookup.h"

#include "app/CampaignRecord.h"
#include "app/CampaignStore.h"
#include "app/DataFolder.h"

namespace kavri {

Result FindListedCampaign(const CampaignStore& store, std::string_view name,
                          const TextLookup& texts) {
    if (Result named = DataFolder::CheckName(name); !named) {
        return Result::Failure(LookUpText(texts, "CampaignNameInvalid") + ": " + named.Message,
                               "CampaignNameInvalid");
    }
    if (!store.Campaigns().Contains(DataFolder::CampaignFolderName(name))) {
        return Result::Failure(LookUpText(texts, "CampaignNotFound") + ": " + std::string(name),
                               "CampaignNotFound");
    }
    return Result::Success();
}

std::string EditorLoadName(const CampaignRecord& stored, std::string_view name) {
    const bool storedNameFits = !stored.Name.empty() &&
                                DataFolder::SameCampaignName(stored.Name, name) &&
                                DataFolder::CheckName(stored.Name).Ok;
    return storedNameFits ? stored.Name : std::string(name);
}

}  // namespace kavri
