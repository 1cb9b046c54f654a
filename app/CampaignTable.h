#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/TextLookup.h"

namespace kavri {

class CampaignStore;
class DateTimeClock;

// A campaign's mark in the main window's list. Only csEnabled rows may be
// chosen, so the mark is both what the list shows and the eligibility flag.
enum CampaignState { csEnabled = 0, csDisabled = 1, csActive = 2 };

// One row of the campaign list as data; the window shows it.
struct CampaignRow {
    std::string FolderName;      // the line of the campaign list
    std::string Name;            // "Name", or "UNDEFINED" when missing
    int Scheduling = -1;         // "Scheduling" as stored
    std::string SchedulingText;  // its language text, or "UNDEFINED"
    int Type = -1;               // "Type" as stored
    std::string TypeText;        // its language text, or "UNDEFINED"
    CampaignState State = csDisabled;
};

// The main window's campaign list and the choice of the campaign that each
// discovery cycle sends (`ActiveCampaign`). Several campaigns that are active
// at once take turns, one per cycle, in list order, the first again after the
// last; a single active campaign is sent in every cycle.
//
// Lives on the main thread. Reads the store's list and records; owns only its
// rows and the active name. The store, clock and lookup must outlive it.
// Throws only std::bad_alloc.
class CampaignTable {
public:
    CampaignTable(const CampaignStore& store, const DateTimeClock& clock, TextLookup texts);

    const std::vector<CampaignRow>& Rows() const { return m_rows; }

    // Display name of the campaign of the current cycle; empty when none.
    const std::string& ActiveCampaign() const { return m_activeCampaign; }
    // The sender clears it when it starts and stops.
    void ClearActiveCampaign() { m_activeCampaign.clear(); }
    // DataFolder + upper-cased ActiveCampaign + separator; empty when none.
    std::string ActiveCampaignFolder() const;

    // Rebuilds the rows from the campaign list and the records, in list order.
    // A row whose display name equals ActiveCampaign keeps its active mark.
    void RefreshCampaigns();

    // Chooses the campaign of this cycle: from the row after the previous
    // choice to the last, the first enabled row whose record (read afresh,
    // found by its upper-cased display name) is scheduled now; when none and
    // there was a previous choice, the same from the first row, the previous
    // choice included. Marks it csActive and returns ActiveCampaign, empty
    // when nothing is active (then no device is served in this cycle).
    const std::string& SelectActiveCampaign();

    // Every csActive row goes back to csEnabled.
    void ResetActiveMarks();

    // Changes the texts (a new language); RefreshCampaigns shows them.
    void SetTexts(TextLookup texts) { m_texts = std::move(texts); }

    // Raised by SelectActiveCampaign before it looks at the rows, so the
    // owner can bring the rows up to date (CampaignReloader::Update).
    std::function<void()> OnSelecting;

private:
    bool PassesAt(const CampaignRow& row) const;
    std::string Text(std::string_view key) const;

    const CampaignStore& m_store;
    const DateTimeClock& m_clock;
    TextLookup m_texts;
    std::vector<CampaignRow> m_rows;
    std::string m_activeCampaign;
};

}  // namespace kavri
