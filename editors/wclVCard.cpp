#include "editors/wclVCard.h"

#include "app/AtomicFile.h"
#include "platform/RegularFile.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>

namespace kavri {

namespace {

constexpr std::string_view kEncodedParams = ";CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:";
// A physical line of an encoded property holds at most 75 characters of
// content and the soft-break "=".
constexpr std::size_t kLineLimit = 76;

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Upper(x) == Upper(y); });
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
    return std::search(text.begin(), text.end(), part.begin(), part.end(),
                       [](char x, char y) { return Upper(x) == Upper(y); }) != text.end();
}

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool IsBlankOrControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F;
}

// A text written as it is (URL, EMAIL, TEL) with each control character as a
// blank: a line break decoded from a card that was read must not end the line
// and add properties to the card written from it.
std::string PlainText(std::string_view text) {
    std::string plain(text);
    std::replace_if(plain.begin(), plain.end(), IsControl, ' ');
    return plain;
}

std::string_view Trim(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlankOrControl(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlankOrControl(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// A line that holds the property name: the name (letter case ignored) right
// before ":" or ";", so looking for N does not find NOTE.
bool StartsProperty(std::string_view line, std::string_view name) {
    return line.size() > name.size() && EqualsNoCase(line.substr(0, name.size()), name) &&
           (line[name.size()] == ':' || line[name.size()] == ';');
}

// Calls add for every line of text. A line ends at CR LF, at a lone CR or at a
// lone LF; a line end at the very end starts no further line.
template <typename Add>
void ForEachLine(std::string_view text, Add&& add) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            add(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < text.size()) {
        add(text.substr(start));
    }
}

std::size_t CountLines(std::string_view text) {
    std::size_t count = 0;
    ForEachLine(text, [&](std::string_view) { ++count; });
    return count;
}

void AppendLines(std::string_view text, std::vector<std::string>& lines) {
    ForEachLine(text, [&](std::string_view line) { lines.emplace_back(line); });
}

// Cuts text at every ";": each piece before a ";" is kept, also an empty one;
// the piece after the last ";" only when it is not empty.
std::vector<std::string> SplitPieces(std::string_view text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t semicolon = text.find(';'); semicolon != std::string_view::npos;
         semicolon = text.find(';', start)) {
        pieces.emplace_back(text.substr(start, semicolon - start));
        start = semicolon + 1;
    }
    if (start < text.size()) {
        pieces.emplace_back(text.substr(start));
    }
    return pieces;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char upper = Upper(c);
    if (upper >= 'A' && upper <= 'F') {
        return upper - 'A' + 10;
    }
    return -1;
}

// An escape as the operator can read it in a message: printable bytes and the
// blank as they are, the others as \xNN.
std::string Printable(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            text.push_back(c);
        } else {
            text.append("\\x").push_back(kDigits[byte >> 4]);
            text.push_back(kDigits[byte & 0x0F]);
        }
    }
    return text;
}

std::string DecodeQuotedPrintable(std::string_view value, std::string_view property) {
    std::string decoded;
    decoded.reserve(value.size());
    std::size_t i = 0;
    while (i < value.size()) {
        if (value[i] != '=') {
            decoded.push_back(value[i]);
            ++i;
            continue;
        }
        const std::size_t after = value.size() - i - 1;
        if (after == 0) {
            // A "=" that ends the value is dropped.
            break;
        }
        if (after == 1) {
            // A "=" with a single character after it at the end of the value:
            // reading two characters would go past the value's end, so the "="
            // is dropped and the character stands for itself.
            decoded.push_back(value[i + 1]);
            break;
        }
        const int high = HexValue(value[i + 1]);
        const int low = HexValue(value[i + 2]);
        if (high < 0 || low < 0) {
            throw wclEvCardConvertError(std::string(property) + ": \"" +
                                        Printable(value.substr(i, 3)) +
                                        "\" is not a valid quoted-printable escape");
        }
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 3;
    }
    return decoded;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// ISO-8859-5 to UTF-8: below 0xA1 the byte is its own code point; the
// Cyrillic letters follow U+0400 in the order of the set, except the soft
// hyphen (0xAD), the numero sign (0xF0) and the section sign (0xFD).
std::string FromIso88595(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        char32_t cp = byte;
        if (byte == 0xAD) {
            cp = 0x00AD;
        } else if (byte == 0xF0) {
            cp = 0x2116;
        } else if (byte == 0xFD) {
            cp = 0x00A7;
        } else if (byte >= 0xA1) {
            cp = 0x0400 + (byte - 0xA0u);
        }
        AppendUtf8(text, cp);
    }
    return text;
}

