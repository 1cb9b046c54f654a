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
#include "bench/BenchRecordFolder.h"

#include <stdlib.h>

namespace {

using kavri::bench::kRecordsPerFile;

namespace fs = std::filesystem;

constexpr int kCampaigns = 20;
// Records are dated day 1 + i % 14 of December, so the first week holds
// exactly half of them.
constexpr int kDays = kavri::bench::kRecordDays;
constexpr int kWeek = 7;

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
    static kavri::DataFolder Prepare(const kavri::bench::TempRoot& root) {
        kavri::DataFolder data = kavri::DataFolder::Open((root.Path() / "data").string());
        for (int i = 0; i < kCampaigns; ++i) {
            kavri::bench::AddRecordCampaign(data, i, i % 2 == 0, true);
        }
        return data;
    }

    kavri::bench::TempRoot m_root{"kavri-bench-records"};
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
