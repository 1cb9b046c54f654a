#include "app/CampaignEnabling.h"

#include <memory>
#include <string>

#include <sys/stat.h>

#include "app/CampaignLookup.h"
#include "app/CampaignRecord.h"
#include "app/CampaignStore.h"
#include "app/IniFile.h"

namespace kavri {

Result SetCampaignEnabled(CampaignStore& store, std::string_view name, bool enabled,
                          const TextLookup& texts) {
    if (Result found = FindListedCampaign(store, name, texts); !found) {
        return found;
    }
    const std::unique_ptr<IniFile> record = store.OpenRecord(name);
    struct stat st {};
    if (::lstat(record->FileName().c_str(), &st) != 0) {
        return Result::Failure("campaign " + std::string(name) + " has no record (" +
                               record->FileName() + ")");
    }
    return CampaignRecord::Write(*record, {{"Enabled", enabled ? "1" : "0"}});
}

}  // namespace kavri
