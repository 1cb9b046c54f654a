#include "editors/CampaignOptionEditing.h"

#include "app/CampaignEditor.h"
#include "app/CampaignLookup.h"
#include "app/CampaignRecord.h"
#include "app/CampaignScheduleInput.h"
#include "app/CampaignStore.h"
#include "app/CampaignTypeNames.h"
#include "editors/CampaignContentOptions.h"

namespace kavri {

Result PrepareCampaignEdit(const CampaignStore& store, std::string_view name,
                           const CampaignOptions& options, bool editing, const TextLookup& texts,
                           CampaignTarget& target) {
    int type = kCampaignFileBased;
    std::string loadName(name);
    if (editing) {
        if (Result found = FindListedCampaign(store, name, texts); !found) {
            return found;
        }
        const CampaignRecord stored = store.ReadRecord(name);
        type = stored.Type;
        loadName = EditorLoadName(stored, name);
    } else if (options.Type) {
        type = CampaignTypeOf(*options.Type);
        if (type < 0) {
            return Result::Failure("--type: \"" + *options.Type +
                                   "\" is not file, message or coupon");
        }
    }
    if (!IsKnownCampaignType(type)) {
        return Result::Failure("campaign " + std::string(name) + " has the type " +
                               std::to_string(type) + ", which this program cannot edit");
    }
    if (type == kCampaignFileBased && !editing && !options.SourceFile) {
        return Result::Failure("a file-based campaign needs --file PATH");
    }
    if (Result belongs = CheckContentOptions(type, options); !belongs) {
        return belongs;
    }
    target = CampaignTarget{type, std::move(loadName), editing};
    return Result::Success();
}

Result SaveCampaignOptions(CampaignEditor& editor, const CampaignTarget& target,
                           const CampaignOptions& options, const DateFormat& format,
                           TDateTime now) {
    if (target.Editing) {
        if (Result loaded = editor.Load(target.Name); !loaded) {
            return loaded;
        }
    } else {
        editor.Values().Name = target.Name;
    }
    if (Result content = ApplyContentOptions(target.Type, editor, options); !content) {
        return content;
    }
    if (Result schedule =
            ReadScheduleOptions(options, target.Editing, format, now, editor.Values());
        !schedule) {
        return schedule;
    }
    if (options.Enabled) {
        editor.Values().Enabled = *options.Enabled;
    }
    return editor.Save();
}

}  // namespace kavri
