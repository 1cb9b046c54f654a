#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace kavri {

// Makes the coupon codes that the coupon editor offers: six characters, each
// drawn independently and uniformly from the digits and the upper-case letters
// A-Z. Codes are not checked for uniqueness; an operator who needs unique codes
// types them.
//
// The engine is seeded from std::random_device through a seed sequence, so a
// program started twice does not hand out the same codes again (a generator
// left unseeded would). Tests give a fixed seed to get a reproducible series.
//
// A plain object with no shared state: each owner (an editor) has its own, and
// one object is used from one thread. Throws std::bad_alloc, and
// std::random_device's exception when the system has no entropy source.
class CouponCodeGenerator {
public:
    static constexpr std::string_view kAlphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    static constexpr std::size_t kLength = 6;

    // Seeded from the system's entropy source.
    CouponCodeGenerator();
    // Seeded with seed: the same seed gives the same codes.
    explicit CouponCodeGenerator(std::uint64_t seed);

    std::string Next();

private:
    std::mt19937 m_engine;
    std::uniform_int_distribution<std::size_t> m_index{0, kAlphabet.size() - 1};
};

}  // namespace kavri
