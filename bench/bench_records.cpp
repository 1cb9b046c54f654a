// The record views over a large data folder: 20 campaigns, each with 50 000
// devices in "accepted.dat" and 50 000 in "rejected.dat" (2 000 000 records
// in all), dated over the fortnight from 1 to 14 December 2026.
//
// BM_StatisticsCold: the counts of the statistics view for the first week,
// with the parse cache emptied first, so all 40 files are read and parsed, as
// the first "Show" after a start does. BM_StatisticsWarm: the same again with
// the files already parsed. Target: one second or less.
//
// BM_ListAcceptedCold and BM_ListAcceptedWarm: every accepted record of the
// 20 campaigns as the accepted-devices view lists them (1 000 000 rows, each
// date-time formatted for display). Target: one second or less.
//
// Every run checks its result: the counts and the number of rows must be
// exactly those written, or the benchmark fails.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/CampaignStore.h"
#include "app/DataFolder.h"
#include "app/DateFormat.h"
#include "app/DeviceRecords.h"
#include "app/IniFile.h"
#include "app/Statistics.h"

#include <stdlib.h>

namespace {

namespace fs = std::filesystem;

constexpr int kCampaigns = 20;
constexpr int kRecordsPerFile = 50'000;
// Records are dated day 1 + i % 14 of December, so the first week holds
// exactly half of them.
constexpr int kDays = 14;
constexpr int kWeek = 7;

class TempRoot {
public:
    TempRoot() {
        std::string folder = (fs::temp_directory_path() / "kavri-bench-records-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        m_path = folder;
    }
    ~TempRoot() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

std::string Address(int campaign, int kind, int i) {
    char text[24];
    std::snprintf(text, sizeof text, "(%02X:%02X:00:%02X:%02X:%02X)", campaign & 0xFF, kind & 0xFF,
                  (i >> 16) & 0xFF, (i >> 8) & 0xFF, i & 0xFF);
    return text;
}

// One device file in its stored form, written directly.
void WriteRecords(const std::string& path, int campaign, int kind) {
    std::string text;
    text.reserve(4u << 20);
    char dateTime[32];
    for (int i = 0; i < kRecordsPerFile; ++i) {
        std::snprintf(dateTime, sizeof dateTime, "2026-12-%02d %02d:%02d:%02d", 1 + i % kDays,
                      i % 24, i % 60, (i / 60) % 60);
        text.append("[").append(Address(campaign, kind, i)).append("]\r\n");
        text.append("Name=Phone ").append(std::to_string(i)).append("\r\n");
        text.append("COD=Smartphone\r\nDateTime=").append(dateTime).append("\r\n");
        if (kind == 0) {
            text.append("Coupon=AB12CD\r\n");
        }
    }
    std::ofstream(path, std::ios::binary) << text;
}

void AddCampaign(const kavri::DataFolder& data, int index) {
    const std::string name = "Campaign " + std::to_string(index);
    const std::string folder = data.CampaignFolder(name);
    fs::create_directories(folder);
    kavri::IniFile record(folder + "settings.dat", kavri::DateFormat::Iso());
    if (!record.WriteValues("SETTINGS", {{"Name", name},
                                         {"Type", "0"},
                                         {"Scheduling", "0"},
                                         {"Enabled", index % 2 == 0 ? "1" : "0"},
                                         {"FileName", "promo.jpg"}})) {
        std::fprintf(stderr, "cannot write the campaign: %s\n", record.LastError().c_str());
        std::exit(1);
    }
    std::ofstream(data.CampaignsFile(), std::ios::binary | std::ios::app)
        << kavri::DataFolder::CampaignFolderName(name) << "\r\n";
    WriteRecords(folder + "accepted.dat", index, 0);
    WriteRecords(folder + "rejected.dat", index, 1);
}

// The data folder, made once for every benchmark of the run.
class RecordsBench {
public:
    RecordsBench()
        : m_data(Prepare(m_root)),
          m_store(m_data, kavri::DateFormat::Iso()),
          m_records(m_store, kavri::DateFormat::Iso()) {}

    const kavri::CampaignStore& Store() const { return m_store; }
    const kavri::DeviceRecords& Records() const { return m_records; }

private:
    static kavri::DataFolder Prepare(const TempRoot& root) {
        kavri::DataFolder data = kavri::DataFolder::Open((root.Path() / "data").string());
        for (int i = 0; i < kCampaigns; ++i) {
            AddCampaign(data, i);
        }
        return data;
    }

    TempRoot m_root;
    kavri::DataFolder m_data;
    kavri::CampaignStore m_store;
    kavri::DeviceRecords m_records;
};

RecordsBench& Bench() {
    static RecordsBench bench;
    return bench;
}

kavri::StatisticsRange FirstWeek() {
    const auto from = kavri::TDateTime::FromParts({2026, 12, 1, 0, 0, 0, 0});
    const auto to = kavri::TDateTime::FromParts({2026, 12, kWeek, 0, 0, 0, 0});
    return kavri::DayRange(from.value_or(kavri::TDateTime()), to.value_or(kavri::TDateTime()));
}

// The records of one file dated in the first week.
constexpr std::int64_t FirstWeekRecords() {
    std::int64_t count = 0;
    for (int i = 0; i < kRecordsPerFile; ++i) {
        count += i % kDays < kWeek ? 1 : 0;
    }
    return count;
}

// Every campaign counts the first week of each of its two files.
bool CountsAsWritten(const std::vector<kavri::CampaignStatistics>& rows) {
    if (rows.size() != kCampaigns) {
        return false;
    }
    constexpr std::int64_t kHalf = FirstWeekRecords();
    for (const kavri::CampaignStatistics& row : rows) {
        if (row.Accepted != kHalf || row.Rejected != kHalf || row.Total != 2 * kHalf) {
            return false;
        }
    }
    return true;
}

void RunStatistics(benchmark::State& state, bool cold) {
    RecordsBench& bench = Bench();
    const kavri::StatisticsRange range = FirstWeek();
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            kavri::IniFile::Cache::Process()->Clear();
            state.ResumeTiming();
        }
        std::vector<kavri::CampaignStatistics> rows;
        if (!kavri::CountDecisions(bench.Store(), range, rows) || !CountsAsWritten(rows)) {
            state.SkipWithError("the counts differ from the records written");
            return;
        }
        benchmark::DoNotOptimize(rows.data());
    }
    state.counters["records"] = 2.0 * kCampaigns * kRecordsPerFile;
}

void RunListAccepted(benchmark::State& state, bool cold) {
    RecordsBench& bench = Bench();
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            kavri::IniFile::Cache::Process()->Clear();
            state.ResumeTiming();
        }
        std::vector<kavri::DeviceRecordRow> rows;
        if (!bench.Records().List(kavri::DeviceRecordKind::Accepted, rows) ||
            rows.size() != static_cast<std::size_t>(kCampaigns) * kRecordsPerFile) {
            state.SkipWithError("rows were dropped or invented");
            return;
        }
        benchmark::DoNotOptimize(rows.data());
    }
    state.counters["rows"] = static_cast<double>(kCampaigns) * kRecordsPerFile;
}

void BM_StatisticsCold(benchmark::State& state) {
    RunStatistics(state, true);
}
void BM_StatisticsWarm(benchmark::State& state) {
    RunStatistics(state, false);
}
void BM_ListAcceptedCold(benchmark::State& state) {
    RunListAccepted(state, true);
}
void BM_ListAcceptedWarm(benchmark::State& state) {
    RunListAccepted(state, false);
}

BENCHMARK(BM_StatisticsCold)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_StatisticsWarm)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ListAcceptedCold)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ListAcceptedWarm)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
