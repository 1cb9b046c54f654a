#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/DateFormat.h"
#include "app/DeviceRecords.h"
#include "cli/Commands.h"

namespace kavri {
class CampaignStore;
}  // namespace kavri

namespace kavri::cli {

// The device-record commands of kavrictl on one data folder: the black list
// ("bl.dat") and the accepted and rejected devices of every campaign.
//
//   blacklist add ADDRESS [NAME]   black-lists a device ("COD" is "<unknown>",
//                                  as is "Name" when NAME is left out)
//   blacklist remove ADDRESS       takes it off the black list
//   blacklist list                 ADDRESS <TAB> NAME <TAB> TYPE, in file order
//   blacklist clear                empties the black list
//   records accepted|rejected      CAMPAIGN <TAB> ADDRESS <TAB> NAME <TAB> TYPE
//                                  <TAB> DATETIME, and for accepted <TAB> COUPON;
//                                  campaign by campaign in list order, each in
//                                  file order; DATETIME is the regional short
//                                  date and long time (the date alone at
//                                  midnight)
//   records KIND --remove CAMPAIGN ADDRESS   erases one record
//   records KIND --clear           erases the kind's records of every campaign
//
// Every command returns the exit status: 0 done, 1 refused or failed with one
// line "kavrictl: MESSAGE" on err, nothing on disk changed by a refusal (an
// address that is not "(XX:XX:XX:XX:XX:XX)", a record that does not exist).
// Fields are escaped with EscapeField, since names come from the air.
//
// Lives on the thread that runs the command. Throws only std::bad_alloc.
class RecordsCommands {
public:
    // dataFolder empty: the per-user data folder. format is how records store
    // date-times; display is how the lists show them.
    RecordsCommands(std::string dataFolder, DateFormat format, DateFormat display, std::FILE* out,
                    std::FILE* err);

    int BlackListAdd(std::string_view address, std::string_view name);
    int BlackListRemove(std::string_view address);
    // titles, when not empty, is printed first as one line of column titles.
    int BlackListList(const std::vector<std::string>& titles = {});
    int BlackListClear();

    int List(DeviceRecordKind kind, const std::vector<std::string>& titles = {});
    int Remove(DeviceRecordKind kind, std::string_view campaign, std::string_view address);
    int Clear(DeviceRecordKind kind);

private:
    int Fail(std::string_view message) const;
    // The store, or nothing after reporting why the data folder cannot be used.
    std::unique_ptr<CampaignStore> OpenStore() const;

    std::string m_dataFolder;
    DateFormat m_format;
    DateFormat m_display;
    std::FILE* m_out;
    std::FILE* m_err;
};

// Registers `blacklist` and `records` with their subcommands on app.
CommandAction RegisterRecordsCommands(CLI::App& app, const GlobalOptions& global);

}  // namespace kavri::cli
