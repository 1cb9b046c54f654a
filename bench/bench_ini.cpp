// The INI store against a record file of 100 000 devices (about 5 MB): cached
// lookups, the first parse, and one key written with the atomic replace.
// Targets: first parse <= 50 ms, cached SectionExists >= 1 000 000 per second,
// one key written <= 30 ms.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/DateFormat.h"
#include "app/IniFile.h"

namespace {

namespace fs = std::filesystem;
using kavri::DateFormat;
using kavri::IniFile;

constexpr int kDevices = 100'000;

std::string DeviceName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "(00:11:22:%02X:%02X:%02X)", (i >> 16) & 0xFF, (i >> 8) & 0xFF,
                  i & 0xFF);
    return name;
}

// One generated record file, made once per process and removed at exit.
class RecordFile {
public:
    RecordFile() {
        std::string folder = (fs::temp_directory_path() / "kavri-bench-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        m_folder = folder;
        m_path = m_folder + "/accepted.dat";
        std::string text;
        text.reserve(6u << 20);
        for (int i = 0; i < kDevices; ++i) {
            m_names.push_back(DeviceName(i));
            text.append("[").append(m_names.back()).append("]\r\n");
            text.append("Name=Device ").append(std::to_string(i)).append("\r\n");
            text.append("DateTime=07.12.2026 10:11:12\r\nCoupon=ABC123\r\n");
        }
        std::ofstream(m_path, std::ios::binary) << text;
        m_bytes = text.size();
        // A record file between two writes, as the sender's lookups meet it:
        // the store trusts a file unchanged for a second for a moment without
        // looking at it again, and looks at a file that changed just now on
        // every read.
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    }
    ~RecordFile() {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    const std::string& Path() const { return m_path; }
    const std::vector<std::string>& Names() const { return m_names; }
    std::size_t Bytes() const { return m_bytes; }

private:
    std::string m_folder;
    std::string m_path;
    std::vector<std::string> m_names;
    std::size_t m_bytes = 0;
};

RecordFile& Records() {
    static RecordFile records;
    return records;
}

const DateFormat& Format() {
    static const DateFormat format("%d.%m.%Y", "%H:%M:%S");
    return format;
}

// Writes the address text of device i into name, as a caller that formats a
// discovered address would, without touching a table of names.
void FormatDevice(std::size_t i, char (&name)[20]) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::memcpy(name, "(00:11:22:00:00:00)", 20);
    for (int b = 0; b < 3; ++b) {
        const auto byte = static_cast<unsigned>(i >> (16 - 8 * b)) & 0xFF;
        name[10 + 3 * b] = kHex[byte >> 4];
        name[11 + 3 * b] = kHex[byte & 0xF];
    }
}

// Lookups of devices present (7 in 8) and absent (1 in 8), in scattered
// order, on one open file whose parse is cached.
void BM_SectionExistsCached(benchmark::State& state) {
    const RecordFile& records = Records();
    const IniFile ini(records.Path(), Format(), std::make_shared<IniFile::Cache>());
    if (!ini.SectionExists(records.Names().front())) {
        state.SkipWithError("record file not readable");
        return;
    }
    std::size_t i = 0;
    std::int64_t found = 0;
    char name[20];
    for (auto _ : state) {
        // Devices past the last one are absent.
        FormatDevice((i & 7) == 7 ? kDevices + i % 1000 : (i * 7919) % kDevices, name);
        found += ini.SectionExists(std::string_view(name, 19)) ? 1 : 0;
        ++i;
    }
    if (found != static_cast<std::int64_t>(state.iterations() - state.iterations() / 8)) {
        state.SkipWithError("lookups went wrong");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SectionExistsCached);

// The accept decision as the callers make it: a new IniFile object per lookup,
// sharing the process-wide cache.
void BM_SectionExistsFreshObject(benchmark::State& state) {
    const RecordFile& records = Records();
    if (!IniFile(records.Path(), Format()).SectionExists(records.Names().front())) {
        state.SkipWithError("record file not readable");
        return;
    }
    std::size_t i = 0;
    std::int64_t found = 0;
    char name[20];
    for (auto _ : state) {
        FormatDevice((i++ * 7919) % kDevices, name);
        const IniFile ini(records.Path(), Format());
        found += ini.SectionExists(std::string_view(name, 19)) ? 1 : 0;
    }
    benchmark::DoNotOptimize(found);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SectionExistsFreshObject);

// A cached read of a value (section lookup plus the scan of its lines).
void BM_ReadStringCached(benchmark::State& state) {
    const RecordFile& records = Records();
    const IniFile ini(records.Path(), Format(), std::make_shared<IniFile::Cache>());
    std::size_t i = 0;
    std::size_t length = 0;
    char name[20];
    for (auto _ : state) {
        FormatDevice((i++ * 7919) % kDevices, name);
        length += ini.ReadString(std::string_view(name, 19), "Coupon", "").size();
    }
    benchmark::DoNotOptimize(length);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadStringCached);

// The first read: stat, read the whole file, parse and index it.
void BM_FirstParse(benchmark::State& state) {
    const RecordFile& records = Records();
    auto cache = std::make_shared<IniFile::Cache>();
    bool found = true;
    for (auto _ : state) {
        cache->Clear();
        const IniFile ini(records.Path(), Format(), cache);
        found = found && ini.SectionExists(records.Names().back());
    }
    if (!found) {
        state.SkipWithError("last device not found");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(records.Bytes()));
}
BENCHMARK(BM_FirstParse)->Unit(benchmark::kMillisecond)->UseRealTime();

// Listing all 100 000 sections of the cached file.
void BM_ReadSectionsCached(benchmark::State& state) {
    const RecordFile& records = Records();
    const IniFile ini(records.Path(), Format(), std::make_shared<IniFile::Cache>());
    std::size_t count = 0;
    for (auto _ : state) {
        count = ini.ReadSections().size();
    }
    if (count != kDevices) {
        state.SkipWithError("sections lost");
    }
    state.SetItemsProcessed(state.iterations() * kDevices);
}
BENCHMARK(BM_ReadSectionsCached)->Unit(benchmark::kMillisecond);

// One key written into an existing record: the whole file rewritten into a
// temporary file, flushed to disk, renamed over the old one, folder flushed.
void BM_WriteOneKey(benchmark::State& state) {
    const RecordFile& records = Records();
    IniFile ini(records.Path(), Format(), std::make_shared<IniFile::Cache>());
    std::size_t i = 0;
    for (auto _ : state) {
        const std::string& name = records.Names()[(i * 7919) % kDevices];
        if (const kavri::Result written = ini.WriteString(
                name, "DateTime", i % 2 == 0 ? "08.12.2026 10:11:12" : "07.12.2026 10:11:12");
            !written) {
            state.SkipWithError(written.Message.c_str());
            break;
        }
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteOneKey)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
