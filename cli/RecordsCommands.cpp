#include "cli/RecordsCommands.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include "app/CampaignStore.h"
#include "app/DataFolder.h"
#include "app/SendingDecisions.h"
#include "cli/Escape.h"
#include "cli/OperatorTexts.h"

namespace kavri::cli {

RecordsCommands::RecordsCommands(std::string dataFolder, DateFormat format, DateFormat display,
                                 std::FILE* out, std::FILE* err)
    : m_dataFolder(std::move(dataFolder)),
      m_format(std::move(format)),
      m_display(std::move(display)),
      m_out(out),
      m_err(err) {}

int RecordsCommands::Fail(std::string_view message) const {
    std::fprintf(m_err, "kavrictl: %s\n", EscapeField(message).c_str());
    return 1;
}

std::unique_ptr<CampaignStore> RecordsCommands::OpenStore(bool forWriting) const {
    try {
        return std::make_unique<CampaignStore>(
            forWriting ? DataFolder::Open(m_dataFolder) : DataFolder::OpenExisting(m_dataFolder),
            m_format);
    } catch (const std::runtime_error& e) {
        Fail(e.what());
        return nullptr;
    }
}

int RecordsCommands::BlackListAdd(std::string_view address, std::string_view name,
                                  std::string_view typeText) {
    const auto store = OpenStore(true);
    if (!store) {
        return 1;
    }
    DeviceRecords records(*store, m_display);
    const Result added = records.AddToBlackList(address, name, typeText);
    return added ? 0 : Fail(added.Message);
}

int RecordsCommands::BlackListRemove(std::string_view address) {
    const auto store = OpenStore(true);
    if (!store) {
        return 1;
    }
    DeviceRecords records(*store, m_display);
    const Result done = records.RemoveFromBlackList(address);
    return done ? 0 : Fail(done.Message);
}

int RecordsCommands::BlackListList(const std::vector<std::string>& titles) {
    const auto store = OpenStore(false);
    if (!store) {
        return 1;
    }
    const DeviceRecords records(*store, m_display);
    std::vector<DeviceRecordRow> rows;
    if (const Result read = records.BlackList(rows); !read) {
        return Fail(read.Message);
    }
    if (!titles.empty()) {
        std::fputs(TitleLine(titles).c_str(), m_out);
    }
    for (const DeviceRecordRow& row : rows) {
        std::fprintf(m_out, "%s\t%s\t%s\n", EscapeField(row.Address).c_str(),
                     EscapeField(row.Name).c_str(), EscapeField(row.TypeText).c_str());
    }
    return 0;
}

int RecordsCommands::BlackListClear() {
    const auto store = OpenStore(true);
    if (!store) {
        return 1;
    }
    DeviceRecords records(*store, m_display);
    const Result done = records.ClearBlackList();
    return done ? 0 : Fail(done.Message);
}

int RecordsCommands::List(DeviceRecordKind kind, const std::vector<std::string>& titles) {
    const auto store = OpenStore(false);
    if (!store) {
        return 1;
    }
    const DeviceRecords records(*store, m_display);
    const bool withCoupon = kind == DeviceRecordKind::Accepted;
    std::vector<DeviceRecordRow> rows;
    if (const Result read = records.List(kind, rows); !read) {
        return Fail(read.Message);
    }
    if (!titles.empty()) {
        std::fputs(TitleLine(titles).c_str(), m_out);
    }
    for (const DeviceRecordRow& row : rows) {
        std::string line = EscapeField(row.Campaign);
        for (const std::string* field : {&row.Address, &row.Name, &row.TypeText, &row.DateTime}) {
            line += '\t';
            line += EscapeField(*field);
        }
        if (withCoupon) {
            line += '\t';
            line += EscapeField(row.Coupon);
        }
        line += '\n';
        std::fputs(line.c_str(), m_out);
    }
    return 0;
}

int RecordsCommands::Remove(DeviceRecordKind kind, std::string_view campaign,
                            std::string_view address) {
    const auto store = OpenStore(true);
    if (!store) {
        return 1;
    }
    DeviceRecords records(*store, m_display);
    const Result done = records.Remove(kind, campaign, address);
    return done ? 0 : Fail(done.Message);
}

int RecordsCommands::Clear(DeviceRecordKind kind) {
    const auto store = OpenStore(true);
    if (!store) {
        return 1;
    }
    DeviceRecords records(*store, m_display);
    const Result done = records.Clear(kind);
    return done ? 0 : Fail(done.Message);
}

}  // namespace kavri::cli
