#include "app/DeviceCoupons.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

#include <signal.h>
#include <unistd.h>

#include "app/CampaignStore.h"
#include "platform/EventLoop.h"

namespace kavri {

namespace {

constexpr std::string_view kCycleFolderPrefix = ".coupons-";

// Removes the cycle folders that a process which no longer exists left in
// folder: a killed sender never removes its own.
void RemoveStaleCycleFolders(const std::string& folder) {
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        if (!name.starts_with(kCycleFolderPrefix)) {
            continue;
        }
        const std::string rest = name.substr(kCycleFolderPrefix.size());
        const std::size_t dash = rest.find('-');
        if (dash == 0 || dash == std::string::npos || dash > 9 ||
            rest.find_first_not_of("0123456789") != dash) {
            continue;
        }
        const pid_t pid = static_cast<pid_t>(std::stol(rest.substr(0, dash)));
        if (pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH) {
            std::error_code ignored;
            std::filesystem::remove_all(entries->path(), ignored);
        }
    }
}

void RemoveFile(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

}  // namespace

DeviceCoupons::DeviceCoupons(EventLoop& loop, const CampaignStore& store)
    : m_loop(loop), m_store(store), m_codes(store) {}

DeviceCoupons::DeviceCoupons(EventLoop& loop, const CampaignStore& store, std::uint64_t seed)
    : m_loop(loop), m_store(store), m_codes(store, seed) {}

DeviceCoupons::~DeviceCoupons() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    if (m_worker.joinable()) {
        m_worker.join();
    }
    m_lifeToken.reset();
    try {
        End();
    } catch (...) {
        // Only allocation can fail here; the files stay until the next start.
    }
}

void DeviceCoupons::BeginCycle(const std::string& campaign, const std::string& campaignFolder) {
    {
        // Queued pictures of the cycle that ends are no longer wanted.
        std::lock_guard lock(m_mutex);
        m_jobs.clear();
    }
    for (const auto& [address, device] : m_devices) {
        m_codes.Release(device.Code);
    }
    m_devices.clear();
    if (!m_cycleFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_cycleFolder, ignored);
    }
    m_active = false;
    m_cycleFolder.clear();
    m_sendPath.clear();
    m_folder = campaignFolder;
    ++m_cycle;
    if (campaign.empty()) {
        return;
    }
    m_record = m_store.ReadRecord(campaign);
    if (!m_record.HandsOutDeviceCodes()) {
        return;
    }
    m_active = true;
    if (!m_renderer) {
        Report("campaign " + campaign +
               " hands out a code per device, but this program cannot render pictures");
        return;
    }
    if (Result read = m_codes.Refresh(); !read) {
        Report("no coupon codes handed out in this cycle: " + read.Message);
        return;
    }
    RemoveStaleCycleFolders(m_folder);
    const std::string folder = m_folder + std::string(kCycleFolderPrefix) +
                               std::to_string(::getpid()) + "-" + std::to_string(m_cycle);
    std::error_code error;
    if (!std::filesystem::create_directory(folder, error) || error) {
        Report("cannot create " + folder + ": " + error.message());
        return;
    }
    m_cycleFolder = folder + "/";
    m_sendPath = m_cycleFolder + m_record.FileName;
}

void DeviceCoupons::GetFile(std::string& fileName) {
    if (!m_active) {
        return;
    }
    // An empty record name would push the cycle's folder itself.
    fileName = m_record.FileName.empty() ? std::string() : m_sendPath;
}

void DeviceCoupons::DeviceAccepted(const std::string& address) {
    if (m_sendPath.empty() || m_record.FileName.empty() || m_devices.contains(address)) {
        return;
    }
    std::string code;
    if (Result reserved = m_codes.Reserve(code); !reserved) {
        Report("no coupon code for " + address + ": " + reserved.Message);
        return;
    }
    Device& device = m_devices[address];
    device.Code = code;
    device.Path = m_cycleFolder + ".device-" + std::to_string(++m_nextDevice);
    Job job{m_cycle, address, CouponRenderJob{m_folder, m_record, code, device.Path}, m_renderer};
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    if (!m_worker.joinable()) {
        m_worker = std::thread([this] { Work(); });
    }
    m_wake.notify_one();
}

void DeviceCoupons::Work() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping) {
                return;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        Result result = Result::Failure("no renderer");
        try {
            if (job.Renderer) {
                result = job.Renderer(job.Render);
            }
        } catch (const std::exception& e) {
            // An exception never crosses a thread: it becomes the failure.
            result = Result::Failure(e.what());
        }
        std::weak_ptr<int> life = m_lifeToken;
        m_loop.Post([this, life, cycle = job.Cycle, address = std::move(job.Address),
                     result = std::move(result)] {
            if (!life.expired()) {
                Rendered(cycle, address, result);
            }
        });
    }
}

void DeviceCoupons::Rendered(std::uint64_t cycle, const std::string& address,
                             const Result& result) {
    const auto found = m_devices.find(address);
    if (cycle != m_cycle || found == m_devices.end()) {
        return;
    }
    if (!result) {
        Report("cannot render the coupon picture for " + address + ": " + result.Message);
        Drop(address);
        return;
    }
    found->second.Ready = true;
}

void DeviceCoupons::SendStart(const std::string& address) {
    if (!m_active || m_sendPath.empty()) {
        return;
    }
    // Whatever an earlier device left at the path goes first: the engine
    // opens the path right after this, and must find this device's picture
    // or nothing.
    RemoveFile(m_sendPath);
    const auto found = m_devices.find(address);
    if (found == m_devices.end() || !found->second.Ready) {
        return;
    }
    if (::rename(found->second.Path.c_str(), m_sendPath.c_str()) != 0) {
        Report("cannot hand " + address +
               " its coupon picture: " + std::error_code(errno, std::generic_category()).message());
    }
}

std::optional<std::string> DeviceCoupons::SendComplete(const std::string& address, bool success) {
    if (!m_active) {
        return std::nullopt;
    }
    // The engine holds the file open for as long as it reads it; the name
    // is not needed once the push ended, whatever its outcome.
    RemoveFile(m_sendPath);
    const auto found = m_devices.find(address);
    if (found == m_devices.end()) {
        return std::nullopt;
    }
    if (!success || !found->second.Ready) {
        Drop(address);
        return std::nullopt;
    }
    std::string code = found->second.Code;
    RemoveFile(found->second.Path);
    m_codes.Commit(code);
    m_devices.erase(found);
    return code;
}

void DeviceCoupons::DeviceDropped(const std::string& address) {
    if (m_devices.contains(address)) {
        Drop(address);
    }
}

void DeviceCoupons::Drop(const std::string& address) {
    const auto found = m_devices.find(address);
    RemoveFile(found->second.Path);
    m_codes.Release(found->second.Code);
    m_devices.erase(found);
}

std::string DeviceCoupons::CodeOf(const std::string& address) const {
    const auto found = m_devices.find(address);
    return found == m_devices.end() ? std::string() : found->second.Code;
}

bool DeviceCoupons::Ready(const std::string& address) const {
    const auto found = m_devices.find(address);
    return found != m_devices.end() && found->second.Ready;
}

void DeviceCoupons::Report(const std::string& message) {
    if (OnFailure) {
        OnFailure(message);
    }
}

}  // namespace kavri
