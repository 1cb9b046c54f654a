#include "cli/CampaignCommands.h"

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include <QImage>

#include "CliTestSupport.h"

#include "app/AppTestFolder.h"
#include "app/DateTimeClock.h"
#include "app/ShippedTexts.h"
#include "cli/CampaignCommands.h"

namespace kavri::cli {
namespace {

using test::At;
using test::Slurp;
using test::Tree;

using test::Outcome;

// The keys of a record file, in file order, without their values.
std::string KeyOrder(const std::string& record) {
    std::string keys;
    std::size_t start = 0;
    while (start < record.size()) {
        const std::size_t end = record.find("\r\n", start);
        const std::string line = record.substr(start, end - start);
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) {
            keys += (keys.empty() ? "" : ",") + line.substr(0, equals);
        }
        start = end == std::string::npos ? record.size() : end + 2;
    }
    return keys;
}

class CampaignContentTest : public ::testing::Test {
protected:
    Outcome Run(const std::function<int(CampaignCommands&)>& command) {
        return test::Capture([&](std::FILE* out, std::FILE* err) {
            CampaignCommands commands(m_data, m_clock, DateFormat::Iso(), m_texts, out, err);
            return command(commands);
        });
    }
    Outcome Add(const std::string& name, const CampaignOptions& options) {
        return Run([&](CampaignCommands& c) { return c.Add(name, options); });
    }
    Outcome Edit(const std::string& name, const CampaignOptions& options) {
        return Run([&](CampaignCommands& c) { return c.Edit(name, options); });
    }
    std::map<std::string, std::string> Show(const std::string& name) {
        const Outcome shown = Run([&](CampaignCommands& c) { return c.Show(name); });
        EXPECT_EQ(shown.Status, 0) << shown.Err;
        return test::KeyValueLines(shown.Out);
    }

