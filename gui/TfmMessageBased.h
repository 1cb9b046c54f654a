#pragma once

#include "gui/TfmCampaignEditor.h"

class QLabel;

namespace kavri {
class MessageCampaignEditor;
}

namespace kavri::gui {

// The message-based campaign editor: the shared frame plus company, URL,
// phone and message, which OK writes as the business card "card.vcf" in the
// campaign folder (MessageCampaignEditor's rules). A card that cannot be read
// when a campaign is opened is reported and its fields show empty; saving
// then writes a new card from what the window shows.
class TfmMessageBased final : public TfmCampaignEditor {
    Q_OBJECT

public:
    explicit TfmMessageBased(TfmMain& main);

    // The editor this window feeds.
    MessageCampaignEditor& MessageEditor();

    QLabel* laCompany = nullptr;
    QLineEdit* edCompany = nullptr;
    QLabel* laURL = nullptr;
    QLineEdit* edURL = nullptr;
    QLabel* laPhone = nullptr;
    QLineEdit* edPhone = nullptr;
    QLabel* laMessage = nullptr;
    QLineEdit* edMessage = nullptr;

private:
    void ShowOwn() override;
    void CollectOwn() override;
};

}  // namespace kavri::gui
