#include "gui/TfmMessageBased.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include <memory>

#include "editors/MessageCampaignEditor.h"
#include "gui/TfmMain.h"

namespace kavri::gui {

namespace {

constexpr int kDesignHeight = 407;

}  // namespace

TfmMessageBased::TfmMessageBased(TfmMain& main)
    : TfmCampaignEditor(main,
                        std::make_unique<MessageCampaignEditor>(
                            main.Session().Store(), main.DateClock(), main.Session().Texts()),
                        kDesignHeight, "MessageBased_Title",
                        "Kavri Tandrel - Message Based Campaign Editor") {
    const auto addRow = [this](QLabel*& label, QLineEdit*& field, std::string_view key,
                               const char* builtIn) {
        label = new QLabel(Text(key, builtIn), this);
        field = new QLineEdit(this);
        label->setBuddy(field);
        const int row = NextDetailsRow();
        DetailsGrid()->addWidget(label, row, 0);
        DetailsGrid()->addWidget(field, row, 1, 1, 3);
    };
    addRow(laCompany, edCompany, "MessageBased_Company", "Company");
    addRow(laURL, edURL, "MessageBased_URL", "URL");
    addRow(laPhone, edPhone, "MessageBased_Phone", "Phone");
    addRow(laMessage, edMessage, "MessageBased_Message", "Message");
    FitToTexts();
}

MessageCampaignEditor& TfmMessageBased::MessageEditor() {
    return static_cast<MessageCampaignEditor&>(Editor());
}

void TfmMessageBased::ShowOwn() {
    const MessageCampaignEditor::MessageFields& fields = MessageEditor().Fields();
    edCompany->setText(QString::fromStdString(fields.Company));
    edURL->setText(QString::fromStdString(fields.Url));
    edPhone->setText(QString::fromStdString(fields.Phone));
    edMessage->setText(QString::fromStdString(fields.Message));
    if (!MessageEditor().CardError().empty()) {
        Report(Result::Failure(MessageEditor().CardError()));
    }
}

void TfmMessageBased::CollectOwn() {
    MessageCampaignEditor::MessageFields& fields = MessageEditor().Fields();
    fields.Company = edCompany->text().toStdString();
    fields.Url = edURL->text().toStdString();
    fields.Phone = edPhone->text().toStdString();
    fields.Message = edMessage->text().toStdString();
}

}  // namespace kavri::gui
