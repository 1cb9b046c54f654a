#pragma once

// The large data folder that the record benchmarks read: campaigns whose
// device files hold 50 000 records each, dated over the fortnight from 1 to 14
// December 2026, written directly in their stored form.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "app/DataFolder.h"
#include "app/DateFormat.h"
#include "app/IniFile.h"

#include <stdlib.h>

namespace kavri::bench {

inline constexpr int kRecordsPerFile = 50'000;
// Records are dated day 1 + i % 14 of December.
inline constexpr int kRecordDays = 14;

// A temporary folder named after prefix, removed with the object.
class TempRoot {
public:
    explicit TempRoot(const char* prefix) {
        std::string folder =
            (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (::mkdtemp(folder.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        m_path = folder;
    }
    ~TempRoot() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// The address of record i of a campaign's file of that kind (0 accepted,
// 1 rejected); every address of the folder differs.
inline std::string RecordAddress(int campaign, int kind, int i) {
    char text[24];
    std::snprintf(text, sizeof text, "(%02X:%02X:00:%02X:%02X:%02X)", campaign & 0xFF, kind & 0xFF,
                  (i >> 16) & 0xFF, (i >> 8) & 0xFF, i & 0xFF);
    return text;
}

// One device file (kind 0: "accepted.dat" with a coupon, 1: "rejected.dat").
inline void WriteDeviceRecords(const std::string& path, int campaign, int kind) {
    std::string text;
    text.reserve(4u << 20);
    char dateTime[32];
    for (int i = 0; i < kRecordsPerFile; ++i) {
        std::snprintf(dateTime, sizeof dateTime, "2026-12-%02d %02d:%02d:%02d", 1 + i % kRecordDays,
                      i % 24, i % 60, (i / 60) % 60);
        text.append("[").append(RecordAddress(campaign, kind, i)).append("]\r\n");
        text.append("Name=Phone ").append(std::to_string(i)).append("\r\n");
        text.append("COD=Smartphone\r\nDateTime=").append(dateTime).append("\r\n");
        if (kind == 0) {
            text.append("Coupon=AB12CD\r\n");
        }
    }
    std::ofstream(path, std::ios::binary) << text;
}

// Campaign "Campaign <index>", listed, continuous, with its accepted file and,
// when asked, its rejected file.
inline void AddRecordCampaign(const DataFolder& data, int index, bool enabled, bool withRejected) {
    const std::string name = "Campaign " + std::to_string(index);
    const std::string folder = data.CampaignFolder(name);
    std::filesystem::create_directories(folder);
    IniFile record(folder + "settings.dat", DateFormat::Iso());
    if (const Result written = record.WriteValues("SETTINGS", {{"Name", name},
                                                               {"Type", "0"},
                                                               {"Scheduling", "0"},
                                                               {"Enabled", enabled ? "1" : "0"},
                                                               {"FileName", "promo.jpg"}});
        !written) {
        std::fprintf(stderr, "cannot write the campaign: %s\n", written.Message.c_str());
        std::exit(1);
    }
    std::ofstream(data.CampaignsFile(), std::ios::binary | std::ios::app)
        << DataFolder::CampaignFolderName(name) << "\r\n";
    WriteDeviceRecords(folder + "accepted.dat", index, 0);
    if (withRejected) {
        WriteDeviceRecords(folder + "rejected.dat", index, 1);
    }
}

}  // namespace kavri::bench
