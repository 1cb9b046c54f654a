#include "app/CouponCodes.h"

#include <array>
#include <vector>

#include "app/CampaignStore.h"
#include "app/DeviceRecords.h"

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
    std::vector<DeviceRecordRow> rows;
    const DeviceRecords records(m_store, m_store.Format());
    if (Result listed = records.List(DeviceRecordKind::Accepted, rows); !listed) {
        return listed;
    }
    std::set<std::string, std::less<>> inUse;
    for (DeviceRecordRow& row : rows) {
        if (!row.Coupon.empty()) {
            inUse.insert(std::move(row.Coupon));
        }
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
