#pragma once

#include <string>
#include <string_view>

#include "app/CampaignOptions.h"
#include "app/DateFormat.h"
#include "app/DateTime.h"
#include "app/Result.h"
#include "app/TextLookup.h"

namespace kavri {

class CampaignEditor;
class CampaignStore;

// Adding or editing a campaign from typed values (CampaignOptions), in two
// steps around the making of the type's editor (a coupon editor needs a Qt GUI
// application that the caller provides):
//
//   CampaignTarget target;
//   if (Result r = PrepareCampaignEdit(store, name, options, editing, texts, target); !r) ...
//   auto editor = MakeEditor(target.Type, store, clock, texts);
//   Result saved = SaveCampaignOptions(*editor, target, options, format, clock.Now());
//
// Add: the type comes from Type (default file; a file campaign needs
// SourceFile). Edit: the campaign must be listed; its name and type stay. An
// option that belongs to another type is refused. Then the content options,
// the schedule (ReadScheduleOptions) and Enabled go into the editor, whose OK
// checks and saves all or nothing. A refusal changes nothing on disk.
//
// Free functions; the store's thread. Throw only std::bad_alloc.

// What an add or edit works on: the campaign type, and the name the editor
// saves under (for an edit, the name it loads the campaign under).
struct CampaignTarget {
    int Type = 0;
    std::string Name;
    bool Editing = false;
};

// The checks before an editor is made; fills target on success.
Result PrepareCampaignEdit(const CampaignStore& store, std::string_view name,
                           const CampaignOptions& options, bool editing, const TextLookup& texts,
                           CampaignTarget& target);

// Loads the campaign (edit) or names the new one (add), puts every option into
// editor (made for target.Type) and saves. format is the regional form typed
// dates may take; now gives the examples in messages.
Result SaveCampaignOptions(CampaignEditor& editor, const CampaignTarget& target,
                           const CampaignOptions& options, const DateFormat& format, TDateTime now);

}  // namespace kavri