    test::TempFolder m_temp;
    std::string m_data = m_temp.Path() + "data/";
    ManualDateTimeClock m_clock{At(2026, 12, 9, 14, 15, 16)};
    TextLookup m_texts = test::ShippedTexts();
};

TEST_F(CampaignContentTest, MessageCampaignWritesTheCardOfTheExampleAndShowsItBack) {
    // Situation: company ABC, no URL, phone 123, message Hi, then an edit of
    // the message alone.
    // Expected: card.vcf holds exactly the six example lines; show reads the
    // fields back from the card; the edit keeps the other fields.
    CampaignOptions options;
    options.Type = "message";
    options.Company = "ABC";
    options.Phone = "123";
    options.Message = "Hi";
    const Outcome added = Add("Card", options);
    ASSERT_EQ(added.Status, 0) << added.Err;
    EXPECT_EQ(Slurp(m_data + "CARD/card.vcf"),
              "BEGIN:VCARD\r\nVERSION:2.1\r\n"
              "ORG;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=41=42=43;\r\n"
              "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=48=69;;;;\r\n"
              "TEL;PREF;WORK:123\r\nEND:VCARD\r\n");
    std::map<std::string, std::string> shown = Show("Card");
    EXPECT_EQ(shown["Type"], "1");
    EXPECT_EQ(shown["FileName"], "card.vcf");
    EXPECT_EQ(shown["Company"], "ABC");
    EXPECT_EQ(shown["URL"], "");
    EXPECT_EQ(shown["Phone"], "123");
    EXPECT_EQ(shown["Message"], "Hi");

    CampaignOptions change;
    change.Message = "Grüße aus dem Laden";
    ASSERT_EQ(Edit("card", change).Status, 0);
    shown = Show("Card");
    EXPECT_EQ(shown["Company"], "ABC");
    EXPECT_EQ(shown["Phone"], "123");
    EXPECT_EQ(shown["Message"], "Grüße aus dem Laden");
}

TEST_F(CampaignContentTest, MessageCampaignWithAMissingCardShowsTheRecordAndFails) {
    // Situation: the card of a message campaign was deleted by hand.
    // Expected: show prints the record with empty card fields and exits 1
    // with the reading error.
    CampaignOptions options;
    options.Type = "message";
    options.Message = "Hi";
    ASSERT_EQ(Add("Card", options).Status, 0);
    std::remove((m_data + "CARD/card.vcf").c_str());
    const Outcome shown = Run([](CampaignCommands& c) { return c.Show("Card"); });
    EXPECT_EQ(shown.Status, 1);
    EXPECT_EQ(test::KeyValueLines(shown.Out)["Message"], "");
    EXPECT_NE(shown.Err.find("card.vcf"), std::string::npos) << shown.Err;
}

TEST_F(CampaignContentTest, EditingACardThatDoesNotReadNeedsAllFourFields) {
    // Situation: a message campaign whose card.vcf no longer parses (a
    // malformed escape), edited with --url alone, with no card option, and
    // with three of the four; then with all four; the same once the card is
    // gone.
    // Expected: the partial edits exit 1 with the card's reading error and
    // change nothing on disk; all four write a new card of exactly them.
    CampaignOptions options;
    options.Type = "message";
    options.Company = "ABC";
    options.Url = "http://u";
    options.Phone = "123";
    options.Message = "Hi";
    ASSERT_EQ(Add("Card", options).Status, 0);
    const std::string card = m_data + "CARD/card.vcf";
    const std::string broken = "ORG:Good\r\nN;ENCODING=QUOTED-PRINTABLE:=4X\r\n";
    test::Spill(card, broken);
    const auto before = Tree(m_data);

    CampaignOptions url;
    url.Url = "http://x";
    CampaignOptions schedule;
    schedule.Enabled = false;
    CampaignOptions three = options;
    three.Message.reset();
    for (const CampaignOptions& partial : {url, schedule, three}) {
        const Outcome refused = Edit("Card", partial);
        EXPECT_EQ(refused.Status, 1);
        EXPECT_EQ(refused.Out, "");
        EXPECT_EQ(refused.Err.rfind("kavrictl: The business card cannot be read: ", 0), 0u)
            << refused.Err;
        EXPECT_NE(refused.Err.find("=4X"), std::string::npos) << refused.Err;
        EXPECT_EQ(Tree(m_data), before);
    }

    options.Url = "http://x";
    ASSERT_EQ(Edit("Card", options).Status, 0);
    std::map<std::string, std::string> shown = Show("Card");
    EXPECT_EQ(shown["Company"], "ABC");
    EXPECT_EQ(shown["URL"], "http://x");
    EXPECT_EQ(shown["Phone"], "123");
    EXPECT_EQ(shown["Message"], "Hi");

    std::remove(card.c_str());
    const Outcome missing = Edit("Card", url);
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Err.find("card.vcf"), std::string::npos) << missing.Err;
    EXPECT_FALSE(std::filesystem::exists(card));
    ASSERT_EQ(Edit("Card", options).Status, 0);
    EXPECT_EQ(Show("Card")["URL"], "http://x");
}

TEST_F(CampaignContentTest, UrlOrPhoneThatWouldForgeCardLinesIsRefused) {
    // Situation: --url and --phone carrying CR LF and the lines N:Forged and
    // TEL:666, on add and on edit.
    // Expected: exit 1 with one line naming the field; no campaign is added,
    // and the existing card keeps its bytes, so no phone receives the forged
    // lines.
    const std::string forged = "http://x\r\nN:Forged\r\nTEL:666";
    CampaignOptions options;
    options.Type = "message";
    options.Url = forged;
    const Outcome added = Add("Card", options);
    EXPECT_EQ(added.Status, 1);
    EXPECT_EQ(added.Err,
              "kavrictl: This text cannot be put on the business card: the URL holds a control "
              "character\n");
    EXPECT_EQ(Tree(m_data).count("CARD/settings.dat"), 0u);

    options.Url = "http://ok";
    options.Phone = "123";
    ASSERT_EQ(Add("Card", options).Status, 0);
    const std::string card = Slurp(m_data + "CARD/card.vcf");
    CampaignOptions url;
    url.Url = forged;
    CampaignOptions phone;
    phone.Phone = "123\r\nTEL:666";
    for (const auto& [change, field] : {std::pair{url, "URL"}, std::pair{phone, "phone number"}}) {
        const Outcome edited = Edit("Card", change);
        EXPECT_EQ(edited.Status, 1);
        EXPECT_EQ(edited.Err, "kavrictl: This text cannot be put on the business card: the " +
                                  std::string(field) + " holds a control character\n");
        EXPECT_EQ(Slurp(m_data + "CARD/card.vcf"), card);
    }
    EXPECT_EQ(card.find("Forged"), std::string::npos);
}

