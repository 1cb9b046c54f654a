#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace kavri::fuzz {

// A property every input must keep. When it breaks, the input is a finding:
// the program aborts with the property named, so libFuzzer saves the input and
// the replay test fails, with or without a sanitizer.
inline void Check(bool holds, const char* property) {
    if (!holds) {
        std::fprintf(stderr, "fuzz check failed: %s\n", property);
        std::abort();
    }
}

// Takes the input apart front to back; reads past its end give zeros and
// empty views, so a target never needs to bound its own reads.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size)
        : m_text(reinterpret_cast<const char*>(data), data == nullptr ? 0 : size) {}

    bool Empty() const { return m_position >= m_text.size(); }
    std::size_t Left() const { return m_text.size() - m_position; }

    std::uint8_t Byte() { return Empty() ? 0 : static_cast<std::uint8_t>(m_text[m_position++]); }
    std::uint16_t Word() {
        const std::uint16_t high = Byte();
        return static_cast<std::uint16_t>((high << 8) | Byte());
    }
    // The next count bytes, or fewer at the end.
    std::string_view Bytes(std::size_t count) {
        const std::size_t taken = count < Left() ? count : Left();
        const std::string_view part = m_text.substr(m_position, taken);
        m_position += taken;
        return part;
    }
    // Up to the next separator (dropped), or everything left.
    std::string_view Field(char separator) {
        const std::string_view rest = m_text.substr(m_position);
        const std::size_t end = rest.find(separator);
        if (end == std::string_view::npos) {
            m_position = m_text.size();
            return rest;
        }
        m_position += end + 1;
        return rest.substr(0, end);
    }
    std::string_view Rest() { return Bytes(Left()); }

private:
    std::string_view m_text;
    std::size_t m_position = 0;
};

}  // namespace kavri::fuzz
