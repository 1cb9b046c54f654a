#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/Result.h"

namespace kavri {

// The device types a campaign is for (the record's "DeviceTypes"): a set of
// the major classes of a class of device, by name, stored as the names in
// table order separated by commas ("Computer,Phone"). The empty set stands for
// every type, so a record without the key serves every device as it always
// has. "Unknown" is every major class without a name of its own: 0, 31 and
// the unassigned 9 to 30. A device whose class of device cannot be read is of
// no known type and only an unrestricted campaign serves it.
//
// The operator's text (kavrictl's --device-types, the editors) is read by
// Parse, which refuses a name it does not know and lists the valid ones; the
// stored text by FromStored, which ignores such names (a record written by a
// later version), and reads as every type when no known name is left, the
// default of a value that does not convert.
//
// A plain value; any thread; throws only std::bad_alloc.
class DeviceTypeFilter {
public:
    // Indexed by the major class for 1 to 8; index 0 holds the rest.
    static constexpr std::array<std::string_view, 9> kNames{
        "Unknown", "Computer", "Phone", "LAN", "Audio", "Peripheral", "Video", "Wearable", "Toy"};
    static constexpr std::string_view kRecordKey = "DeviceTypes";

    // Every type.
    DeviceTypeFilter() = default;

    // Names separated by commas, in any order and letter case, blanks around
    // them ignored; a name given twice counts once; empty or blank text is
    // every type. A refusal says which name is wrong and lists the valid ones.
    static Result Parse(std::string_view text, DeviceTypeFilter& filter);
    static DeviceTypeFilter FromStored(std::string_view text);

    // The index in kNames of a class of device's major class.
    static std::size_t TypeIndex(std::uint32_t classOfDevice);
    // "Unknown, Computer, ..., Toy": for messages and hints.
    static std::string ValidNames();

    bool AllTypes() const { return m_mask == 0; }
    bool Includes(std::size_t index) const;
    // Adds or removes one type; removing the last leaves every type.
    void Set(std::size_t index, bool included);
    // Always true for every type; else whether the class's type is in the set
    // (false for an unknown class).
    bool Matches(std::optional<std::uint32_t> classOfDevice) const;
    // The stored form: empty for every type.
    std::string Text() const;

    bool operator==(const DeviceTypeFilter&) const = default;

private:
    std::uint16_t m_mask = 0;
};

}  // namespace kavri
