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
//   blacklist add ADDRESS [NAME] [--type TYPE]
//                                  black-lists a device ("Name" and "COD" are
//                                  "<unknown>" when NAME or TYPE is left out)
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
// address that is not "(XX:XX:XX:XX:XX:XX)", a record that does not exist, a
// file that exists but cannot be read: its path and the system's reason, never
// an empty list). The listing commands only read: they neither create a
// missing data folder (it is reported) nor need write permission on it.
// Fields are escaped with EscapeField, since names come from the air.
//
// Lives on the thread that runs the command. Throws only std::bad_alloc.
class RecordsCommands {
public:
    // dataFolder empty: the per-user data folder. format is how records store
    // date-times; display is how the lists show them.
    RecordsCommands(std::string dataFolder, DateFormat format, DateFormat display, std::FILE* out,
                    std::FILE* err);

    int BlackListAdd(std::string_view address, std::string_view name, std::string_view typeText);
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
    // Without forWriting a missing folder is reported, not created.
    std::unique_ptr<CampaignStore> OpenStore(bool forWriting) const;

    std::string m_dataFolder;
    DateFormat m_format;
    DateFormat m_display;
    std::FILE* m_out;
    std::FILE* m_err;
};

// Registers `blacklist` and `records` with their subcommands on app.
CommandAction RegisterRecordsCommands(CLI::App& app, const GlobalOptions& global);

}  // namespace kavri::cli
