#include "app/CouponCodes.h"

#include <array>

#include "app/CampaignList.h"
#include "app/CampaignRecord.h"
#include "app/CampaignStore.h"
#include "app/IniFile.h"
#include "app/SendingDecisions.h"

namespace kavri {

namespace {

std::mt19937_64 SeededEngine() {
    // Eight words of entropy: a single 32-bit seed would leave a 64-bit
    // engine with only 2^32 possible series.
    std::random_device device;
    std::array<std::uint32_t, 8> words{};
    for (std::uint32_t& word : words) {
        word = device();
    }
    std::seed_seq sequence(words.begin(), words.end());
    return std::mt19937_64(sequence);
}

}  // namespace

CouponCodes::CouponCodes(const CampaignStore& store) : m_store(store), m_engine(SeededEngine()) {}

CouponCodes::CouponCodes(const CampaignStore& store, std::uint64_t seed)
    : m_store(store), m_engine(seed) {}

Result CouponCodes::Refresh() {
    const CampaignList& campaigns = m_store.Campaigns();
    if (!campaigns.LoadError().empty()) {
        return Result::Failure(campaigns.LoadError());
    }
    std::set<std::string, std::less<>> inUse;
    const auto add = [&inUse](std::string code) {
        if (!code.empty()) {
            inUse.insert(std::move(code));
        }
    };
    for (const std::string& name : campaigns.Names()) {
        // A campaign's one shared code would make the check find its devices
        // along with the one device given the same code.
        add(m_store.ReadRecord(name).Coupon);
        const IniFile::Snapshot accepted =
            IniFile(m_store.CampaignFolder(name) + std::string(SendingDecisions::kAcceptedFile),
                    m_store.Format())
                .ReadSnapshot();
        if (!accepted.Error().empty()) {
            return Result::Failure(accepted.Error());
        }
        // Redeemed codes too: a code handed out again would be reported as
        // good and as used at once.
        accepted.ForEachSection([&](const IniFile::SectionView& device) {
            add(device.ReadString("Coupon", ""));
            add(device.ReadString("RedeemedCoupon", ""));
        });
    }
    m_inUse = std::move(inUse);
    return Result::Success();
}

std::string CouponCodes::Draw() {
    std::string code(kLength, ' ');
    for (char& c : code) {
        c = kAlphabet[m_index(m_engine)];
    }
    return code;
}

Result CouponCodes::Reserve(std::string& code) {
    for (int draw = 0; draw < kMaxDraws; ++draw) {
        std::string candidate = Draw();
        if (!m_inUse.contains(candidate) && !m_reserved.contains(candidate)) {
            m_reserved.insert(candidate);
            code = std::move(candidate);
            return Result::Success();
        }
    }
    return Result::Failure("no unused coupon code found in " + std::to_string(kMaxDraws) +
                           " draws");
}

void CouponCodes::Release(const std::string& code) {
    m_reserved.erase(code);
}

void CouponCodes::Commit(const std::string& code) {
    if (m_reserved.erase(code) > 0) {
        m_inUse.insert(code);
    }
}

}  // namespace kavri
