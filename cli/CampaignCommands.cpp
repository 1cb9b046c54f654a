#include "cli/CampaignCommands.h"

#include <optional>
#include <stdexcept>
#include <utility>

#include "app/CampaignEditor.h"
#include "app/CampaignEnabling.h"
#include "app/CampaignLookup.h"
#include "app/CampaignRecord.h"
#include "app/CampaignScheduleInput.h"
#include "app/CampaignStore.h"
#include "app/CampaignTable.h"
#include "app/DataFolder.h"
#include "app/DateTimeClock.h"
#include "cli/Escape.h"
#include "cli/GuiSession.h"
#include "cli/OperatorTexts.h"
#include "editors/CampaignContentValues.h"
#include "editors/CampaignEditorFactory.h"
#include "editors/CampaignOptionEditing.h"
#include "editors/CouponCampaignEditor.h"

namespace kavri::cli {
namespace {

std::string_view StateText(CampaignState state) {
    switch (state) {
        case csEnabled:
            return "enabled";
        case csDisabled:
            return "disabled";
        case csActive:
            return "active";
    }
    return "disabled";
}

}  // namespace

CampaignCommands::CampaignCommands(std::string dataFolder, const DateTimeClock& clock,
                                   DateFormat format, TextLookup texts, std::FILE* out,
                                   std::FILE* err)
    : m_dataFolder(std::move(dataFolder)),
      m_clock(clock),
      m_format(std::move(format)),
      m_texts(std::move(texts)),
      m_out(out),
      m_err(err) {}

int CampaignCommands::Fail(std::string_view message) const {
    // Names and paths in a message are the operator's text: escaped, they stay
    // on one line and cannot drive the terminal.
    std::fprintf(m_err, "kavrictl: %s\n", EscapeField(message).c_str());
    return 1;
}

std::unique_ptr<CampaignStore> CampaignCommands::OpenStore(bool forWriting) const {
    try {
        return std::make_unique<CampaignStore>(
            forWriting ? DataFolder::Open(m_dataFolder) : DataFolder::OpenExisting(m_dataFolder),
            m_format);
    } catch (const std::runtime_error& e) {
        Fail(e.what());
        return nullptr;
    }
}

int CampaignCommands::Save(CampaignStore& store, std::string_view name,
                           const CampaignOptions& options, bool editing,
                           std::optional<bool> couponPerDevice) {
    CampaignTarget target;
    if (Result prepared = PrepareCampaignEdit(store, name, options, editing, m_texts, target);
        !prepared) {
        return Fail(prepared.Message);
    }
    // Declared before the editor, so the editor goes first.
    std::optional<GuiSession> gui;
    if (target.Type == kCampaignCouponBased) {
        gui.emplace();
    }
    if (couponPerDevice && target.Type != kCampaignCouponBased) {
        return Fail("--coupon-per-device and --no-coupon-per-device are for coupon campaigns");
    }
    const std::unique_ptr<CampaignEditor> editor = MakeEditor(target.Type, store, m_clock, m_texts);
    if (couponPerDevice) {
        static_cast<CouponCampaignEditor&>(*editor).SetCouponPerDeviceChoice(*couponPerDevice);
    }
    const Result saved = SaveCampaignOptions(*editor, target, options, m_format, m_clock.Now());
    return saved ? 0 : Fail(saved.Message);
}

int CampaignCommands::Add(std::string_view name, const CampaignOptions& options,
                          std::optional<bool> couponPerDevice) {
    const std::unique_ptr<CampaignStore> store = OpenStore();
    return store ? Save(*store, name, options, false, couponPerDevice) : 1;
}

int CampaignCommands::Edit(std::string_view name, const CampaignOptions& options,
                           std::optional<bool> couponPerDevice) {
    const std::unique_ptr<CampaignStore> store = OpenStore();
    return store ? Save(*store, name, options, true, couponPerDevice) : 1;
}

int CampaignCommands::List(const std::vector<std::string>& titles) {
    const std::unique_ptr<CampaignStore> store = OpenStore(false);
    if (!store) {
        return 1;
    }
    if (!store->Campaigns().LoadError().empty()) {
        return Fail(store->Campaigns().LoadError());
    }
    for (const std::string& skipped : store->Campaigns().SkippedLines()) {
        std::fprintf(m_err, "kavrictl: warning: the campaign list line \"%s\" is skipped\n",
                     EscapeField(skipped).c_str());
    }
    CampaignTable table(*store, m_clock, m_texts);
    table.RefreshCampaigns();
    if (!titles.empty()) {
        std::fputs(TitleLine(titles).c_str(), m_out);
    }
    for (const CampaignRow& row : table.Rows()) {
        std::fprintf(m_out, "%s\t%s\t%s\t%s\n", EscapeField(row.Name).c_str(),
                     EscapeField(row.TypeText).c_str(), std::string(StateText(row.State)).c_str(),
                     EscapeField(row.SchedulingText).c_str());
    }
    return 0;
}

int CampaignCommands::Show(std::string_view name) {
    const std::unique_ptr<CampaignStore> store = OpenStore(false);
    if (!store) {
        return 1;
    }
    if (Result found = FindListedCampaign(*store, name, m_texts); !found) {
        return Fail(found.Message);
    }
    const CampaignRecord record = store->ReadRecord(name);
    const DateFormat iso = DateFormat::Iso();
    const auto flag = [](bool value) { return std::string(value ? "1" : "0"); };
    std::vector<std::pair<std::string, std::string>> lines{
        {"Name", record.Name},
        {"Type", std::to_string(record.Type)},
        {"Scheduling", std::to_string(record.Scheduling)},
        {"StartDateTime", IsoDateTimeText(record.StartDateTime)},
        {"EndDateTime", IsoDateTimeText(record.EndDateTime)},
        {"StartTime", iso.FormatTime(record.StartTime.TimePart())},
        {"EndTime", iso.FormatTime(record.EndTime.TimePart())},
    };
    // Monday first, as the record is written.
    for (std::size_t i = 1; i <= 7; ++i) {
        const std::size_t day = i % 7;
        lines.emplace_back(std::string(CampaignRecord::kDayKeys[day]), flag(record.Days[day]));
    }
    lines.emplace_back("Enabled", flag(record.Enabled));
    lines.emplace_back("DeviceTypes", record.DeviceTypes);
    std::vector<std::pair<std::string, std::string>> content;
    const Result contentRead =
        ReadContentValues(record, *store, m_clock, m_texts, EditorLoadName(record, name), content);
    for (auto& line : content) {
        lines.push_back(std::move(line));
    }
    for (const auto& [key, value] : lines) {
        std::fprintf(m_out, "%s\t%s\n", key.c_str(), EscapeField(value).c_str());
    }
    return contentRead ? 0 : Fail(contentRead.Message);
}

int CampaignCommands::SetEnabled(std::string_view name, bool enabled) {
    const std::unique_ptr<CampaignStore> store = OpenStore();
    if (!store) {
        return 1;
    }
    const Result set = SetCampaignEnabled(*store, name, enabled, m_texts);
    return set ? 0 : Fail(set.Message);
}

int CampaignCommands::Remove(std::string_view name) {
    const std::unique_ptr<CampaignStore> store = OpenStore();
    if (!store) {
        return 1;
    }
    if (Result found = FindListedCampaign(*store, name, m_texts); !found) {
        return Fail(found.Message);
    }
    const Result deleted = store->DeleteCampaign(name);
    return deleted ? 0 : Fail(deleted.Message);
}

}  // namespace kavri::cli