const std::string& Piece(const std::vector<std::string>& pieces, std::size_t index) {
    static const std::string kEmpty;
    return index < pieces.size() ? pieces[index] : kEmpty;
}

template <std::size_t N>
void AddTypes(std::bitset<N>& set, const std::array<std::string_view, N>& names,
              const std::vector<std::string>& params) {
    for (const std::string& param : params) {
        for (std::size_t type = 0; type < N; ++type) {
            if (EqualsNoCase(param, names[type])) {
                set.set(type);
            }
        }
    }
}

template <std::size_t N>
std::string TypedHead(std::string_view name, const std::bitset<N>& set,
                      const std::array<std::string_view, N>& names) {
    std::string head(name);
    for (std::size_t type = 0; type < N; ++type) {
        if (set.test(type)) {
            head.append(";").append(names[type]);
        }
    }
    return head;
}

bool AnyNotEmpty(std::initializer_list<const std::string*> texts) {
    return std::any_of(texts.begin(), texts.end(),
                       [](const std::string* t) { return !t->empty(); });
}

// The bytes of a regular file of at most kWclvCardMaxFileSize bytes. Anything
// else (a folder, a FIFO that would block, a device without end) is refused.
std::string ReadCardFile(const std::string& path) {
    std::string bytes;
    std::string error;
    if (!ReadRegularFile(path, kWclvCardMaxFileSize, bytes, error)) {
        throw wclEvCardFileError(path, error);
    }
    return bytes;
}

}  // namespace

std::string EncodeProperty(std::string_view head, const std::vector<std::string>& values) {
    std::string text(head);
    text.append(kEncodedParams);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            text.push_back(';');
        }
        // Texts are UTF-8 already.
        text.append(values[i]);
    }
    const std::size_t colon = text.find(':');
    std::string out = text.substr(0, colon + 1);
    out.reserve(out.size() + (text.size() - colon) * 3 + (text.size() / 25 + 1) * 3);
    std::size_t column = out.size();
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::size_t i = colon + 1; i < text.size(); ++i) {
        if (column + 3 >= kLineLimit) {
            out.append("=\r\n");
            column = 0;
        }
        // A ";" stays bare: it separates components, and one inside a value
        // cannot be told apart from a separator.
        if (text[i] == ';') {
            out.push_back(';');
            column += 1;
        } else {
            const auto byte = static_cast<unsigned char>(text[i]);
            out.push_back('=');
            out.push_back(kDigits[byte >> 4]);
            out.push_back(kDigits[byte & 0x0F]);
            column += 3;
        }
    }
    return out;
}

