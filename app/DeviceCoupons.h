#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/CampaignRecord.h"
#include "app/CouponCodes.h"
#include "app/Result.h"

namespace kavri {

class CampaignStore;
class EventLoop;

// What a per-device picture is made of: the campaign's folder and record (its
// image, text, font and placement) with the device's own code, written as a
// JPEG to OutputPath.
struct CouponRenderJob {
    std::string CampaignFolder;
    CampaignRecord Record;
    std::string Code;
    std::string OutputPath;
};

// Renders one job. Runs on the worker thread and touches only the job.
using CouponRenderer = std::function<Result(const CouponRenderJob& job)>;

// The pictures of a campaign that hands every accepting device its own code
// (CampaignRecord::HandsOutDeviceCodes). For each accepted device it reserves
// a unique code and has the picture with that code rendered on its worker
// thread, into a folder of the cycle inside the campaign folder. The sender's
// file list holds one path of that folder under the campaign's picture name;
// just before a device's push its own picture is renamed to that path, and
// the engine opens it at once, so each device receives its own file under
// the picture's name. The path is unlinked again before the next device's
// picture takes it, so no device can get another's picture: a picture not
// rendered in time leaves the path missing, the push fails unrecorded and the
// device is tried again in a later cycle.
//
// Lives on the main thread; the worker thread only renders and posts the
// result back, guarded by a token that dies with this object. Owns the worker
// (joined by the destructor) and the cycle's folder (removed with every file
// in it at the next cycle, at End and by the destructor). Failures are
// reported through OnFailure with a one-line reason. Throws std::bad_alloc.
class DeviceCoupons {
public:
    DeviceCoupons(EventLoop& loop, const CampaignStore& store);
    DeviceCoupons(EventLoop& loop, const CampaignStore& store, std::uint64_t seed);
    ~DeviceCoupons();

    DeviceCoupons(const DeviceCoupons&) = delete;
    DeviceCoupons& operator=(const DeviceCoupons&) = delete;

    // Without a renderer a campaign with per-device codes sends nothing, as
    // no picture can carry the codes.
    void SetRenderer(CouponRenderer renderer) { m_renderer = std::move(renderer); }

    // The campaign of a new cycle was chosen (empty: none). The previous
    // cycle's pictures are removed and their unused codes released.
    void BeginCycle(const std::string& campaign, const std::string& campaignFolder);
    // While the cycle's campaign hands out device codes: fileName (the
    // campaign's picture) becomes the path in the cycle's folder, or empty
    // when nothing can be sent.
    void GetFile(std::string& fileName);
    // The device was accepted: a code is reserved and its picture queued.
    void DeviceAccepted(const std::string& address);
    // The device's push begins: its picture takes the cycle's path.
    void SendStart(const std::string& address);
    // The device's push ended. Its picture is removed; on success its code is
    // returned (and counted as used), otherwise the code is released.
    std::optional<std::string> SendComplete(const std::string& address, bool success);
    // The device will not be pushed to in this cycle (its connection failed).
    void DeviceDropped(const std::string& address);
    // The sender stopped: everything of the cycle goes.
    void End() { BeginCycle({}, {}); }

    bool Active() const { return m_active; }
    // The device's reserved code, or empty.
    std::string CodeOf(const std::string& address) const;
    // Whether the device's picture is rendered and waiting for its push.
    bool Ready(const std::string& address) const;

    std::function<void(const std::string& message)> OnFailure;

private:
    struct Device {
        std::string Code;
        std::string Path;
        bool Ready = false;
    };
    struct Job {
        std::uint64_t Cycle = 0;
        std::string Address;
        CouponRenderJob Render;
        CouponRenderer Renderer;
    };

    void Work();
    void Rendered(std::uint64_t cycle, const std::string& address, const Result& result);
    void Drop(const std::string& address);
    void Report(const std::string& message);

    EventLoop& m_loop;
    const CampaignStore& m_store;
    CouponCodes m_codes;
    CouponRenderer m_renderer;

    bool m_active = false;
    std::uint64_t m_cycle = 0;
    std::string m_folder;       // the campaign folder of the cycle
    std::string m_cycleFolder;  // ours inside it, with separator
    std::string m_sendPath;     // the path the engine pushes
    CampaignRecord m_record;
    std::map<std::string, Device> m_devices;
    // Numbers the device pictures, so a dropped device's picture still being
    // rendered never shares a name with a later one.
    std::uint64_t m_nextDevice = 0;

    // Dies with this object: results posted after that are dropped.
    std::shared_ptr<int> m_lifeToken = std::make_shared<int>(0);
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_stopping = false;
    std::thread m_worker;
};

}  // namespace kavri
