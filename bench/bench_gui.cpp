// The windows over big inputs, on Qt's offscreen platform (chosen unless
// QT_QPA_PLATFORM names another).
//
// BM_OpenAcceptedCold and BM_OpenAcceptedWarm: the accepted-devices dialog
// opened over a data folder of 20 campaigns with 50 000 accepted records each
// (1 000 000 rows), from its construction until it is shown with its first
// rows painted; cold with the parse cache emptied first, as the first opening
// after a start, warm with the files already parsed. Target: one second or
// less.
//
// BM_SortAcceptedByDate: the same million rows sorted by their date/time
// column, by time, as a click on its title does; alternately ascending and
// descending. No target given; it shows what reading each shown date back costs.
//
// BM_DeviceListUpdate: the main window's device list refilled for one
// discovery complete of 500 devices, raised as the sender session raises it,
// until the window has painted it. Target: 50 ms or less.
//
// Every run checks its result: the rows listed must be exactly those written,
// or the benchmark fails.

#include <QApplication>
#include <QTableView>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/DataFolder.h"
#include "app/DateFormat.h"
#include "app/DateTimeClock.h"
#include "app/IniFile.h"
#include "app/SendingDecisions.h"
#include "bench/BenchRecordFolder.h"
#include "gui/TfmAccepted.h"
#include "gui/TfmMain.h"
#include "host/StackSession.h"
#include "platform/Clock.h"
#include "platform/qt/QtEventLoop.h"
#include "sim/ScenarioParser.h"

#include <stdlib.h>

namespace {

using kavri::bench::kRecordsPerFile;

namespace fs = std::filesystem;

constexpr int kCampaigns = 20;
constexpr int kDiscoveredDevices = 500;

// The main window over a data folder of big accepted files and an empty
// virtual neighbourhood, made once for every benchmark of the run.
class GuiBench {
public:
    GuiBench() : m_stacks(m_loop, m_clock, (m_root.Path() / "inboxes").string()) {
        const kavri::DataFolder data = kavri::DataFolder::Open((m_root.Path() / "data").string());
        for (int i = 0; i < kCampaigns; ++i) {
            kavri::bench::AddRecordCampaign(data, i, true, false);
        }
        Check(m_stacks.OpenScenario(kavri::sim::ParseScenario("")), "open the stacks");
        kavri::gui::MainWindowOptions options;
        options.DataFolder = (m_root.Path() / "data").string();
        // An entry that does not exist: no automatic start.
        options.AutoStartEntry = (m_root.Path() / "autostart" / "kavri.desktop").string();
        m_window = std::make_unique<kavri::gui::TfmMain>(m_loop, m_date, options);
        m_window->ShowError = [](const QString& message) {
            std::fprintf(stderr, "error: %s\n", message.toStdString().c_str());
        };
        m_window->Confirm = [](const QString&) { return false; };
        Check(m_window->FormCreate(), "create the main window");
    }
    ~GuiBench() { m_window.reset(); }
    GuiBench(const GuiBench&) = delete;
    GuiBench& operator=(const GuiBench&) = delete;

    kavri::gui::TfmMain& Window() { return *m_window; }

private:
    static void Check(const kavri::Result& result, const char* what) {
        if (!result) {
            std::fprintf(stderr, "cannot %s: %s\n", what, result.Message.c_str());
            std::exit(1);
        }
    }

    kavri::bench::TempRoot m_root{"kavri-bench-gui"};
    kavri::ManualClock m_clock;
    kavri::QtEventLoop m_loop{m_clock};
    kavri::host::StackSession m_stacks;
    kavri::ManualDateTimeClock m_date{
        kavri::TDateTime::FromParts({2026, 12, 9, 10, 0, 0, 0}).value_or(kavri::TDateTime())};
    std::unique_ptr<kavri::gui::TfmMain> m_window;
};

// Made on first use, when a benchmark runs, and ended by main before the
// QApplication goes (a window must not outlive it).
class LazyBench {
public:
    GuiBench& Get() {
        if (!m_bench) {
            m_bench = std::make_unique<GuiBench>();
        }
        return *m_bench;
    }

private:
    std::unique_ptr<GuiBench> m_bench;
};

void RunOpenAccepted(benchmark::State& state, GuiBench& bench, bool cold) {
    constexpr int kRows = kCampaigns * kRecordsPerFile;
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            kavri::IniFile::Cache::Process()->Clear();
            state.ResumeTiming();
        }
        auto dialog = std::make_unique<kavri::gui::TfmAccepted>(bench.Window());
        dialog->show();
        QApplication::processEvents();
        const bool shown = dialog->isVisible() && dialog->Model().rowCount() == kRows &&
                           dialog->lvDevices->rowAt(0) == 0;
        state.PauseTiming();
        dialog.reset();
        state.ResumeTiming();
        if (!shown) {
            state.SkipWithError("the dialog did not show every record");
            return;
        }
    }
    state.counters["rows"] = kRows;
}