void TwclPropertyParser::Parse(std::string_view name) {
    m_params.clear();
    m_values.clear();
    const auto found = std::find_if(m_lines.begin(), m_lines.end(), [&](const std::string& line) {
        return StartsProperty(line, name);
    });
    if (found == m_lines.end()) {
        return;
    }
    const auto index = static_cast<std::size_t>(found - m_lines.begin());
    std::string text = std::move(*found);
    // Lines joined to the property are removed together with it afterwards, in
    // one step, so that a property folded over many lines costs one pass.
    std::size_t next = index + 1;
    // Only the head says how the value is encoded: a value that merely holds
    // the word must not join the next property to itself.
    if (ContainsNoCase(std::string_view(text).substr(0, text.find(':')), "QUOTED-PRINTABLE")) {
        // A soft line break ("=" at the end) joins the next line.
        while (!text.empty() && text.back() == '=' && next < m_lines.size()) {
            text.pop_back();
            const std::string& line = m_lines[next];
            if (!line.empty() && line.front() == ' ') {
                text.push_back(' ');
                text.append(Trim(line));
            } else {
                text.append(line);
            }
            ++next;
        }
    } else {
        // A line that begins with a blank continues the property.
        while (next < m_lines.size() && !m_lines[next].empty() && m_lines[next].front() == ' ') {
            text.push_back(' ');
            text.append(Trim(m_lines[next]));
            ++next;
        }
    }
    m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(index),
                  m_lines.begin() + static_cast<std::ptrdiff_t>(next));

    const std::string_view whole = Trim(text);
    if (whole.empty()) {
        return;
    }
    // A property without ":" is all head and has no value.
    const std::size_t colon = whole.find(':');
    const std::string_view head = whole.substr(0, colon);
    std::string value(colon == std::string_view::npos ? std::string_view()
                                                      : whole.substr(colon + 1));
    if (ContainsNoCase(head, "QUOTED-PRINTABLE")) {
        value = DecodeQuotedPrintable(Trim(value), name);
    }
    // "UTF-8" values need no conversion: texts are UTF-8. The charset names are
    // matched in their exact letter case.
    if (head.find("ISO-8859-5") != std::string_view::npos) {
        value = FromIso88595(value);
    }
    m_params = SplitPieces(head);
    m_values = SplitPieces(value);
}

void TwclCompanyRec::Clear() {
    OrgName.clear();
    OrgUnit.clear();
}

void TwclCompanyRec::Load(std::vector<std::string>& lines) {
    Clear();
    TwclPropertyParser parser(lines);
    parser.Parse("ORG");
    OrgName = Piece(parser.Values(), 0);
    OrgUnit = Piece(parser.Values(), 1);
}

void TwclCompanyRec::Save(std::vector<std::string>& lines) const {
    if (AnyNotEmpty({&OrgName, &OrgUnit})) {
        lines.push_back(EncodeProperty("ORG", {OrgName, OrgUnit}));
    }
}

void TwclBusinessInfo::Clear() {
    Company.Clear();
    Title.clear();
    Role.clear();
}

void TwclBusinessInfo::Load(std::vector<std::string>& lines) {
    Clear();
    Company.Load(lines);
    TwclPropertyParser parser(lines);
    parser.Parse("TITLE");
    Title = Piece(parser.Values(), 0);
    parser.Parse("ROLE");
    Role = Piece(parser.Values(), 0);
}

void TwclBusinessInfo::Save(std::vector<std::string>& lines) const {
    Company.Save(lines);
    if (!Title.empty()) {
        lines.push_back(EncodeProperty("TITLE", {Title}));
    }
    if (!Role.empty()) {
        lines.push_back(EncodeProperty("ROLE", {Role}));
    }
}

void TwclAddressRec::Clear() {
    AddressTypes.reset();
    PostOfficeBox.clear();
    ExtendedAddress.clear();
    Street.clear();
    Locality.clear();
    Region.clear();
    PostalCode.clear();
    Country.clear();
}

void TwclAddressRec::Load(std::vector<std::string>& lines) {
    Clear();
    TwclPropertyParser parser(lines);
    parser.Parse("ADR");
    const std::vector<std::string>& v = parser.Values();
    PostOfficeBox = Piece(v, 0);
    ExtendedAddress = Piece(v, 1);
    Street = Piece(v, 2);
    Locality = Piece(v, 3);
    Region = Piece(v, 4);
    PostalCode = Piece(v, 5);
    Country = Piece(v, 6);
    AddTypes(AddressTypes, kWclAddressTypeNames, parser.Params());
}

void TwclAddressRec::Save(std::vector<std::string>& lines) const {
    if (AnyNotEmpty({&PostOfficeBox, &ExtendedAddress, &Street, &Locality, &Region, &PostalCode,
                     &Country})) {
        lines.push_back(EncodeProperty(
            TypedHead("ADR", AddressTypes, kWclAddressTypeNames),
            {PostOfficeBox, ExtendedAddress, Street, Locality, Region, PostalCode, Country}));
    }
}

void TwclDeliveryInfo::Clear() {
    Address1.Clear();
    Address2.Clear();
}