TEST_F(CampaignContentTest, CouponCampaignRendersThePictureAndStoresEveryKeyInOrder) {
    // Situation: a coupon campaign with a code, placed top left in a red bold
    // font, then renamed from Spring to Summer with a generated code.
    // Expected: a 176 x 220 Spring.jpg and promo_original.bmp, the record's
    // keys in the editor's order; after the rename only Summer.jpg is left and
    // the new code is six characters of digits and capitals.
    CampaignOptions options;
    options.Type = "coupon";
    options.Promotion = "Spring";
    options.Message = "Spring Sale";
    options.Coupon = "AB12CD";
    options.Place = "top";
    options.Align = "left";
    options.Font = "DejaVu Sans,12,#C00000,bold+italic";
    const Outcome added = Add("Spring", options);
    ASSERT_EQ(added.Status, 0) << added.Err;
    EXPECT_EQ(QImage(QString::fromStdString(m_data + "SPRING/Spring.jpg")).size(), QSize(176, 220));
    EXPECT_EQ(QImage(QString::fromStdString(m_data + "SPRING/promo_original.bmp")).size(),
              QSize(176, 220));
    EXPECT_EQ(KeyOrder(Slurp(m_data + "SPRING/settings.dat")),
              "Name,Type,Scheduling,StartDateTime,EndDateTime,StartTime,EndTime,Mon,Tue,Wed,Thu,"
              "Fri,Sat,Sun,Enabled,FileName,MessageName,MessageText,Coupon,CouponEnabled,Top,"
              "Middle,Bottom,Left,Center,Right,FontName,FontSize,FontColor,FontStyle");
    std::map<std::string, std::string> shown = Show("Spring");
    EXPECT_EQ(shown["FileName"], "Spring.jpg");
    EXPECT_EQ(shown["Coupon"], "AB12CD");
    EXPECT_EQ(shown["CouponEnabled"], "1");
    EXPECT_EQ(shown["Top"] + shown["Middle"] + shown["Bottom"], "100");
    EXPECT_EQ(shown["Left"] + shown["Center"] + shown["Right"], "100");
    EXPECT_EQ(shown["FontName"], "DejaVu Sans");
    EXPECT_EQ(shown["FontSize"], "12");
    EXPECT_EQ(shown["FontColor"], std::to_string(0x0000C0));
    EXPECT_EQ(shown["FontStyle"], "3");

    CampaignOptions rename;
    rename.Promotion = "Summer";
    rename.GenerateCoupon = true;
    ASSERT_EQ(Edit("Spring", rename).Status, 0);
    std::map<std::string, std::string> files = Tree(m_data + "SPRING");
    EXPECT_EQ(files.count("Spring.jpg"), 0u);
    EXPECT_EQ(files.count("Summer.jpg"), 1u);
    shown = Show("Spring");
    EXPECT_EQ(shown["FileName"], "Summer.jpg");
    EXPECT_EQ(shown["MessageName"], "Summer");
    EXPECT_EQ(shown["Top"] + shown["Left"] + shown["FontName"], "11DejaVu Sans");
    ASSERT_EQ(shown["Coupon"].size(), 6u);
    EXPECT_EQ(shown["Coupon"].find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"),
              std::string::npos);
}

