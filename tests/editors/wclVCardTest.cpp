#include "editors/wclVCard.h"

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/AppTestFolder.h"

namespace kavri {
namespace {

using test::Slurp;
using test::Spill;

const std::string kQp = ";CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:";

// The bytes SaveToFile writes: every entry followed by CR LF.
std::string Written(const TwclvCard& card) {
    std::vector<std::string> lines;
    card.SaveToStrings(lines);
    std::string bytes;
    for (const std::string& line : lines) {
        bytes += line + "\r\n";
    }
    return bytes;
}

// Reads text as one entry, which the card cuts at its line ends.
TwclvCard Read(const std::string& text) {
    TwclvCard card;
    card.LoadFromStrings(std::vector<std::string>{text});
    return card;
}

// Every field, one per line, so that two cards compare as texts with a
// readable difference.
std::string Describe(const TwclvCard& c) {
    std::string d;
    auto add = [&](const char* name, const std::string& value) {
        d.append(name).append("=[").append(value).append("]\n");
    };
    add("OrgName", c.BusinessInfo.Company.OrgName);
    add("OrgUnit", c.BusinessInfo.Company.OrgUnit);
    add("Title", c.BusinessInfo.Title);
    add("Role", c.BusinessInfo.Role);
    for (const TwclAddressRec* a : {&c.DeliveryInfo.Address1, &c.DeliveryInfo.Address2}) {
        add("AddressTypes", a->AddressTypes.to_string());
        for (const std::string* s : {&a->PostOfficeBox, &a->ExtendedAddress, &a->Street,
                                     &a->Locality, &a->Region, &a->PostalCode, &a->Country}) {
            add("Adr", *s);
        }
    }
    for (const std::string& note : c.ExplanatoryInfo.Notes) {
        add("Note", note);
    }
    add("Url1", c.ExplanatoryInfo.Url1);
    add("Url2", c.ExplanatoryInfo.Url2);
    add("FormattedName", c.Identification.FormattedName);
    const TwclNameRec& n = c.Identification.PersonName;
    for (const std::string* s :
         {&n.FamilyName, &n.GivenName, &n.AdditionalNames, &n.NamePrefix, &n.NameSuffix}) {
        add("Name", *s);
    }
    for (const TwclEmailRec* e : {&c.TelecomInfo.Email1, &c.TelecomInfo.Email2}) {
        add("Email", e->EmailAddress + " type " + std::to_string(e->EmailType));
    }
    for (const TwclPhoneRec* p :
         {&c.TelecomInfo.Phone1, &c.TelecomInfo.Phone2, &c.TelecomInfo.Phone3}) {
        add("Phone", p->PhoneNumber + " types " + p->PhoneTypes.to_string());
    }
    return d;
}

struct WriteCase {
    const char* What;
    std::function<void(TwclvCard&)> Fill;
    std::string Bytes;
};

TEST(wclVCardTest, WritesEachPropertyByteForByte) {
    // Situation: cards holding one kind of field each, and one holding all.
    // Expected: exactly the lines of the card format, in their fixed order,
    // with soft breaks where a line would pass 76 columns.
    const std::string begin = "BEGIN:VCARD\r\nVERSION:2.1\r\n";
    const std::string end = "END:VCARD\r\n";
    const WriteCase cases[] = {
        {"empty card", [](TwclvCard&) {}, ""},
        {"phone with PREF and WORK",
         [](TwclvCard& c) {
             c.TelecomInfo.Phone1.PhoneNumber = "123";
             c.TelecomInfo.Phone1.PhoneTypes.set(ptWork).set(ptPref);
         },
         "TEL;PREF;WORK:123\r\n"},
        {"company, empty unit", [](TwclvCard& c) { c.BusinessInfo.Company.OrgName = "ABC"; },
         "ORG" + kQp + "=41=42=43;\r\n"},
        {"unit only", [](TwclvCard& c) { c.BusinessInfo.Company.OrgUnit = "U"; },
         "ORG" + kQp + ";=55\r\n"},
        {"family name Hi", [](TwclvCard& c) { c.Identification.PersonName.FamilyName = "Hi"; },
         "N" + kQp + "=48=69;;;;\r\n"},
        {"twelve letters break before the twelfth",
         [](TwclvCard& c) { c.Identification.PersonName.FamilyName = "Hello World!"; },
         "N" + kQp + "=48=65=6C=6C=6F=20=57=6F=72=6C=64=\r\n=21;;;;\r\n"},
        {"a semicolon takes one column",
         [](TwclvCard& c) { c.Identification.PersonName.FamilyName = std::string(10, 'A'); },
         "N" + kQp + "=41=41=41=41=41=41=41=41=41=41;=\r\n;;;\r\n"},
        {"two-byte letter, bare semicolon",
         [](TwclvCard& c) { c.Identification.PersonName.FamilyName = "\xC3\xA9;x"; },
         "N" + kQp + "=C3=A9;=78;;;;\r\n"},
        {"a head past the limit breaks at once",
         [](TwclvCard& c) {
             c.DeliveryInfo.Address1.AddressTypes.set();
             c.DeliveryInfo.Address1.PostOfficeBox = "A";
         },
         "ADR;DOM;INTL;POSTAL;PARCEL;HOME;WORK" + kQp + "=\r\n=41;;;;;;\r\n"},
        {"types alone, or an empty address, write nothing",
         [](TwclvCard& c) {
             c.DeliveryInfo.Address1.AddressTypes.set(atHome);
             c.TelecomInfo.Phone1.PhoneTypes.set(ptCell);
             c.TelecomInfo.Email1.EmailType = etInternet;
         },
         ""},
        {"every field",
         [](TwclvCard& c) {
             c.BusinessInfo.Company = {"O", "U"};
             c.BusinessInfo.Title = "T";
             c.BusinessInfo.Role = "R";
             c.DeliveryInfo.Address1.Country = "C";
             c.DeliveryInfo.Address2.AddressTypes.set(atWork).set(atDom);
             c.DeliveryInfo.Address2.Street = "S";
             c.ExplanatoryInfo.Notes = {"a", "b"};
             c.ExplanatoryInfo.Url1 = "http://x/;y";
             c.ExplanatoryInfo.Url2 = "u2";
             c.Identification.FormattedName = "F";
             c.Identification.PersonName.NameSuffix = "Jr";
             c.TelecomInfo.Email1 = {"e1@x", etInternet};
             c.TelecomInfo.Email2 = {"e2@x", etNone};
             c.TelecomInfo.Phone1.PhoneNumber = "1";
             c.TelecomInfo.Phone2.PhoneNumber = "2";
             c.TelecomInfo.Phone2.PhoneTypes.set();
             c.TelecomInfo.Phone3.PhoneNumber = "3";
         },
         "ORG" + kQp + "=4F;=55\r\nTITLE" + kQp + "=54\r\nROLE" + kQp + "=52\r\nADR" + kQp +
             ";;;;;;=43\r\nADR;DOM;WORK" + kQp + ";;=53;;;;\r\nNOTE" + kQp +
             "=61=0D=0A=62=0D=0A\r\nURL:http://x/;y\r\nURL:u2\r\nFN" + kQp + "=46\r\nN" + kQp +
             ";;;;=4A=72\r\nEMAIL;INTERNET:e1@x\r\nEMAIL:e2@x\r\nTEL:1\r\n"
             "TEL;PREF;WORK;HOME;VOICE;FAX;MSG;CELL;PAGER;BBS;MODEM;CAR;ISDN;VIDEO:2\r\n"
             "TEL:3\r\n"},
    };
    for (const WriteCase& c : cases) {
        TwclvCard card;
        c.Fill(card);
        EXPECT_EQ(Written(card), begin + c.Bytes + end) << c.What;
    }
}

TEST(wclVCardTest, NoPhysicalLinePassesSeventySixColumns) {
    // Situation: values of every length from 0 to 80 bytes, with semicolons.
    // Expected: every line but the last ends in the soft break, none is longer
    // than 76, and the value reads back (cut at its semicolons).
    for (std::size_t length = 0; length <= 80; ++length) {
        std::string value;
        for (std::size_t i = 0; i < length; ++i) {
            value.push_back(i % 7 == 3 ? ';' : static_cast<char>('a' + i % 26));
        }
        const std::string encoded = EncodeProperty("NOTE", {value});
        std::vector<std::string> lines;
        for (std::size_t start = 0;;) {
            const std::size_t end = encoded.find("\r\n", start);
            lines.push_back(encoded.substr(start, end - start));
            if (end == std::string::npos) {
                break;
            }
            start = end + 2;
        }
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_LE(lines[i].size(), 76u) << length;
            EXPECT_EQ(lines[i].back() == '=', i + 1 < lines.size()) << length << " line " << i;
        }
        TwclPropertyParser parser(lines);
        parser.Parse("NOTE");
        std::string joined;
        for (std::size_t i = 0; i < parser.Values().size(); ++i) {
            joined += (i > 0 ? ";" : "") + parser.Values()[i];
        }
        if (!value.empty() && value.back() == ';') {
            value.pop_back();
        }
        EXPECT_EQ(joined, value) << length;
        EXPECT_TRUE(lines.empty()) << "the folded lines are consumed";
    }
}

struct ReadCase {
    const char* What;
    std::string Text;
    std::function<void(TwclvCard&)> Expected;
};

TEST(wclVCardTest, ReadsFoldedCasedAndConvertedProperties) {
    // Situation: card texts as other programs (or hand edits) may write them.
    // Expected: the fields the card asks for, found, unfolded, decoded and cut
    // as the format says; everything else ignored.
    const std::string qpN = "N;ENCODING=QUOTED-PRINTABLE:";
    const ReadCase cases[] = {
        {"twelve letters over two lines",
         "N" + kQp + "=48=65=6C=6C=6F=20=57=6F=72=6C=64=\r\n=21;;;;",
         [](TwclvCard& c) { c.Identification.PersonName.FamilyName = "Hello World!"; }},
        {"a semicolon in the name cuts it", "N" + kQp + "=61;=62;;;;",
         [](TwclvCard& c) {
             c.Identification.PersonName.FamilyName = "a";
             c.Identification.PersonName.GivenName = "b";
         }},
        {"single values take the first component",
         "TITLE:a;b\r\nURL:http://x/;y\r\nTEL:1;2\r\nEMAIL:m;n",
         [](TwclvCard& c) {
             c.BusinessInfo.Title = "a";
             c.ExplanatoryInfo.Url1 = "http://x/";
             c.TelecomInfo.Phone1.PhoneNumber = "1";
             c.TelecomInfo.Email1.EmailAddress = "m";
         }},
        {"lower-case names, types and encoding",
         "tel;work;Pref:123\r\nn;charset=utf-8;encoding=quoted-printable:=48=69;;;;",
         [](TwclvCard& c) {
             c.TelecomInfo.Phone1.PhoneNumber = "123";
             c.TelecomInfo.Phone1.PhoneTypes.set(ptPref).set(ptWork);
             c.Identification.PersonName.FamilyName = "Hi";
         }},
        {"ISO-8859-5 converted only in its exact letter case",
         "N;CHARSET=ISO-8859-5;ENCODING=QUOTED-PRINTABLE:=A1=AD=B0=EF=F0=F1=FD=FF=41\r\n"
         "FN;charset=iso-8859-5;ENCODING=QUOTED-PRINTABLE:=B0",
         [](TwclvCard& c) {
             c.Identification.PersonName.FamilyName =
                 "\xD0\x81\xC2\xAD\xD0\x90\xD1\x8F\xE2\x84\x96\xD1\x91\xC2\xA7\xD1\x9F"
                 "A";
             c.Identification.FormattedName = "\xB0";
         }},
        {"four phones: the fourth is ignored", "TEL:1\r\nTEL;CELL:2\r\nTEL:3\r\nTEL:4",
         [](TwclvCard& c) {
             c.TelecomInfo.Phone1.PhoneNumber = "1";
             c.TelecomInfo.Phone2.PhoneNumber = "2";
             c.TelecomInfo.Phone2.PhoneTypes.set(ptCell);
             c.TelecomInfo.Phone3.PhoneNumber = "3";
         }},
        {"a blank-led line continues TEL; an empty line ends it",
         "TEL:123\r\n   456  \r\n 7\r\n\r\n 8\r\nTEL:9\r\n\t10",
         [](TwclvCard& c) {
             c.TelecomInfo.Phone1.PhoneNumber = "123 456 7";
             c.TelecomInfo.Phone2.PhoneNumber = "9";
         }},
        {"after a quoted-printable line only a soft break joins",
         qpN + "=41;;;;\r\n =42\r\nORG;ENCODING=QUOTED-PRINTABLE:=43=\r\n  =44=\r\n=45",
         [](TwclvCard& c) {
             c.Identification.PersonName.FamilyName = "A";
             c.BusinessInfo.Company.OrgName = "C DE";
         }},
        {"N does not find NOTE, TEL not TELX", "NOTE:x;y\r\nTELX:0\r\nN:z\r\nTEL:1",
         [](TwclvCard& c) {
             c.ExplanatoryInfo.Notes = {"x", "y"};
             c.Identification.PersonName.FamilyName = "z";
             c.TelecomInfo.Phone1.PhoneNumber = "1";
         }},
        {"types of addresses and e-mails",
         "ADR;home;Work;FOO:;;Main St;Town\r\nEMAIL;aol;x400;FOO;internet:a\r\nEMAIL;FOO:b",
         [](TwclvCard& c) {
             c.DeliveryInfo.Address1.AddressTypes.set(atHome).set(atWork);
             c.DeliveryInfo.Address1.Street = "Main St";
             c.DeliveryInfo.Address1.Locality = "Town";
             c.TelecomInfo.Email1 = {"a", etX400};
             c.TelecomInfo.Email2 = {"b", etNone};
         }},
        {"empty pieces, trailing semicolon, no colon, unknown properties",
         "ORG:;B;\r\nPHOTO:abc\r\nTEL;WORK\r\nTITLE:\r\nURL:1\r\nURL:2\r\nURL:3",
         [](TwclvCard& c) {
             c.BusinessInfo.Company.OrgUnit = "B";
             c.TelecomInfo.Phone1.PhoneTypes.set(ptWork);
             c.ExplanatoryInfo.Url1 = "1";
             c.ExplanatoryInfo.Url2 = "2";
         }},
        {"escape ends: '=' last dropped, '=' and one character mended",
         qpN + "  =41=  \r\nFN;ENCODING=QUOTED-PRINTABLE:=41=4\r\n"
               "ROLE;ENCODING=QUOTED-PRINTABLE:=4\r\nORG;ENCODING=QUOTED-PRINTABLE:x=  \r\n"
               "TITLE;ENCODING=QUOTED-PRINTABLE:=",
         [](TwclvCard& c) {
             c.Identification.PersonName.FamilyName = "A";
             c.Identification.FormattedName = "A4";
             c.BusinessInfo.Role = "4";
             c.BusinessInfo.Company.OrgName = "x";
         }},
        {"lone CR and lone LF end lines too", "BEGIN:VCARD\rTEL:1\n TEL:2\rN:a\r\nURL:u",
         [](TwclvCard& c) {
             c.TelecomInfo.Phone1.PhoneNumber = "1 TEL:2";
             c.Identification.PersonName.FamilyName = "a";
             c.ExplanatoryInfo.Url1 = "u";
         }},
    };
    for (const ReadCase& c : cases) {
        TwclvCard expected;
        c.Expected(expected);
        EXPECT_EQ(Describe(Read(c.Text)), Describe(expected)) << c.What;
    }
}

TEST(wclVCardTest, MalformedEscapeFailsAfterTheFieldsReadBefore) {
    // Situation: escapes that are not "=" and two hexadecimal digits.
    // Expected: a conversion error naming the escape; the company read before
    // it stays, the groups after it stay empty.
    for (const std::string escape : {"=ZZ", "=4G", "=G4", "= 4", "==4", "=\x01\x41"}) {
        TwclvCard card;
        card.TelecomInfo.Phone1.PhoneNumber = "old";
        try {
            card.LoadFromStrings(std::vector<std::string>{
                "ORG:Acme", "N;ENCODING=QUOTED-PRINTABLE:=41" + escape + "=41", "TEL:1"});
            ADD_FAILURE() << escape << " was accepted";
        } catch (const wclEvCardConvertError& error) {
            const std::string shown = escape == "=\x01\x41" ? "=\\x01A" : escape;
            EXPECT_NE(std::string(error.what()).find('"' + shown + '"'), std::string::npos)
                << error.what();
        }
        EXPECT_EQ(card.BusinessInfo.Company.OrgName, "Acme") << escape;
        EXPECT_EQ(card.TelecomInfo.Phone1.PhoneNumber, "") << escape;
    }
}

TEST(wclVCardTest, ListsInAndOut) {
    // Situation: lists given to SaveToStrings and LoadFromStrings, or none.
    // Expected: saving appends; loading reads a copy, cuts entries at their
    // line ends, and with no list only clears the card.
    TwclvCard card;
    card.Identification.PersonName.FamilyName = "Hello World!";
    std::vector<std::string> lines{"kept"};
    card.SaveToStrings(&lines);
    card.SaveToStrings(nullptr);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "kept");
    const std::vector<std::string> copy = lines;

