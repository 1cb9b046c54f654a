#include "editors/CouponCode.h"

#include <array>

namespace kavri {

namespace {

// A full seed for the Mersenne Twister needs more than one 32-bit word, or only
// 2^32 of its series could ever be reached.
std::mt19937 SeededFromSystem() {
    std::random_device device;
    std::array<std::uint32_t, 8> words{};
    for (std::uint32_t& word : words) {
        word = device();
    }
    std::seed_seq sequence(words.begin(), words.end());
    return std::mt19937(sequence);
}

std::mt19937 SeededWith(std::uint64_t seed) {
    std::seed_seq sequence{static_cast<std::uint32_t>(seed),
                           static_cast<std::uint32_t>(seed >> 32)};
    return std::mt19937(sequence);
}

}  // namespace

CouponCodeGenerator::CouponCodeGenerator() : m_engine(SeededFromSystem()) {}

CouponCodeGenerator::CouponCodeGenerator(std::uint64_t seed) : m_engine(SeededWith(seed)) {}

std::string CouponCodeGenerator::Next() {
    std::string code;
    code.reserve(kLength);
    for (std::size_t i = 0; i < kLength; ++i) {
        code.push_back(kAlphabet[m_index(m_engine)]);
    }
    return code;
}

}  // namespace kavri