void TwclDeliveryInfo::Load(std::vector<std::string>& lines) {
    Clear();
    Address1.Load(lines);
    Address2.Load(lines);
}

void TwclDeliveryInfo::Save(std::vector<std::string>& lines) const {
    Address1.Save(lines);
    Address2.Save(lines);
}

void TwclExplanatoryInfo::Clear() {
    Notes.clear();
    Url1.clear();
    Url2.clear();
}

void TwclExplanatoryInfo::Load(std::vector<std::string>& lines) {
    Clear();
    TwclPropertyParser parser(lines);
    parser.Parse("NOTE");
    // The note is written as its lines each followed by CR LF, so a component
    // is cut at its line ends again; that way the notes read back as written.
    for (const std::string& component : parser.Values()) {
        if (component.empty()) {
            Notes.emplace_back();
        } else {
            AppendLines(component, Notes);
        }
    }
    parser.Parse("URL");
    Url1 = Piece(parser.Values(), 0);
    parser.Parse("URL");
    Url2 = Piece(parser.Values(), 0);
}

void TwclExplanatoryInfo::Save(std::vector<std::string>& lines) const {
    if (!Notes.empty()) {
        std::string note;
        for (const std::string& line : Notes) {
            note.append(line).append("\r\n");
        }
        lines.push_back(EncodeProperty("NOTE", {note}));
    }
    // URLs are written as they are, not encoded.
    if (!Url1.empty()) {
        lines.push_back("URL:" + PlainText(Url1));
    }
    if (!Url2.empty()) {
        lines.push_back("URL:" + PlainText(Url2));
    }
}

void TwclNameRec::Clear() {
    FamilyName.clear();
    GivenName.clear();
    AdditionalNames.clear();
    NamePrefix.clear();
    NameSuffix.clear();
}

void TwclNameRec::Load(std::vector<std::string>& lines) {
    Clear();
    TwclPropertyParser parser(lines);
    parser.Parse("N");
    const std::vector<std::string>& v = parser.Values();
    FamilyName = Piece(v, 0);
    GivenName = Piece(v, 1);
    AdditionalNames = Piece(v, 2);
    NamePrefix = Piece(v, 3);
    NameSuffix = Piece(v, 4);
}

void TwclNameRec::Save(std::vector<std::string>& lines) const {
    if (AnyNotEmpty({&FamilyName, &GivenName, &AdditionalNames, &NamePrefix, &NameSuffix})) {
        lines.push_back(
            EncodeProperty("N", {FamilyName, GivenName, AdditionalNames, NamePrefix, NameSuffix}));
    }
}

void TwclIdentification::Clear() {
    FormattedName.clear();
    PersonName.Clear();
}

void TwclIdentification::Load(std::vector<std::string>& lines) {
    Clear();
    PersonName.Load(lines);
    TwclPropertyParser parser(lines);
    parser.Parse("FN");
    FormattedName = Piece(parser.Values(), 0);
}

void TwclIdentification::Save(std::vector<std::string>& lines) const {
    if (!FormattedName.empty()) {
        lines.push_back(EncodeProperty("FN", {FormattedName}));
    }
    PersonName.Save(lines);
}

void TwclEmailRec::Clear() {
    EmailAddress.clear();
    EmailType = etNone;
}

void TwclEmailRec::Load(std::vector<std::string>& lines) {
    Clear();
    TwclPropertyParser parser(lines);
    parser.Parse("EMAIL");
    EmailAddress = Piece(parser.Values(), 0);
    // The highest type named among the parameters wins.
    const std::vector<std::string>& params = parser.Params();
    for (std::size_t i = 1; i < params.size(); ++i) {
        for (std::size_t type = etNone + 1; type < kWclEmailTypeNames.size(); ++type) {
            if (EqualsNoCase(params[i], kWclEmailTypeNames[type]) && type > EmailType) {
                EmailType = static_cast<TwclEmailType>(type);
            }
        }
    }
}