TEST_F(CampaignContentTest, CouponPerDeviceIsSwitchedOnKeptAndOffAndRefusedForOtherTypes) {
    // Situation: a coupon campaign added with a code per device, edited
    // without the option, then with --no-coupon-per-device; a file campaign
    // edited with --coupon-per-device.
    // Expected: "CouponPerDevice" 1 after the coupon keys and in show, kept by
    // an edit that does not name it, then 0; the file campaign refuses it and
    // its record stays as it was.
    CampaignOptions options;
    options.Type = "coupon";
    options.Promotion = "Spring";
    options.GenerateCoupon = true;
    const Outcome added = Run([&](CampaignCommands& c) { return c.Add("Spring", options, true); });
    ASSERT_EQ(added.Status, 0) << added.Err;
    EXPECT_NE(KeyOrder(Slurp(m_data + "SPRING/settings.dat")).find("FontStyle,CouponPerDevice"),
              std::string::npos);
    EXPECT_EQ(Show("Spring")["CouponPerDevice"], "1");

    CampaignOptions message;
    message.Message = "Summer Sale";
    ASSERT_EQ(Edit("Spring", message).Status, 0);
    EXPECT_EQ(Show("Spring")["CouponPerDevice"], "1");
    const Outcome off =
        Run([&](CampaignCommands& c) { return c.Edit("Spring", CampaignOptions{}, false); });
    ASSERT_EQ(off.Status, 0) << off.Err;
    EXPECT_NE(Slurp(m_data + "SPRING/settings.dat").find("\r\nCouponPerDevice=0\r\n"),
              std::string::npos);

    test::Spill(m_temp.Path() + "promo.txt", "hello");
    CampaignOptions file;
    file.SourceFile = m_temp.Path() + "promo.txt";
    ASSERT_EQ(Add("Plain", file).Status, 0);
    const std::string before = Slurp(m_data + "PLAIN/settings.dat");
    const Outcome refused =
        Run([&](CampaignCommands& c) { return c.Edit("Plain", CampaignOptions{}, true); });
    EXPECT_NE(refused.Status, 0);
    EXPECT_NE(refused.Err.find("--coupon-per-device"), std::string::npos) << refused.Err;
    EXPECT_EQ(Slurp(m_data + "PLAIN/settings.dat"), before);
}

TEST_F(CampaignContentTest, OptionMistakesAreRefusedAndNothingIsWritten) {
    // Situation: options of another type, a missing promotion name, an
    // unreadable image, bad placements and fonts, an unknown type.
    // Expected: each is refused with its one line, and the data folder keeps
    // no campaign.
    std::FILE* garbage = std::fopen((m_temp.Path() + "broken.jpg").c_str(), "wb");
    ASSERT_NE(garbage, nullptr);
    std::fputs("\xFF\xD8 not really a picture", garbage);
    std::fclose(garbage);

    struct Case {
        std::function<void(CampaignOptions&)> Set;
        std::string Expected;  // the start of the error line
    };
    const std::vector<Case> cases = {
        {[](CampaignOptions& o) { o.Type = "poster"; },
         "kavrictl: --type: \"poster\" is not file, message or coupon"},
        {[](CampaignOptions& o) { o.Type = "file"; }, "kavrictl: a file-based campaign needs"},
        {[&](CampaignOptions& o) {
             o.SourceFile = m_temp.Path() + "broken.jpg";
             o.Company = "ABC";
         },
         "kavrictl: --company does not apply to a file campaign"},
        {[](CampaignOptions& o) {
             o.Type = "message";
             o.Promotion = "P";
         },
         "kavrictl: --promotion does not apply to a message campaign"},
        {[](CampaignOptions& o) {
             o.Type = "coupon";
             o.Phone = "1";
         },
         "kavrictl: --phone does not apply to a coupon campaign"},
        {[](CampaignOptions& o) { o.Type = "coupon"; }, "kavrictl: Promotion name is required."},
        {[&](CampaignOptions& o) {
             o.Type = "coupon";
             o.Promotion = "P";
             o.Image = m_temp.Path() + "broken.jpg";
         },
         "kavrictl: --image: "},
        {[](CampaignOptions& o) {
             o.Type = "coupon";
             o.Promotion = "P";
             o.Place = "left";
         },
         "kavrictl: --place: \"left\" is not top, middle or bottom"},
        {[](CampaignOptions& o) {
             o.Type = "coupon";
             o.Promotion = "P";
             o.Font = ",12,#12345G";
         },
         "kavrictl: --font: the colour \"#12345G\""},
        {[](CampaignOptions& o) {
             o.Type = "coupon";
             o.Promotion = "P";
             o.Font = ",,,bold+wide";
         },
         "kavrictl: --font: the style \"bold+wide\""},
        {[](CampaignOptions& o) {
             o.Type = "coupon";
             o.Promotion = "../P";
         },
         "kavrictl: "},
    };
    for (const Case& c : cases) {
        CampaignOptions options;
        c.Set(options);
        const Outcome outcome = Add("Shop", options);
        EXPECT_EQ(outcome.Status, 1) << c.Expected;
        EXPECT_EQ(outcome.Err.rfind(c.Expected, 0), 0u) << outcome.Err;
        EXPECT_EQ(Tree(m_data).count("SHOP/settings.dat"), 0u) << c.Expected;
    }
}

}  // namespace
}  // namespace kavri::cli
