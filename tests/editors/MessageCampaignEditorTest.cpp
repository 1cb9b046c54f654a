#include "editors/MessageCampaignEditor.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
        const Result result = editor->Save();
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
        const Result result = editor->Save();
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
    const Result result = editor->Save();
    EXPECT_FALSE(result.Ok);
    EXPECT_EQ(result.MessageKey, "CampaignSaveFailed");
    EXPECT_EQ(result.Message.rfind("The campaign could not be saved: ", 0), 0u) << result.Message;
    EXPECT_NE(result.Message.find(Card("Stuck")), std::string::npos) << result.Message;
    EXPECT_NE(Slurp(m_store->CampaignFolder("Stuck") + "settings.dat").find("Enabled=0\r\n"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::is_directory(Card("Stuck")));
}

TEST_F(MessageCampaignEditorTest, ControlCharactersInUrlOrPhoneAreRefusedBeforeAnythingIsWritten) {
    // Situation: a URL or phone carrying a line break that would add N and
    // TEL lines to the card, a tab, DEL, or a C1 control (NEL, C2 85), for a
    // new campaign and for an edit of an existing one.
    // Expected: OK refused with "CardTextInvalid" naming the field; no folder
    // for the new campaign, the existing card and record byte for byte as
    // they were.
    Create("Kept", {"Co", "http://ok", "123", "Hi"});
    const std::string card = Slurp(Card("Kept"));
    const std::string record = Slurp(m_store->CampaignFolder("Kept") + "settings.dat");
    struct Bad {
        MessageCampaignEditor::MessageFields Fields;
        const char* Named;
    };
    const Bad cases[] = {
        {{"", "http://x\r\nN:Forged\r\nTEL:666", "", ""}, "the URL"},
        {{"", "http://x\n", "", ""}, "the URL"},
        {{"", "http://x\tx", "", ""}, "the URL"},
        {{"", "", "123\r\nTEL:666", ""}, "the phone number"},
        {{"", "",
          "12\x7F"
          "3",
          ""},
         "the phone number"},
        {{"", "",
          "12\xC2\x85"
          "3",
          ""},
         "the phone number"},
    };
    for (const Bad& c : cases) {
        auto fresh = Editor();
        fresh->Values().Name = "Forged";
        fresh->Fields() = c.Fields;
        const Result refused = fresh->Save();
        EXPECT_FALSE(refused.Ok) << c.Fields.Url << c.Fields.Phone;
        EXPECT_EQ(refused.MessageKey, "CardTextInvalid");
        EXPECT_EQ(refused.Message, "This text cannot be put on the business card: " +
                                       std::string(c.Named) + " holds a control character");
        EXPECT_FALSE(std::filesystem::exists(m_store->CampaignFolder("Forged")));

        auto edit = Editor();
        ASSERT_TRUE(edit->Load("Kept").Ok);
        edit->Values().Enabled = false;
        edit->Fields() = c.Fields;
        EXPECT_EQ(edit->Save().MessageKey, "CardTextInvalid");
        EXPECT_EQ(Slurp(Card("Kept")), card);
        EXPECT_EQ(Slurp(m_store->CampaignFolder("Kept") + "settings.dat"), record);
    }
    EXPECT_EQ(m_store->Campaigns().Names(), (std::vector<std::string>{"KEPT"}));
}

TEST_F(MessageCampaignEditorTest, EscapedFieldsMayHoldLineBreaksAndUrlAndPhoneMayHoldLetters) {
    // Situation: company and message with CR LF and a tab (written escaped),
    // a URL with a non-ASCII letter and a phone with a no-break space (C2 A0,
    // which is not a C1 control).
    // Expected: saved; the card has no raw line break inside a property and
    // every field reads back as typed.
    Create("Fine", {"A\r\nB", "http://caf\xC3\xA9.example",
                    "+49\xC2\xA0"
                    "1",
                    "x\ty"});
    const std::string card = Slurp(Card("Fine"));
    EXPECT_EQ(card, kBegin + "ORG" + kQp + "=41=0D=0A=42;\r\nURL:http://caf\xC3\xA9.example\r\n" +
                        "N" + kQp +
                        "=78=09=79;;;;\r\nTEL;PREF;WORK:+49\xC2\xA0"
                        "1\r\n" +
                        kEnd);
    auto editor = Editor();
    ASSERT_TRUE(editor->Load("Fine").Ok);
    EXPECT_EQ(editor->Fields().Url, "http://caf\xC3\xA9.example");
    EXPECT_EQ(editor->Fields().Phone,
              "+49\xC2\xA0"
              "1");
    EXPECT_EQ(editor->Fields().Message, "x\ty");
}

TEST_F(MessageCampaignEditorTest, ChangingSomeFieldsOfACardThatDidNotReadIsRefused) {
    // Situation: a campaign whose card no longer parses (a malformed escape
    // after a good company), then whose card is missing; some fields are
    // changed, then all four.
    // Expected: a partial change is refused with "CardUnreadable" and the
    // card's reading error, the fields untouched; all four given are taken.
    // On a card that reads, a partial change keeps the other fields.
    Create("Card", {"Co", "http://u", "1", "m"});
    auto good = Editor();
    ASSERT_TRUE(good->Load("Card").Ok);
    ASSERT_TRUE(good->ChangeFields({std::nullopt, "http://new", std::nullopt, std::nullopt}).Ok);
    EXPECT_EQ(good->Fields().Company, "Co");
    EXPECT_EQ(good->Fields().Url, "http://new");
    EXPECT_EQ(good->Fields().Message, "m");

    for (const bool missing : {false, true}) {
        if (missing) {
            std::filesystem::remove(Card("Card"));
        } else {
            Spill(Card("Card"), "ORG:Good\r\nN;ENCODING=QUOTED-PRINTABLE:=4X\r\n");
        }
        auto editor = Editor();
        ASSERT_TRUE(editor->Load("Card").Ok);
        ASSERT_NE(editor->CardError(), "");
        for (const MessageCampaignEditor::FieldChanges& partial :
             {MessageCampaignEditor::FieldChanges{std::nullopt, "X", std::nullopt, std::nullopt},
              MessageCampaignEditor::FieldChanges{"A", "B", "C", std::nullopt},
              MessageCampaignEditor::FieldChanges{}}) {
            const Result refused = editor->ChangeFields(partial);
            EXPECT_FALSE(refused.Ok);
            EXPECT_EQ(refused.MessageKey, "CardUnreadable");
            EXPECT_EQ(refused.Message, "The business card cannot be read: " + editor->CardError());
            EXPECT_EQ(editor->Fields().Url, "");
            EXPECT_EQ(editor->Fields().Company, "");
        }
        ASSERT_TRUE(editor->ChangeFields({"A", "B", "C", "D"}).Ok);
        EXPECT_EQ(editor->Fields().Company + editor->Fields().Url + editor->Fields().Phone +
                      editor->Fields().Message,
                  "ABCD");
    }
}

}  // namespace
}  // namespace kavri
