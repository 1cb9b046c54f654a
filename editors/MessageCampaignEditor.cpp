#include "editors/MessageCampaignEditor.h"

#include "app/CampaignStore.h"
#include "editors/wclVCard.h"

#include <utility>

namespace kavri {

MessageCampaignEditor::MessageCampaignEditor(CampaignStore& store, const DateTimeClock& clock,
                                             TextLookup texts)
    : CampaignEditor(store, clock, std::move(texts), kCampaignMessageBased) {
    Values().FileName = std::string(kCardFileName);
}

Result MessageCampaignEditor::ChangeFields(const FieldChanges& changes) {
    const bool allGiven = changes.Company && changes.Url && changes.Phone && changes.Message;
    if (!m_cardError.empty() && !allGiven) {
        return Refuse("CardUnreadable", m_cardError);
    }
    for (const auto& [given, field] :
         {std::pair{&changes.Company, &m_fields.Company}, std::pair{&changes.Url, &m_fields.Url},
          std::pair{&changes.Phone, &m_fields.Phone},
          std::pair{&changes.Message, &m_fields.Message}}) {
        if (*given) {
            *field = **given;
        }
    }
    return Result::Success();
}

Result MessageCampaignEditor::CheckOwn() {
    // Company and message are quoted-printable in the card, every byte escaped;
    // URL and TEL are written as they are.
    if (Result url = RefuseControlCharacters("CardTextInvalid", "the URL", m_fields.Url); !url.Ok) {
        return url;
    }
    return RefuseControlCharacters("CardTextInvalid", "the phone number", m_fields.Phone);
}

void MessageCampaignEditor::LoadOwn(const CampaignRecord&) {
    m_fields = {};
    m_cardError.clear();
    // The name is set by now; the campaign is being loaded under it.
    const std::string path = Store().CampaignFolder(CampaignName()) + std::string(kCardFileName);
    TwclvCard card;
    try {
        card.LoadFromFile(path);
    } catch (const wclEvCardError& error) {
        // Part of a card is no better than none: the fields stay empty.
        m_cardError = error.what();
        return;
    }
    m_fields.Company = card.BusinessInfo.Company.OrgName;
    m_fields.Url = card.ExplanatoryInfo.Url1;
    m_fields.Phone = card.TelecomInfo.Phone1.PhoneNumber;
    m_fields.Message = card.Identification.PersonName.FamilyName;
}

Result MessageCampaignEditor::PlaceContent(const std::string&) {
    return Result::Success();
}

void MessageCampaignEditor::AppendOwnEntries(CampaignRecord::Entries& entries) const {
    entries.emplace_back("FileName", kCardFileName);
}

Result MessageCampaignEditor::AfterRecord(const std::string& folder) {
    // Built afresh, so what a hand-edited card carried besides the four fields
    // does not survive an OK.
    TwclvCard card;
    card.BusinessInfo.Company.OrgName = m_fields.Company;
    card.ExplanatoryInfo.Url1 = m_fields.Url;
    card.TelecomInfo.Phone1.PhoneNumber = m_fields.Phone;
    card.TelecomInfo.Phone1.PhoneTypes.set(ptPref).set(ptWork);
    card.Identification.PersonName.FamilyName = m_fields.Message;
    try {
        card.SaveToFile(folder + std::string(kCardFileName));
    } catch (const wclEvCardError& error) {
        return Refuse("CampaignSaveFailed", error.what());
    }
    return Result::Success();
}

}  // namespace kavri
