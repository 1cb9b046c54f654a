#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/CampaignEditor.h"

namespace kavri {

// The message-based campaign editor without its window: a campaign that pushes
// a short message as a business card. The operator's four fields live in
// Fields(); they are stored only in the card "card.vcf" in the campaign folder,
// and "FileName" in the record is always "card.vcf".
//
// OK runs the common checks, then refuses a URL or phone that holds a control
// character ("CardTextInvalid"): those two are written into the card as they
// are, so a line break in them would end the line and add properties to the
// card that every phone receives. The four fields may be empty. It writes the
// record, and then builds a new card from the four fields (company as the
// organisation name, URL as the first URL, phone as the first telephone with
// the types PREF and WORK, message as the family name) and writes it over
// "card.vcf" in one replacement. Every other property of an earlier card is
// dropped. A card that cannot be written is refused ("CampaignSaveFailed" and
// the reason) with the record already written.
//
// Loading an existing campaign reads the card into the four fields. A card that
// cannot be read (missing, unreadable, a malformed escape) leaves the four
// fields empty and the common values loaded; CardError() says why. A window
// shows the operator the empty fields and can still be saved, which writes a
// new card from what the window shows. ChangeFields, for callers that change
// only some fields (kavrictl), refuses to do so on such a card, since the
// fields it keeps would be the empty ones and the card's texts would be lost.
//
// Lives on the main thread for one editor use; throws only std::bad_alloc.
class MessageCampaignEditor final : public CampaignEditor {
public:
    static constexpr std::string_view kCardFileName = "card.vcf";

    struct MessageFields {
        std::string Company;
        std::string Url;
        std::string Phone;
        std::string Message;
    };

    MessageCampaignEditor(CampaignStore& store, const DateTimeClock& clock, TextLookup texts = {});

    // A change to some of the four fields; the fields left out keep their
    // loaded values.
    struct FieldChanges {
        std::optional<std::string> Company;
        std::optional<std::string> Url;
        std::optional<std::string> Phone;
        std::optional<std::string> Message;
    };

    MessageFields& Fields() { return m_fields; }
    const MessageFields& Fields() const { return m_fields; }
    // Why the card of the loaded campaign could not be read; empty when it was
    // read (or nothing was loaded).
    const std::string& CardError() const { return m_cardError; }
    // Puts the given fields into Fields(). Refused ("CardUnreadable" and
    // CardError()), changing nothing, when the loaded campaign's card could not
    // be read and not all four fields are given.
    Result ChangeFields(const FieldChanges& changes);

private:
    Result CheckOwn() override;
    void LoadOwn(const CampaignRecord& stored) override;
    Result PlaceContent(const std::string& folder) override;
    void AppendOwnEntries(CampaignRecord::Entries& entries) const override;
    Result AfterRecord(const std::string& folder) override;

    MessageFields m_fields;
    std::string m_cardError;
};

}  // namespace kavri
