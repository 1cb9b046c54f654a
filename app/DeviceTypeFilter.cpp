#include "app/DeviceTypeFilter.h"

#include "platform/Text.h"

namespace kavri {

namespace {

// Calls item for each comma-separated item of text, trimmed.
template <typename Item>
bool ForEachItem(std::string_view text, Item item) {
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string_view part = TrimBlanks(text.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (!item(part)) {
            return false;
        }
        if (comma == std::string_view::npos) {
            return true;
        }
        start = comma + 1;
    }
}

std::optional<std::size_t> IndexOf(std::string_view name) {
    for (std::size_t i = 0; i < DeviceTypeFilter::kNames.size(); ++i) {
        if (EqualsFoldedAscii(name, DeviceTypeFilter::kNames[i])) {
            return i;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string DeviceTypeFilter::ValidNames() {
    std::string names;
    for (std::string_view name : kNames) {
        names.append(names.empty() ? "" : ", ").append(name);
    }
    return names;
}

Result DeviceTypeFilter::Parse(std::string_view text, DeviceTypeFilter& filter) {
    DeviceTypeFilter parsed;
    if (!TrimBlanks(text).empty()) {
        std::string wrong;
        const bool read = ForEachItem(text, [&](std::string_view name) {
            const std::optional<std::size_t> index = IndexOf(name);
            if (!index) {
                wrong = name.empty() ? "an empty name" : Quoted(name);
                return false;
            }
            parsed.Set(*index, true);
            return true;
        });
        if (!read) {
            return Result::Failure(wrong + " is not a device type (valid: " + ValidNames() + ")");
        }
    }
    filter = parsed;
    return Result::Success();
}

DeviceTypeFilter DeviceTypeFilter::FromStored(std::string_view text) {
    DeviceTypeFilter filter;
    ForEachItem(text, [&filter](std::string_view name) {
        if (const std::optional<std::size_t> index = IndexOf(name)) {
            filter.Set(*index, true);
        }
        return true;
    });
    return filter;
}

std::size_t DeviceTypeFilter::TypeIndex(std::uint32_t classOfDevice) {
    const std::uint32_t major = (classOfDevice & 0x1F00u) >> 8;
    return major >= 1 && major < kNames.size() ? major : 0;
}

bool DeviceTypeFilter::Includes(std::size_t index) const {
    return index < kNames.size() && (m_mask & (1u << index)) != 0;
}

void DeviceTypeFilter::Set(std::size_t index, bool included) {
    if (index >= kNames.size()) {
        return;
    }
    const auto bit = static_cast<std::uint16_t>(1u << index);
    m_mask = static_cast<std::uint16_t>(included ? (m_mask | bit) : (m_mask & ~bit));
}

bool DeviceTypeFilter::Matches(std::optional<std::uint32_t> classOfDevice) const {
    if (AllTypes()) {
        return true;
    }
    return classOfDevice.has_value() && Includes(TypeIndex(*classOfDevice));
}

std::string DeviceTypeFilter::Text() const {
    std::string text;
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        if (Includes(i)) {
            text.append(text.empty() ? "" : ",").append(kNames[i]);
        }
    }
    return text;
}

}  // namespace kavri