void TwclEmailRec::Save(std::vector<std::string>& lines) const {
    if (EmailAddress.empty()) {
        return;
    }
    // Written as it is, not encoded. A value outside the table counts as none.
    if (EmailType != etNone && EmailType < kWclEmailTypeNames.size()) {
        lines.push_back("EMAIL;" + std::string(kWclEmailTypeNames[EmailType]) + ":" +
                        PlainText(EmailAddress));
    } else {
        lines.push_back("EMAIL:" + PlainText(EmailAddress));
    }
}

void TwclPhoneRec::Clear() {
    PhoneNumber.clear();
    PhoneTypes.reset();
}

void TwclPhoneRec::Load(std::vector<std::string>& lines) {
    Clear();
    TwclPropertyParser parser(lines);
    parser.Parse("TEL");
    PhoneNumber = Piece(parser.Values(), 0);
    AddTypes(PhoneTypes, kWclPhoneTypeNames, parser.Params());
}

void TwclPhoneRec::Save(std::vector<std::string>& lines) const {
    // Written as it is, not encoded.
    if (!PhoneNumber.empty()) {
        lines.push_back(TypedHead("TEL", PhoneTypes, kWclPhoneTypeNames) + ":" +
                        PlainText(PhoneNumber));
    }
}

void TwclTelecomInfo::Clear() {
    Email1.Clear();
    Email2.Clear();
    Phone1.Clear();
    Phone2.Clear();
    Phone3.Clear();
}

void TwclTelecomInfo::Load(std::vector<std::string>& lines) {
    Clear();
    Email1.Load(lines);
    Email2.Load(lines);
    Phone1.Load(lines);
    Phone2.Load(lines);
    Phone3.Load(lines);
}

void TwclTelecomInfo::Save(std::vector<std::string>& lines) const {
    Email1.Save(lines);
    Email2.Save(lines);
    Phone1.Save(lines);
    Phone2.Save(lines);
    Phone3.Save(lines);
}

void TwclvCard::Clear() {
    BusinessInfo.Clear();
    DeliveryInfo.Clear();
    ExplanatoryInfo.Clear();
    Identification.Clear();
    TelecomInfo.Clear();
}

void TwclvCard::SaveToStrings(std::vector<std::string>* lines) const {
    if (lines == nullptr) {
        return;
    }
    lines->emplace_back("BEGIN:VCARD");
    lines->emplace_back("VERSION:2.1");
    BusinessInfo.Save(*lines);
    DeliveryInfo.Save(*lines);
    ExplanatoryInfo.Save(*lines);
    Identification.Save(*lines);
    TelecomInfo.Save(*lines);
    lines->emplace_back("END:VCARD");
}

void TwclvCard::SaveToFile(const std::string& path) const {
    std::vector<std::string> lines;
    SaveToStrings(&lines);
    std::string bytes;
    for (const std::string& line : lines) {
        bytes.append(line).append("\r\n");
    }
    if (const Result written = WriteFileAtomically(path, bytes); !written) {
        throw wclEvCardFileError(path, "cannot write " + path + " (" + written.Message + ")");
    }
}

void TwclvCard::LoadFromStrings(const std::vector<std::string>* lines) {
    Clear();
    if (lines == nullptr) {
        return;
    }
    std::vector<std::string> working;
    working.reserve(lines->size());
    for (const std::string& entry : *lines) {
        if (entry.empty()) {
            working.emplace_back();
        } else {
            AppendLines(entry, working);
        }
    }
    LoadFromLines(working);
}

void TwclvCard::LoadFromFile(const std::string& path) {
    const std::string bytes = ReadCardFile(path);
    const std::size_t count = CountLines(bytes);
    if (count > kWclvCardMaxLines) {
        throw wclEvCardFileError(path, "cannot read " + path + ": more than " +
                                           std::to_string(kWclvCardMaxLines) + " lines");
    }
    std::vector<std::string> lines;
    lines.reserve(count);
    AppendLines(bytes, lines);
    LoadFromLines(lines);
}

void TwclvCard::LoadFromLines(std::vector<std::string>& lines) {
    Clear();
    BusinessInfo.Load(lines);
    DeliveryInfo.Load(lines);
    ExplanatoryInfo.Load(lines);
    Identification.Load(lines);
    TelecomInfo.Load(lines);
}

}  // namespace kavri
