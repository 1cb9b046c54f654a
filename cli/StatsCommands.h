#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/DataFolder.h"
#include "app/DateTime.h"
#include "cli/Commands.h"

namespace kavri {
class OperatorTexts;
}

namespace kavri::cli {

// The column titles of kavrictl stats in the texts' language: the four of
// the list (kStatisticsTitles), then Redeemed and the redemption rate.
std::vector<std::string> StatisticsTitles(const OperatorTexts& texts);

// kavrictl stats --from DATE --to DATE [--csv]: one line per campaign of the
// list, in list order, disabled ones included: NAME <TAB> ACCEPTED <TAB>
// REJECTED <TAB> TOTAL <TAB> REDEEMED <TAB> RATE, the devices whose latest
// record lies between 00:00:00 on the first day and 23:59:59 on the last (a
// --to before --from is taken as --from); REDEEMED are those of ACCEPTED whose
// coupon was closed, RATE their percentage (RedemptionRateText, empty when
// nothing was accepted). NAME is escaped with EscapeField. With csv the same as RFC 4180 CSV
// with CR LF line ends. titles, when not empty, is printed first as one line
// of column titles (the CSV header). Dates are ISO ("2026-12-07") or the
// regional short date; a time given with them is ignored.
int ShowStatistics(const std::string& dataFolder, std::string_view from, std::string_view to,
                   bool csv, const std::vector<std::string>& titles, std::FILE* out,
                   std::FILE* err);

// kavrictl coupon check CODE: one line per device given the code (matched
// exactly, letter case included): CAMPAIGN <TAB> ADDRESS <TAB> DEVICE NAME <TAB>
// DATE-TIME, campaigns in list order, devices in file order; fields escaped
// with EscapeField. An empty CODE finds nothing. Exit 0 also when nothing is
// found. When no device holds the code open but devices redeemed it, out stays
// empty (a script that takes any line for a good code stays right) and err
// gets one line per such device: "kavrictl: coupon CODE already used:
// redeemed DATE-TIME, CAMPAIGN, ADDRESS".
int CheckCoupon(const std::string& dataFolder, std::string_view code,
                const std::vector<std::string>& titles, std::FILE* out, std::FILE* err);

// kavrictl coupon close CAMPAIGN ADDRESS: removes the device's coupon so that
// it is not found again and records it as redeemed at now; the device stays
// recorded as having accepted.
int CloseCouponOf(const std::string& dataFolder, std::string_view campaign,
                  std::string_view address, TDateTime now, std::FILE* out, std::FILE* err);

// The full path of the running program, for the log-on entry; empty when it
// cannot be found.
std::string OwnProgramPath();

// kavrictl autostart show: "on <TAB> ENTRY" or "off <TAB> ENTRY".
int ShowAutoStart(const DataFolder::Environment& environment, std::FILE* out, std::FILE* err);
// kavrictl autostart on [--exec PROGRAM] / off: writes or deletes the log-on
// entry. program must be an absolute path.
int SetAutoStart(const DataFolder::Environment& environment, bool on, std::string_view program,
                 std::FILE* out, std::FILE* err);

// Each returns 0, or 1 with one line "kavrictl: MESSAGE" on err (a date that
// does not read, a data folder that cannot be opened or does not exist, a
// record file that exists but cannot be read, a write that fails). Only
// coupon close creates a missing data folder.
// Throw only std::bad_alloc.

// Registers `stats`, `coupon check|close` and `autostart on|off|show` on app.
CommandAction RegisterStatsCommands(CLI::App& app, const GlobalOptions& global);

}  // namespace kavri::cli
