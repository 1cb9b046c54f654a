#include "editors/CampaignContentValues.h"

#include "app/CampaignRecord.h"
#include "editors/MessageCampaignEditor.h"

namespace kavri {

Result ReadContentValues(const CampaignRecord& record, CampaignStore& store,
                         const DateTimeClock& clock, const TextLookup& texts, std::string_view name,
                         std::vector<std::pair<std::string, std::string>>& lines) {
    lines = {{"FileName", record.FileName}};
    Result read = Result::Success();
    if (record.Type == kCampaignMessageBased) {
        // The card is read as the editor reads it when the campaign is opened.
        MessageCampaignEditor editor(store, clock, texts);
        read = editor.Load(name);
        if (read && !editor.CardError().empty()) {
            read = Result::Failure(editor.CardError());
        }
        const MessageCampaignEditor::MessageFields& fields = editor.Fields();
        lines.emplace_back("Company", fields.Company);
        lines.emplace_back("URL", fields.Url);
        lines.emplace_back("Phone", fields.Phone);
        lines.emplace_back("Message", fields.Message);
    } else if (record.Type == kCampaignCouponBased) {
        for (auto& entry : record.CouponEntries()) {
            if (entry.first != "FileName") {
                lines.push_back(std::move(entry));
            }
        }
    }
    return read;
}

}  // namespace kavri
