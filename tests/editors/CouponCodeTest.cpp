#include "editors/CouponCode.h"

#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kavri {
namespace {

TEST(CouponCodeTest, CodesAreSixCharactersOfTheAlphabetAndUseAllOfIt) {
    // Situation: 2000 codes from a generator seeded by the system.
    // Expected: each has six characters from 0-9 and A-Z, and every one of
    // the 36 characters turns up somewhere.
    CouponCodeGenerator generator;
    std::array<int, 36> seen{};
    for (int i = 0; i < 2000; ++i) {
        const std::string code = generator.Next();
        ASSERT_EQ(code.size(), 6u) << code;
        for (char c : code) {
            const std::size_t index = CouponCodeGenerator::kAlphabet.find(c);
            ASSERT_NE(index, std::string_view::npos) << code;
            ++seen[index];
        }
    }
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_GT(seen[i], 0) << CouponCodeGenerator::kAlphabet[i];
    }
}

TEST(CouponCodeTest, CharactersAreDrawnEvenly) {
    // Situation: 36000 characters from a fixed seed (so the counts are the
    // same on every run).
    // Expected: every character within 15% of its fair share of 1000.
    CouponCodeGenerator generator(20261209);
    std::array<int, 36> counts{};
    for (int i = 0; i < 6000; ++i) {
        for (char c : generator.Next()) {
            ++counts[CouponCodeGenerator::kAlphabet.find(c)];
        }
    }
    for (std::size_t i = 0; i < counts.size(); ++i) {
        EXPECT_GT(counts[i], 850) << CouponCodeGenerator::kAlphabet[i];
        EXPECT_LT(counts[i], 1150) << CouponCodeGenerator::kAlphabet[i];
    }
}

std::vector<std::string> Series(CouponCodeGenerator& generator, int count) {
    std::vector<std::string> codes;
    for (int i = 0; i < count; ++i) {
        codes.push_back(generator.Next());
    }
    return codes;
}

TEST(CouponCodeTest, SameSeedRepeatsAndOtherSeedsDiffer) {
    // Situation: two generators with seed 7, one with seed 8, and one whose
    // seed differs only in its upper 32 bits.
    // Expected: the first two give the same series; the others a different one.
    CouponCodeGenerator first(7);
    CouponCodeGenerator second(7);
    CouponCodeGenerator other(8);
    CouponCodeGenerator high((std::uint64_t{1} << 32) | 7);
    const std::vector<std::string> series = Series(first, 5);
    EXPECT_EQ(Series(second, 5), series);
    EXPECT_NE(Series(other, 5), series);
    EXPECT_NE(Series(high, 5), series);
}

TEST(CouponCodeTest, SystemSeededGeneratorsDiffer) {
    // Situation: two generators seeded by the system, as two program starts.
    // Expected: different series (the chance of four equal codes is 36^-24).
    CouponCodeGenerator first;
    CouponCodeGenerator second;
    EXPECT_NE(Series(first, 4), Series(second, 4));
}

}  // namespace
}  // namespace kavri
