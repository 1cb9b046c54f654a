#pragma once

#include <string>
#include <string_view>

#include "app/CampaignRecord.h"
#include "app/Result.h"
#include "app/TextLookup.h"

namespace kavri {

class CampaignStore;
class DateTimeClock;

// The logic shared by the three campaign editors, without windows: the values
// of the common controls (campaign name, scheduling mode and its three pages,
// Enabled), their defaults when an editor is created, loading an existing
// campaign, the end-after-start rules, and the checks and steps of OK. A
// campaign type derives from it and adds its own fields, checks and files.
//
// Values() holds what the controls show: Name is the campaign name field,
// Scheduling the selected mode (-1 for none), StartDateTime and EndDateTime the
// time-based window (date picker plus time picker), StartTime and EndTime the
// daily window, Days the day boxes (Sunday first), Enabled the box,
// DeviceTypes the device types as typed (DeviceTypeFilter); a derived
// editor keeps its own fields there too (FileName).
//
// OK checks, in this order, stopping at the first failure with its message:
// the name is not empty ("CampaignNameRequired") and can be a folder name
// ("CampaignNameInvalid"); the type's own checks; the device types are known
// names ("DeviceTypesInvalid", with the valid ones); for a new campaign, its
// upper-cased name is not in the campaign list yet ("CampaignExists"). Nothing
// on disk changes before every check has passed. Then the campaign folder is
// made, the type's content files placed, "settings.dat" written in one
// replacement (the common keys in their order, then the type's), and, for a new
// campaign, its name appended to the campaign list, which is written at once.
// The list comes last so that a crash or a failure part-way never lists a
// campaign without its record; a failing step of a new campaign removes the
// folder again when this save made it, so a second OK is not met by
// "CampaignExists". In edit mode the name is fixed and never checked against
// the list for uniqueness.
//
// Lives on the main thread for one editor use. The store, clock and lookup must
// outlive it. Throws only std::bad_alloc.
class CampaignEditor {
public:
    virtual ~CampaignEditor();
    CampaignEditor(const CampaignEditor&) = delete;
    CampaignEditor& operator=(const CampaignEditor&) = delete;

    CampaignRecord& Values() { return m_values; }
    const CampaignRecord& Values() const { return m_values; }
    // The campaign type this editor writes.
    int Type() const { return m_type; }
    // True after a successful Load: the name is fixed.
    bool IsEditing() const { return m_editing; }
    // The name OK saves under: the loaded one in edit mode (whatever
    // Values().Name says by then), else Values().Name.
    const std::string& CampaignName() const { return m_editing ? m_loadedName : m_values.Name; }

    // Puts the editor into edit mode for the campaign named name (its display
    // name) and loads the common values from its record as stored, without the
    // end-after-start rules. Refuses a name that cannot be a folder name
    // ("CampaignNameInvalid") or is not in the campaign list
    // ("CampaignNotFound").
    Result Load(std::string_view name);

    // The end-after-start rules, for the window to run after the operator
    // changed a value; they move an end, never a start, and allow equality.
    // Daily window: an end time before the start time becomes the start time.
    void DailyTimesChanged();
    // Time-based window, a date changed: an end date before the start date
    // becomes the start date (keeping its time); then, on equal dates, an end
    // time before the start time becomes the start time.
    void WindowDatesChanged();
    // Time-based window, a time changed: on equal dates, an end time before the
    // start time becomes the start time.
    void WindowTimesChanged();

    // OK pressed: checks and saves as described above. A refusal carries the
    // language key (MessageKey) and its text, and for refusals this program
    // adds, ": " and the reason.
    Result Save();

protected:
    // Sets the defaults of a new editor from the clock: continuous scheduling,
    // every date the current date and every time the current time of day, only
    // today's day box ticked, Enabled ticked.
    CampaignEditor(CampaignStore& store, const DateTimeClock& clock, TextLookup texts, int type);

    // The type's checks, after the name checks. Must not change the disk.
    virtual Result CheckOwn() = 0;
    // Reads the type's own values of an existing campaign.
    virtual void LoadOwn(const CampaignRecord& stored) = 0;
    // Places the type's files in folder (ending in a separator) before the
    // record is written.
    virtual Result PlaceContent(const std::string& folder) = 0;
    // The type's keys, written after the common ones.
    virtual void AppendOwnEntries(CampaignRecord::Entries& entries) const = 0;
    // The type's files that come after the record (the business card).
    virtual Result AfterRecord(const std::string& folder);

    CampaignStore& Store() { return m_store; }
    // A refusal with key's text, and ": " reason when a reason is given.
    Result Refuse(std::string_view key, std::string_view reason = {}) const;
    // Refused with key's text and "<what> holds a control character" when
    // text holds one (C0, DEL, or a C1 character in UTF-8); else Ok. For
    // values written into a line-based file as they are, where a line break
    // would end the line and start one the operator never wrote.
    Result RefuseControlCharacters(std::string_view key, std::string_view what,
                                   std::string_view text) const;

private:
    CampaignStore& m_store;
    TextLookup m_texts;
    int m_type;
    bool m_editing = false;
    std::string m_loadedName;
    CampaignRecord m_values;
};

}  // namespace kavri
