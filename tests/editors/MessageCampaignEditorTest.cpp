#include "editors/MessageCampaignEditor.h"

#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/AppTestFolder.h"
#include "app/CampaignStore.h"
#include "app/DateTimeClock.h"
#include "app/ShippedTexts.h"

namespace kavri {
namespace {

using test::At;
using test::Slurp;
using test::Spill;

const std::string kBegin = "BEGIN:VCARD\r\nVERSION:2.1\r\n";
const std::string kEnd = "END:VCARD\r\n";
const std::string kQp = ";CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:";

class MessageCampaignEditorTest : public ::testing::Test {
protected:
    std::unique_ptr<MessageCampaignEditor> Editor() {
        return std::make_unique<MessageCampaignEditor>(*m_store, m_clock, m_texts);
    }
    void Create(const std::string& name, const MessageCampaignEditor::MessageFields& fields) {
        auto editor = Editor();
        editor->Values().Name = name;
        editor->Fields() = fields;
        const EditorResult result = editor->Save();
        ASSERT_TRUE(result.Ok) << result.Message;
    }
    std::string Card(const std::string& name) const {
        return m_store->CampaignFolder(name) + "card.vcf";
    }

    test::TempFolder m_temp;
    std::string m_data = m_temp.Path() + "data/";
    std::unique_ptr<CampaignStore> m_store =
        std::make_unique<CampaignStore>(DataFolder::Open(m_data), DateFormat::Iso());
    ManualDateTimeClock m_clock{At(2026, 12, 9, 14, 15, 16)};
    TextLookup m_texts = test::ShippedTexts();
};

struct CardCase {
    const char* Name;
    MessageCampaignEditor::MessageFields Fields;
    std::string Lines;
};

TEST_F(MessageCampaignEditorTest, WritesRecordThenCardFromTheFourFields) {
    // Situation: new campaigns with the example fields, with none, and with a
    // URL alone.
    // Expected: the record of type 1 with FileName=card.vcf after the common
    // keys, and the card's exact bytes.
    const CardCase cases[] = {
        {"Example",
         {"ABC", "", "123", "Hi"},
         "ORG" + kQp + "=41=42=43;\r\nN" + kQp + "=48=69;;;;\r\nTEL;PREF;WORK:123\r\n"},
        {"Empty", {"", "", "", ""}, ""},
        {"Link", {"", "http://x.example/a?b=c", "", ""}, "URL:http://x.example/a?b=c\r\n"},
    };
    for (const CardCase& c : cases) {
        auto editor = Editor();
        EXPECT_EQ(editor->Type(), kCampaignMessageBased);
        EXPECT_EQ(editor->Values().FileName, "card.vcf");
        editor->Values().Name = c.Name;
        editor->Fields() = c.Fields;
        const EditorResult result = editor->Save();
        ASSERT_TRUE(result.Ok) << result.Message;
        EXPECT_EQ(Slurp(Card(c.Name)), kBegin + c.Lines + kEnd) << c.Name;
        const std::string record = Slurp(m_store->CampaignFolder(c.Name) + "settings.dat");
        EXPECT_NE(record.find("\r\nType=1\r\n"), std::string::npos) << record;
        EXPECT_EQ(record.substr(record.size() - 30), "Enabled=1\r\nFileName=card.vcf\r\n");
    }
}

TEST_F(MessageCampaignEditorTest, EditReadsTheCardAndOkRebuildsIt) {
    // Situation: a campaign whose message needs two lines and has a non-ASCII
    // letter, whose company holds ";", and whose card was then edited by hand
    // to carry a title and a second phone.
    // Expected: editing shows the message whole, the company cut at ";"; OK
    // writes a card of the four fields only.
    Create("Promo", {"A;B", "http://u", "+49 1", "Hello W\xC3\xB6rld!"});
    const std::string message = "N" + kQp + "=48=65=6C=6C=6F=20=57=C3=B6=72=6C=\r\n=64=21;;;;\r\n";
    const std::string tail = message + "TEL;PREF;WORK:+49 1\r\n" + kEnd;
    std::string card = Slurp(Card("Promo"));
    ASSERT_EQ(card, kBegin + "ORG" + kQp + "=41;=42;\r\nURL:http://u\r\n" + tail);
    card.insert(card.size() - kEnd.size(), "TITLE:Boss\r\nTEL;HOME:999\r\n");
    Spill(Card("Promo"), card);

    auto editor = Editor();
    ASSERT_TRUE(editor->Load("Promo").Ok);
    EXPECT_EQ(editor->CardError(), "");
    EXPECT_EQ(editor->Fields().Company, "A");
    EXPECT_EQ(editor->Fields().Url, "http://u");
    EXPECT_EQ(editor->Fields().Phone, "+49 1");
    EXPECT_EQ(editor->Fields().Message, "Hello W\xC3\xB6rld!");
    ASSERT_TRUE(editor->Save().Ok);
    EXPECT_EQ(Slurp(Card("Promo")), kBegin + "ORG" + kQp + "=41;\r\nURL:http://u\r\n" + tail);
}

TEST_F(MessageCampaignEditorTest, UnreadableCardLeavesFieldsEmptyAndSays) {
    // Situation: a day-of-week campaign whose card is missing, then one whose
    // card has a good company and a malformed escape.
    // Expected: the common values load, the four fields stay empty, CardError
    // names the file or the escape; OK writes a fresh card.
    Create("Broken", {"Co", "u", "1", "m"});
    {
        auto editor = Editor();
        ASSERT_TRUE(editor->Load("Broken").Ok);
        editor->Values().Scheduling = kSchedulingDayOfWeek;
        editor->Values().Enabled = false;
        ASSERT_TRUE(editor->Save().Ok);
    }
    std::filesystem::remove(Card("Broken"));
    auto missing = Editor();
    ASSERT_TRUE(missing->Load("Broken").Ok);
    EXPECT_NE(missing->CardError().find(Card("Broken")), std::string::npos);
    EXPECT_NE(missing->CardError().find("No such file"), std::string::npos);
    EXPECT_EQ(missing->Values().Scheduling, kSchedulingDayOfWeek);
    EXPECT_FALSE(missing->Values().Enabled);
    EXPECT_EQ(missing->Fields().Company + missing->Fields().Url + missing->Fields().Phone +
                  missing->Fields().Message,
              "");
    ASSERT_TRUE(missing->Save().Ok);
    EXPECT_EQ(Slurp(Card("Broken")), kBegin + kEnd);

    Spill(Card("Broken"), "ORG:Good\r\nN;ENCODING=QUOTED-PRINTABLE:=4X\r\n");
    auto malformed = Editor();
    ASSERT_TRUE(malformed->Load("Broken").Ok);
    EXPECT_NE(malformed->CardError().find("\"=4X\""), std::string::npos) << malformed->CardError();
    EXPECT_EQ(malformed->Fields().Company, "");
}

TEST_F(MessageCampaignEditorTest, CardWriteFailureComesAfterTheRecord) {
    // Situation: editing a campaign whose card.vcf has become a folder, so the
    // card cannot be replaced.
    // Expected: OK is refused with "CampaignSaveFailed" naming card.vcf, while
    // settings.dat already holds the new values; the folder stays.
    Create("Stuck", {"Co", "", "", ""});
    std::filesystem::remove(Card("Stuck"));
    std::filesystem::create_directory(Card("Stuck"));
    auto editor = Editor();
    ASSERT_TRUE(editor->Load("Stuck").Ok);
    EXPECT_NE(editor->CardError(), "");
    editor->Values().Enabled = false;
    editor->Fields().Company = "New";
    const EditorResult result = editor->Save();
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.MessageKey, "CampaignSaveFailed");
    EXPECT_EQ(result.Message.rfind("The campaign could not be saved: ", 0), 0u) << result.Message;
    EXPECT_NE(result.Message.find(Card("Stuck")), std::string::npos) << result.Message;
    EXPECT_NE(Slurp(m_store->CampaignFolder("Stuck") + "settings.dat").find("Enabled=0\r\n"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(Card("Stuck")));
}

}  // namespace
}  // namespace kavri
