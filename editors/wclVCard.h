#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavri {

// The business card: one electronic business card in memory (five groups of
// records), written as a vCard 2.1 text and read back from one. The message
// campaign writes its "card.vcf" with it and reads that file again for editing.
//
// Text: every text in the model is std::string holding UTF-8, which is the
// system's 8-bit encoding here. The properties written through EncodeProperty
// carry UTF-8 in quoted-printable form (every byte but ";" escaped); URL, EMAIL
// and TEL carry their text as it is, each control character written as a blank
// so that no text ends its line. On reading, a value tagged "UTF-8" is
// taken as it is, and a value tagged "ISO-8859-5" is converted from that
// Latin/Cyrillic set to UTF-8. Untagged values are taken as their bytes.
//
// Lists of lines are std::vector<std::string>. An entry may hold CR LF pairs
// (an encoded property with soft line breaks is one entry); reading splits
// every entry at its line ends first, so the lines SaveToStrings produced read
// back as the file would. Type sets are std::bitset indexed by the
// TwclAddressType and TwclPhoneType values; the e-mail type is one value.
// Notes are written as their lines each followed by CR LF inside one value,
// which is cut at its line ends again on reading, so notes read back as
// written.
//
// A card file can come from anywhere: LoadFromFile reads at most
// kWclvCardMaxFileSize bytes and kWclvCardMaxLines lines, and every step of
// reading is linear in the text.
//
// Plain values without locking: use one card on one thread at a time.
// Throws wclEvCardFileError when a file cannot be read or written (the card
// unchanged on reading) and wclEvCardConvertError for a malformed
// quoted-printable escape (the fields read before it keep their values), both
// derived from wclEvCardError; otherwise only std::bad_alloc.

inline constexpr std::size_t kWclvCardMaxFileSize = 16u * 1024u * 1024u;
inline constexpr std::size_t kWclvCardMaxLines = 1'000'000;

// Address types, the bit numbers of TwclAddressTypes.
enum TwclAddressType : std::size_t { atDom, atIntl, atPostal, atParcel, atHome, atWork };
using TwclAddressTypes = std::bitset<6>;
inline constexpr std::array<std::string_view, 6> kWclAddressTypeNames{"DOM",    "INTL", "POSTAL",
                                                                      "PARCEL", "HOME", "WORK"};

// Phone types, the bit numbers of TwclPhoneTypes.
enum TwclPhoneType : std::size_t {
    ptPref,
    ptWork,
    ptHome,
    ptVoice,
    ptFax,
    ptMsg,
    ptCell,
    ptPager,
    ptBbs,
    ptModem,
    ptCar,
    ptIsdn,
    ptVideo
};
using TwclPhoneTypes = std::bitset<13>;
inline constexpr std::array<std::string_view, 13> kWclPhoneTypeNames{
    "PREF",  "WORK", "HOME",  "VOICE", "FAX",  "MSG",  "CELL",
    "PAGER", "BBS",  "MODEM", "CAR",   "ISDN", "VIDEO"};

// E-mail types: one value; etNone writes no type.
enum TwclEmailType : std::size_t {
    etNone,
    etAol,
    etAppleLink,
    etAttMail,
    etCis,
    etEWorld,
    etInternet,
    etIbmMail,
    etMciMail,
    etPowerShare,
    etProdigy,
    etTlx,
    etX400
};
inline constexpr std::array<std::string_view, 13> kWclEmailTypeNames{
    "",        "AOL",     "APPLELINK",  "ATTMAIL", "CIS", "EWORLD", "INTERNET",
    "IBMMAIL", "MCIMAIL", "POWERSHARE", "PRODIGY", "TLX", "X400"};

// Base of the card's errors; what() says what failed and why.
class wclEvCardError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A card file that cannot be opened, read or written; Path() names it.
class wclEvCardFileError final : public wclEvCardError {
public:
    wclEvCardFileError(std::string path, const std::string& message)
        : wclEvCardError(message), m_path(std::move(path)) {}
    const std::string& Path() const noexcept { return m_path; }

private:
    std::string m_path;
};

// A quoted-printable value with an escape that is not "=" and two hexadecimal
// digits.
class wclEvCardConvertError final : public wclEvCardError {
public:
    using wclEvCardError::wclEvCardError;
};

// The text of one encoded property: head (the property name, possibly with
// parameters), ";CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:", then values joined
// with ";", every byte but ";" written as "=XX". Soft line breaks ("=" CR LF)
// keep every physical line at 76 characters at most.
std::string EncodeProperty(std::string_view head, const std::vector<std::string>& values);

// Finds, removes, unfolds and decodes one property at a time from a working
// list of lines that the caller owns; each Parse shortens the list, so parsing
// the same name again finds the next occurrence.
class TwclPropertyParser {
public:
    explicit TwclPropertyParser(std::vector<std::string>& lines) : m_lines(lines) {}

    // Parses the first property called name (letter case ignored). Params and
    // Values are both empty when there is none. Throws wclEvCardConvertError.
    void Parse(std::string_view name);