    TwclvCard read;
    read.LoadFromStrings(&lines);
    EXPECT_EQ(lines, copy);
    EXPECT_EQ(Describe(read), Describe(card));
    read.LoadFromStrings(nullptr);
    EXPECT_EQ(Describe(read), Describe(TwclvCard()));
}

class wclVCardFileTest : public ::testing::Test {
protected:
    test::TempFolder m_temp;
    std::string m_path = m_temp.Path() + "card.vcf";
};

TEST_F(wclVCardFileTest, SavesExactBytesOverAnOldFile) {
    // Situation: a card saved over an older, longer card.vcf.
    // Expected: exactly the card's lines with CR LF, no byte-order mark, no
    // temporary file left beside it.
    Spill(m_path, std::string(5000, 'x'));
    TwclvCard card;
    card.BusinessInfo.Company.OrgName = "\xC3\xA9";
    card.TelecomInfo.Phone1.PhoneNumber = "123";
    card.TelecomInfo.Phone1.PhoneTypes.set(ptPref).set(ptWork);
    card.SaveToFile(m_path);
    EXPECT_EQ(Slurp(m_path), "BEGIN:VCARD\r\nVERSION:2.1\r\nORG" + kQp +
                                 "=C3=A9;\r\nTEL;PREF;WORK:123\r\nEND:VCARD\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_temp.Path()),
                            std::filesystem::directory_iterator()),
              1);

    TwclvCard read;
    read.LoadFromFile(m_path);
    EXPECT_EQ(Describe(read), Describe(card));
}