// Every row dated, each no earlier (descending: no later) than the one before.
bool InTimeOrder(const kavri::gui::DeviceRecordModel& model, const kavri::DateFormat& display,
                 Qt::SortOrder order) {
    if (model.rowCount() != kCampaigns * kRecordsPerFile) {
        return false;
    }
    kavri::TDateTime previous;
    for (int i = 0; i < model.rowCount(); ++i) {
        kavri::TDateTime value;
        if (!display.ParseDateTime(model.Row(i).DateTime, value)) {
            return false;
        }
        if (i > 0 && (order == Qt::AscendingOrder ? value < previous : previous < value)) {
            return false;
        }
        previous = value;
    }
    return true;
}

void RunSortAcceptedByDate(benchmark::State& state, GuiBench& bench) {
    constexpr int kDateColumn = 4;
    kavri::gui::TfmAccepted dialog(bench.Window());
    kavri::gui::DeviceRecordModel& model = dialog.Model();
    const kavri::DateFormat display = kavri::DateFormat::FromLocale();
    Qt::SortOrder order = Qt::AscendingOrder;
    for (auto _ : state) {
        model.sort(kDateColumn, order);
        state.PauseTiming();
        const bool sorted = InTimeOrder(model, display, order);
        state.ResumeTiming();
        if (!sorted) {
            state.SkipWithError("the rows are not in time order");
            return;
        }
        order = order == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    }
    state.counters["rows"] = kCampaigns * kRecordsPerFile;
}

// 500 devices as discovery reports them; some carry the status of an
// earlier decision, so the list shows their images too.
std::vector<kavri::DeviceRow> DiscoveredDevices(int cycle) {
    std::vector<kavri::DeviceRow> rows;
    rows.reserve(kDiscoveredDevices);
    for (int i = 0; i < kDiscoveredDevices; ++i) {
        kavri::DeviceRow row;
        row.Name = "Phone " + std::to_string(cycle) + "-" + std::to_string(i);
        row.TypeText = "Smartphone";
        row.Address = kavri::bench::RecordAddress(0xA0, 0, i);
        if (i % 3 == 0) {
            row.Status = i % 2 == 0 ? kavri::dsAccepted : kavri::dsRejected;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void RunDeviceListUpdate(benchmark::State& state, GuiBench& bench) {
    kavri::gui::TfmMain& window = bench.Window();
    window.show();
    QApplication::processEvents();
    // Two cycles of different names, so each update replaces what shows.
    const std::vector<kavri::DeviceRow> cycles[2] = {DiscoveredDevices(0), DiscoveredDevices(1)};
    int cycle = 0;
    for (auto _ : state) {
        const std::vector<kavri::DeviceRow>& rows = cycles[cycle];
        window.Session().OnDiscoveryComplete(rows);
        QApplication::processEvents();
        if (window.lvDevices->topLevelItemCount() != kDiscoveredDevices ||
            window.lvDevices->topLevelItem(0)->text(0).toStdString() != rows[0].Name) {
            state.SkipWithError("the device list does not show the devices discovered");
            break;
        }
        cycle = 1 - cycle;
    }
    window.hide();
    state.counters["devices"] = kDiscoveredDevices;
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // QApplication keeps argc and argv for its whole life; benchmark's own
    // options are taken out first.
    benchmark::Initialize(&argc, argv);
    QApplication application(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    LazyBench bench;
    benchmark::RegisterBenchmark(
        "BM_OpenAcceptedCold",
        [&](benchmark::State& state) { RunOpenAccepted(state, bench.Get(), true); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(5);
    benchmark::RegisterBenchmark(
        "BM_OpenAcceptedWarm",
        [&](benchmark::State& state) { RunOpenAccepted(state, bench.Get(), false); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(5);
    benchmark::RegisterBenchmark(
        "BM_SortAcceptedByDate",
        [&](benchmark::State& state) { RunSortAcceptedByDate(state, bench.Get()); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(4);
    benchmark::RegisterBenchmark(
        "BM_DeviceListUpdate",
        [&](benchmark::State& state) { RunDeviceListUpdate(state, bench.Get()); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
