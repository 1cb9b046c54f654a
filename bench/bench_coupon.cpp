// The cost of handing every accepting device its own coupon code:
//
// BM_RenderDeviceCoupon: one device picture (176 x 220 JPEG, quality 90) made
// from a campaign's stored bitmap, message and font with a new code, as the
// sender's worker thread makes it. Target: 10 ms or less per picture.
//
// BM_DeviceCouponsCycle: one cycle of 200 accepted devices through
// DeviceCoupons on a poll loop: codes reserved and pictures queued on the
// main thread, rendered on the worker, results posted back. Counters:
//   main_ms_per_device  main-thread time of reserving and queueing, per
//                       device (what the sender's event handlers pay)
//   ms_per_picture      wall time until every picture was ready, per device
//
// BM_CodeRefresh: reading the codes in use at the start of a cycle, over 10
// campaigns of 10 000 accepted records each (100 000 codes), then one
// reservation. Runs on the main thread once per cycle of a per-device
// campaign only.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include "app/CampaignRecord.h"
#include "app/CampaignStore.h"
#include "app/CouponCodes.h"
#include "app/DataFolder.h"
#include "app/DeviceCoupons.h"
#include "app/IniFile.h"
#include "editors/DeviceCouponPicture.h"
#include "editors/JpegFile.h"
#include "platform/PollEventLoop.h"

namespace {

namespace fs = std::filesystem;
using namespace kavri;

// A temporary folder, removed with the object.
class TempRoot {
public:
    TempRoot() {
        std::string folder = (fs::temp_directory_path() / "kavri-coupon-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        m_path = folder + "/";
    }
    ~TempRoot() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// A coupon campaign "Spring" with a photo-like bitmap (a gradient with
// shapes, so the JPEG encoder has real work) and a two-line message.
struct Campaign {
    TempRoot root;
    CampaignStore store{DataFolder::Open(root.Path() + "data"), DateFormat::Iso()};
    std::string folder;
    CampaignRecord record;

    Campaign() {
        folder = store.CampaignFolder("Spring");
        fs::create_directories(folder);
        QImage image(176, 220, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                image.setPixel(x, y, qRgb(x, y, (x * y) % 256));
            }
        }
        QPainter painter(&image);
        painter.setBrush(Qt::yellow);
        painter.drawEllipse(20, 30, 120, 90);
        painter.end();
        if (!WriteBmpFile(folder + "promo_original.bmp", image)) {
            std::fprintf(stderr, "cannot write the bitmap\n");
            std::exit(1);
        }
        IniFile settings(folder + "settings.dat", DateFormat::Iso());
        if (!settings.WriteValues("SETTINGS", {{"Name", "Spring"},
                                               {"Type", "2"},
                                               {"Scheduling", "0"},
                                               {"Enabled", "1"},
                                               {"FileName", "Spring.jpg"},
                                               {"MessageName", "Spring"},
                                               {"MessageText", "Spring Sale: 20% off everything"},
                                               {"Coupon", "AB12CD"},
                                               {"CouponEnabled", "1"},
                                               {"CouponPerDevice", "1"},
                                               {"Bottom", "1"},
                                               {"Center", "1"},
                                               {"FontName", "DejaVu Sans"},
                                               {"FontSize", "10"},
                                               {"FontStyle", "1"}})) {
            std::fprintf(stderr, "cannot write the record\n");
            std::exit(1);
        }
        if (!store.Campaigns().Add("SPRING")) {
            std::fprintf(stderr, "cannot list the campaign\n");
            std::exit(1);
        }
        record = store.ReadRecord("Spring");
    }
};

std::string Code(std::size_t i) {
    std::string code = "000000";
    for (std::size_t place = 6; place-- > 0; i /= 36) {
        code[place] = CouponCodes::kAlphabet[i % 36];
    }
    return code;
}

void BM_RenderDeviceCoupon(benchmark::State& state) {
    Campaign campaign;
    const std::string output = campaign.root.Path() + "device.jpg";
    std::size_t i = 0;
    for (auto _ : state) {
        const Result rendered =
            RenderDeviceCoupon({campaign.folder, campaign.record, Code(++i), output});
        if (!rendered) {
            state.SkipWithError(rendered.Message.c_str());
            return;
        }
    }
    state.counters["bytes"] = static_cast<double>(fs::file_size(output));
}

void BM_DeviceCouponsCycle(benchmark::State& state) {
    constexpr int kDevices = 200;
    Campaign campaign;
    PollEventLoop loop;
    double mainSeconds = 0;
    double wallSeconds = 0;
    for (auto _ : state) {
        DeviceCoupons coupons(loop, campaign.store);
        coupons.SetRenderer(&RenderDeviceCoupon);
        std::string failure;
        coupons.OnFailure = [&failure](const std::string& message) { failure = message; };
        const auto start = std::chrono::steady_clock::now();
        coupons.BeginCycle("Spring", campaign.folder);
        std::vector<std::string> addresses;
        for (int d = 0; d < kDevices; ++d) {
            char address[32];
            std::snprintf(address, sizeof address, "(00:00:00:00:%02X:%02X)", d / 256, d % 256);
            addresses.emplace_back(address);
            coupons.DeviceAccepted(addresses.back());
        }
        mainSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        for (const std::string& address : addresses) {
            while (!coupons.Ready(address) && failure.empty()) {
                loop.ProcessEvents(std::chrono::milliseconds(50));
            }
        }
        wallSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!failure.empty()) {
            state.SkipWithError(failure.c_str());
            return;
        }
        coupons.End();
    }
    const double devices = static_cast<double>(state.iterations()) * kDevices;
    state.counters["main_ms_per_device"] = mainSeconds * 1000 / devices;
    state.counters["ms_per_picture"] = wallSeconds * 1000 / devices;
}

void BM_CodeRefresh(benchmark::State& state) {
    constexpr int kCampaigns = 10;
    constexpr int kRecords = 10000;
    TempRoot root;
    CampaignStore store{DataFolder::Open(root.Path() + "data"), DateFormat::Iso()};
    std::size_t code = 0;
    for (int c = 0; c < kCampaigns; ++c) {
        const std::string name = "Campaign " + std::to_string(c);
        const std::string folder = store.CampaignFolder(name);
        fs::create_directories(folder);
        std::string text;
        for (int r = 0; r < kRecords; ++r) {
            char address[32];
            std::snprintf(address, sizeof address, "(00:00:00:%02X:%02X:%02X)", c, r / 256,
                          r % 256);
            text += std::string("[") + address + "]\r\nName=Phone\r\nCOD=Smartphone\r\n" +
                    "DateTime=2026-12-09 10:00:00\r\nCoupon=" + Code(++code) + "\r\n";
        }
        std::FILE* file = std::fopen((folder + "accepted.dat").c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
        if (!store.Campaigns().Add(DataFolder::CampaignFolderName(name))) {
            state.SkipWithError("cannot list a campaign");
            return;
        }
    }
    CouponCodes codes(store);
    for (auto _ : state) {
        const Result refreshed = codes.Refresh();
        std::string reserved;
        if (!refreshed || !codes.Reserve(reserved)) {
            state.SkipWithError("refresh or reserve failed");
            return;
        }
        codes.Release(reserved);
    }
    state.counters["codes"] = static_cast<double>(code);
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    benchmark::Initialize(&argc, argv);
    QGuiApplication application(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RegisterBenchmark("BM_RenderDeviceCoupon", BM_RenderDeviceCoupon)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_DeviceCouponsCycle", BM_DeviceCouponsCycle)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
    benchmark::RegisterBenchmark("BM_CodeRefresh", BM_CodeRefresh)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(5);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