TEST_F(wclVCardFileTest, FileErrorsNameThePathAndLeaveTheCardAlone) {
    // Situation: loading from a missing file, a folder, a file over the size or
    // line limits; saving into a missing folder or over a folder.
    // Expected: wclEvCardFileError naming the path (and the system's reason);
    // the loaded card keeps what it held.
    TwclvCard card;
    card.TelecomInfo.Phone1.PhoneNumber = "kept";
    const std::string before = Describe(card);
    const std::string missing = m_temp.Path() + "missing.vcf";
    const std::string folder = m_temp.Path() + "folder.vcf";
    const std::string large = m_temp.Path() + "large.vcf";
    const std::string manyLines = m_temp.Path() + "lines.vcf";
    std::filesystem::create_directory(folder);
    Spill(large, "");
    std::filesystem::resize_file(large, kWclvCardMaxFileSize + 1);
    Spill(manyLines, std::string(kWclvCardMaxLines + 1, '\n'));
    const std::pair<std::string, std::string> loads[] = {
        {missing, "No such file or directory"},
        {folder, "not a regular file"},
        {large, "larger than"},
        {manyLines, "more than 1000000 lines"},
    };
    for (const auto& [path, reason] : loads) {
        try {
            card.LoadFromFile(path);
            ADD_FAILURE() << path << " was read";
        } catch (const wclEvCardFileError& error) {
            EXPECT_EQ(error.Path(), path);
            const std::string what = error.what();
            EXPECT_NE(what.find(path), std::string::npos) << what;
            EXPECT_NE(what.find(reason), std::string::npos) << what;
        }
        EXPECT_EQ(Describe(card), before) << path;
    }
    for (const std::string& path : {m_temp.Path() + "none/card.vcf", folder}) {
        try {
            card.SaveToFile(path);
            ADD_FAILURE() << path << " was written";
        } catch (const wclEvCardFileError& error) {
            EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
        }
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

TEST_F(wclVCardFileTest, LargeHostileInputsEndWithTheirResult) {
    // Situation: 10 MB files: one line of "=" after a quoted-printable head;
    // "=" alone without a property; a name folded over 130000 soft breaks; a
    // phone folded over 130000 blank-led lines.
    // Expected: a conversion error; an empty card; the whole name; the whole
    // number (each read in one pass, whatever the time it takes).
    const std::size_t size = 10u * 1024u * 1024u;
    Spill(m_path, "N;ENCODING=QUOTED-PRINTABLE:" + std::string(size, '='));
    TwclvCard card;
    EXPECT_THROW(card.LoadFromFile(m_path), wclEvCardConvertError);

    Spill(m_path, std::string(size, '='));
    card.LoadFromFile(m_path);
    EXPECT_EQ(Describe(card), Describe(TwclvCard()));

    std::string folded = "N;ENCODING=QUOTED-PRINTABLE:=\r\n";
    std::size_t letters = 0;
    while (folded.size() < size) {
        for (int i = 0; i < 25; ++i) {
            folded += "=41";
        }
        folded += "=\r\n";
        letters += 25;
    }
    Spill(m_path, folded);
    card.LoadFromFile(m_path);
    EXPECT_EQ(card.Identification.PersonName.FamilyName, std::string(letters, 'A'));

    std::string phone = "TEL:0\r\n";
    std::string expected = "0";
    while (phone.size() < size) {
        phone += " " + std::string(75, '9') + "\r\n";
        expected += " " + std::string(75, '9');
    }
    Spill(m_path, phone);
    card.LoadFromFile(m_path);
    EXPECT_EQ(card.TelecomInfo.Phone1.PhoneNumber, expected);
}

TEST(wclVCardRoundTripTest, RandomCardsReadBackFieldForField) {
    // Situation: 400 cards from a seeded generator: encoded texts of any byte
    // but ";", plain texts (URL, EMAIL, TEL) of printable letters without ";"
    // or outer blanks; types only where a value carries them, second records
    // only after first ones (the format keeps no empty slots).
    // Expected: each card reads back equal, through lines and through a file.
    std::mt19937 random(20261208);
    const std::vector<std::string> encodedAlphabet{"a",
                                                   "Z",
                                                   "0",
                                                   " ",
                                                   "=",
                                                   ":",
                                                   "\t",
                                                   "\r",
                                                   "\n",
                                                   std::string(1, '\0'),
                                                   "\xC3\xA9",
                                                   "\xD0\x96",
                                                   "\xE2\x82\xAC",
                                                   "\xF0\x9F\x98\x80"};
    const std::vector<std::string> plainAlphabet{"a", "Z", "0", "+", "@",        ".",
                                                 ":", "/", "=", " ", "\xC3\xA9", "\xE2\x82\xAC"};
    auto text = [&](const std::vector<std::string>& alphabet, bool plain) {
        std::string s;
        if (random() % 3 == 0) {
            return s;
        }
        const std::size_t length = 1 + random() % 40;
        for (std::size_t i = 0; i < length; ++i) {
            s += alphabet[random() % alphabet.size()];
        }
        if (plain) {
            s.front() = 'p';
            s.back() = 'q';
        }
        return s;
    };
    auto encoded = [&] { return text(encodedAlphabet, false); };
    auto plain = [&] { return text(plainAlphabet, true); };
    test::TempFolder temp;
    for (int round = 0; round < 400; ++round) {
        TwclvCard card;
        card.BusinessInfo.Company = {encoded(), encoded()};
        card.BusinessInfo.Title = encoded();
        card.BusinessInfo.Role = encoded();
        bool previous = true;
        for (TwclAddressRec* a : {&card.DeliveryInfo.Address1, &card.DeliveryInfo.Address2}) {
            bool written = false;
            for (std::string* s : {&a->PostOfficeBox, &a->ExtendedAddress, &a->Street, &a->Locality,
                                   &a->Region, &a->PostalCode, &a->Country}) {
                *s = previous ? encoded() : "";
                written = written || !s->empty();
            }
            a->AddressTypes = written ? TwclAddressTypes(random()) : TwclAddressTypes();
            previous = written;
        }
        for (std::size_t i = random() % 4; i > 0; --i) {
            std::string note = encoded();
            std::erase_if(note, [](char c) { return c == '\r' || c == '\n'; });
            card.ExplanatoryInfo.Notes.push_back(note);
        }
        card.ExplanatoryInfo.Url1 = plain();
        card.ExplanatoryInfo.Url2 = card.ExplanatoryInfo.Url1.empty() ? "" : plain();
        card.Identification.FormattedName = encoded();
        TwclNameRec& n = card.Identification.PersonName;
        for (std::string* s :
             {&n.FamilyName, &n.GivenName, &n.AdditionalNames, &n.NamePrefix, &n.NameSuffix}) {
            *s = encoded();
        }
        previous = true;
        for (TwclEmailRec* e : {&card.TelecomInfo.Email1, &card.TelecomInfo.Email2}) {
            e->EmailAddress = previous ? plain() : "";
            e->EmailType = e->EmailAddress.empty()
                               ? etNone
                               : static_cast<TwclEmailType>(random() % kWclEmailTypeNames.size());
            previous = !e->EmailAddress.empty();
        }
        previous = true;
        for (TwclPhoneRec* p :
             {&card.TelecomInfo.Phone1, &card.TelecomInfo.Phone2, &card.TelecomInfo.Phone3}) {
            p->PhoneNumber = previous ? plain() : "";
            p->PhoneTypes = p->PhoneNumber.empty() ? TwclPhoneTypes() : TwclPhoneTypes(random());
            previous = !p->PhoneNumber.empty();
        }

        std::vector<std::string> lines;
        card.SaveToStrings(lines);
        TwclvCard read;
        read.LoadFromStrings(lines);
        ASSERT_EQ(Describe(read), Describe(card)) << "round " << round << "\n" << Written(card);
        if (round % 20 == 0) {
            const std::string path = temp.Path() + "card.vcf";
            card.SaveToFile(path);
            TwclvCard fromFile;
            fromFile.LoadFromFile(path);
            ASSERT_EQ(Describe(fromFile), Describe(card)) << "round " << round;
        }
    }
}

}  // namespace
}  // namespace kavri