    // The head cut at ";": the property name, then its parameters.
    const std::vector<std::string>& Params() const noexcept { return m_params; }
    // The value cut at ";" into its components.
    const std::vector<std::string>& Values() const noexcept { return m_values; }

private:
    std::vector<std::string>& m_lines;
    std::vector<std::string> m_params;
    std::vector<std::string> m_values;
};

// ORG.
class TwclCompanyRec {
public:
    std::string OrgName;
    std::string OrgUnit;

    void Clear();
    void Load(std::vector<std::string>& lines);
    void Save(std::vector<std::string>& lines) const;
};

// TITLE, ROLE and the company.
class TwclBusinessInfo {
public:
    TwclCompanyRec Company;
    std::string Title;
    std::string Role;

    void Clear();
    void Load(std::vector<std::string>& lines);
    void Save(std::vector<std::string>& lines) const;
};

// One ADR: its types and its seven components in their order.
class TwclAddressRec {
public:
    TwclAddressTypes AddressTypes;
    std::string PostOfficeBox;
    std::string ExtendedAddress;
    std::string Street;
    std::string Locality;
    std::string Region;
    std::string PostalCode;
    std::string Country;

    void Clear();
    // Reads the next ADR left in lines.
    void Load(std::vector<std::string>& lines);
    void Save(std::vector<std::string>& lines) const;
};

class TwclDeliveryInfo {
public:
    TwclAddressRec Address1;
    TwclAddressRec Address2;

    void Clear();
    void Load(std::vector<std::string>& lines);
    void Save(std::vector<std::string>& lines) const;
};

// NOTE (one line per entry) and two URLs.
class TwclExplanatoryInfo {
public:
    std::vector<std::string> Notes;
    std::string Url1;
    std::string Url2;

    void Clear();
    void Load(std::vector<std::string>& lines);
    void Save(std::vector<std::string>& lines) const;
};

// N: the five name components in their order.
class TwclNameRec {
public:
    std::string FamilyName;
    std::string GivenName;
    std::string AdditionalNames;
    std::string NamePrefix;
    std::string NameSuffix;

    void Clear();
    void Load(std::vector<std::string>& lines);
    void Save(std::vector<std::string>& lines) const;
};

// FN and N.
class TwclIdentification {
public:
    std::string FormattedName;
    TwclNameRec PersonName;

    void Clear();
    void Load(std::vector<std::string>& lines);
    void Save(std::vector<std::string>& lines) const;
};

class TwclEmailRec {
public:
    std::string EmailAddress;
    TwclEmailType EmailType = etNone;

    void Clear();
    // Reads the next EMAIL left in lines.
    void Load(std::vector<std::string>& lines);
    void Save(std::vector<std::string>& lines) const;
};

class TwclPhoneRec {
public:
    std::string PhoneNumber;
    TwclPhoneTypes PhoneTypes;

    void Clear();
    // Reads the next TEL left in lines.
    void Load(std::vector<std::string>& lines);
    void Save(std::vector<std::string>& lines) const;
};

class TwclTelecomInfo {
public:
    TwclEmailRec Email1;
    TwclEmailRec Email2;
    TwclPhoneRec Phone1;
    TwclPhoneRec Phone2;
    TwclPhoneRec Phone3;

    void Clear();
    void Load(std::vector<std::string>& lines);
    void Save(std::vector<std::string>& lines) const;
};

class TwclvCard {
public:
    TwclBusinessInfo BusinessInfo;
    TwclDeliveryInfo DeliveryInfo;
    TwclExplanatoryInfo ExplanatoryInfo;
    TwclIdentification Identification;
    TwclTelecomInfo TelecomInfo;

    void Clear();

    // Appends the card's lines to lines: BEGIN, VERSION, the groups' properties,
    // END. Nothing happens when lines is null.
    void SaveToStrings(std::vector<std::string>* lines) const;
    void SaveToStrings(std::vector<std::string>& lines) const { SaveToStrings(&lines); }
    // Writes the lines to path, each followed by CR LF, without a byte-order
    // mark, through a temporary file renamed over path, so a crash leaves the
    // old file or the new one whole. Throws wclEvCardFileError.
    void SaveToFile(const std::string& path) const;

    // Clears the card, then, when lines is not null, reads it from a copy of
    // lines; lines is not changed. Throws wclEvCardConvertError.
    void LoadFromStrings(const std::vector<std::string>* lines);
    void LoadFromStrings(const std::vector<std::string>& lines) { LoadFromStrings(&lines); }
    // Reads the file at path (lines end at CR LF, a lone CR or a lone LF) and
    // loads the card from its lines. A file that cannot be opened or read, is
    // not a regular file, or is larger than the limits throws
    // wclEvCardFileError with the card unchanged; a malformed escape throws
    // wclEvCardConvertError.
    void LoadFromFile(const std::string& path);

private:
    // Clears, then reads the groups in their order from the working list.
    void LoadFromLines(std::vector<std::string>& lines);
};

}  // namespace kavri
