#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "app/DataFolder.h"

#include "app/Result.h"

namespace kavri {

// Starting the program when the user logs on, through the desktop's autostart
// folder: the entry $XDG_CONFIG_HOME/autostart/kavri.desktop (an
// XDG_CONFIG_HOME that is not absolute is ignored, as the XDG rules say; else
// ~/.config/autostart/kavri.desktop) runs the program's full path. The entry's
// presence is what marks automatic start; nothing else is kept.
//
// Enabling writes the entry atomically, creating the folders on the way;
// disabling deletes it when it is there. A folder that cannot be found or made
// leaves the choice unsaved and says why.
//
// A value type: any thread, owns only the entry's path. Throws only
// std::bad_alloc.
class AutoStart {
public:
    static constexpr std::string_view kEntryName = "kavri.desktop";

    // The entry's place; nothing when neither the variables nor the password
    // database name a home folder (then nothing can be shown or saved).
    static std::optional<std::string> EntryPath(
        const DataFolder::Environment& environment = DataFolder::SystemEnvironment);

    // The entry text that runs program (an absolute path). Empty for a path
    // that is not absolute or holds control characters or malformed UTF-8,
    // which the entry could not carry faithfully.
    static std::string EntryText(std::string_view program);

    explicit AutoStart(std::string entryPath) : m_path(std::move(entryPath)) {}

    const std::string& Path() const { return m_path; }
    // True when the entry exists (whatever it holds).
    bool IsEnabled() const;
    // Writes the entry for program, replacing one that is there.
    Result Enable(std::string_view program) const;
    // Deletes the entry; done when there is none.
    Result Disable() const;

private:
    std::string m_path;
};

}  // namespace kavri
