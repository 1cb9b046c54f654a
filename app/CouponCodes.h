#pragma once

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <string_view>

#include "app/Result.h"

namespace kavri {

class CampaignStore;

// The source of the codes handed to single devices: six characters from the
// digits and the upper-case letters, each code unique within the data folder.
// A code is unique when no record of any campaign's "accepted.dat" holds it
// (open or redeemed), no campaign uses it as its shared code, and it is not
// reserved for a push still under way, so the coupon check
// finds exactly the one device that received it.
//
// The generator is seeded from std::random_device through a seed sequence
// (tests give a fixed seed), so two runs do not draw the same series.
//
// Lives on the main thread with the store, which must outlive it. Throws
// std::bad_alloc, and std::random_device's exception from the seeding
// constructor when the system has no entropy source.
class CouponCodes {
public:
    static constexpr std::string_view kAlphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    static constexpr std::size_t kLength = 6;
    // Draws per Reserve before it gives up; with 36^6 codes this is only
    // reached by a folder close to full or a broken generator.
    static constexpr int kMaxDraws = 10000;

    explicit CouponCodes(const CampaignStore& store);
    CouponCodes(const CampaignStore& store, std::uint64_t seed);

    // Reads the codes in use anew: "Coupon" and "RedeemedCoupon" of every
    // record of every campaign's "accepted.dat", and each campaign's own
    // "Coupon".
    // Refused, with the codes of before kept, when the campaign list or a
    // file cannot be read: uniqueness could not be vouched for.
    Result Refresh();
    // Draws a code neither in use nor reserved and reserves it.
    Result Reserve(std::string& code);
    // A reserved code that was not handed out after all.
    void Release(const std::string& code);
    // A reserved code now recorded with its device.
    void Commit(const std::string& code);

    bool InUse(const std::string& code) const { return m_inUse.contains(code); }
    bool Reserved(const std::string& code) const { return m_reserved.contains(code); }

private:
    std::string Draw();

    const CampaignStore& m_store;
    std::mt19937_64 m_engine;
    std::uniform_int_distribution<std::size_t> m_index{0, kAlphabet.size() - 1};
    std::set<std::string, std::less<>> m_inUse;
    std::set<std::string, std::less<>> m_reserved;
};

}  // namespace kavri
