#include "app/AutoStart.h"

#include <cstdint>
#include <filesystem>
#include <system_error>
#include <utility>

#include "app/AtomicFile.h"

#include <pwd.h>
#include <unistd.h>

namespace kavri {
namespace {

bool IsAbsolute(const std::optional<std::string>& path) {
    return path && !path->empty() && path->front() == '/';
}

std::optional<std::string> HomeFolder(const DataFolder::Environment& environment) {
    std::optional<std::string> home = environment("HOME");
    if (IsAbsolute(home)) {
        return home;
    }
    const passwd* entry = ::getpwuid(::getuid());
    if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/') {
        return std::string(entry->pw_dir);
    }
    return std::nullopt;
}

// Well-formed UTF-8 without control characters (C0, DEL, C1).
bool IsPrintableUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        if (lead < 0x20 || lead == 0x7F) {
            return false;
        }
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07u;
        } else {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(text[i + k]);
            if ((next & 0xC0u) != 0x80u) {
                return false;
            }
            code = (code << 6) | (next & 0x3Fu);
        }
        const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
        if (overlong || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ||
            (code >= 0x80 && code <= 0x9F)) {
            return false;
        }
        i += length;
    }
    return true;
}

// The program as one argument of an Exec line: quoted when it holds a character
// the desktop reserves, with '"', '`', '$' and '\' escaped inside the quotes;
// '%' doubled, as field codes start with it. Then the backslashes are doubled
// once more, since the Exec value is itself a string with escapes.
std::string ExecArgument(std::string_view program) {
    static constexpr std::string_view kReserved = " \t\"'\\><~|&;$*?#()`";
    const bool quote = program.find_first_of(kReserved) != std::string_view::npos;
    std::string argument;
    if (quote) {
        argument += '"';
    }
    for (const char c : program) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            argument += '\\';
        }
        argument += c;
        if (c == '%') {
            argument += '%';
        }
    }
    if (quote) {
        argument += '"';
    }
    std::string value;
    for (const char c : argument) {
        value += c;
        if (c == '\\') {
            value += '\\';
        }
    }
    return value;
}

}  // namespace

std::optional<std::string> AutoStart::EntryPath(const DataFolder::Environment& environment) {
    std::string config;
    const std::optional<std::string> xdg = environment("XDG_CONFIG_HOME");
    if (IsAbsolute(xdg)) {
        config = *xdg;
    } else {
        const std::optional<std::string> home = HomeFolder(environment);
        if (!home) {
            return std::nullopt;
        }
        config = *home;
        if (config.back() != '/') {
            config += '/';
        }
        config += ".config";
    }
    if (config.back() != '/') {
        config += '/';
    }
    return config + "autostart/" + std::string(kEntryName);
}

std::string AutoStart::EntryText(std::string_view program) {
    if (program.empty() || program.front() != '/' || !IsPrintableUtf8(program)) {
        return {};
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Kavri Tandrel\n"
           "Exec=" +
           ExecArgument(program) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool AutoStart::IsEnabled() const {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(m_path, error));
}

Result AutoStart::Enable(std::string_view program) const {
    const std::string text = EntryText(program);
    if (text.empty()) {
        return Result::Failure("cannot start \"" + std::string(program) +
                               "\" at log-on: it is not an absolute path of printable text");
    }
    const std::filesystem::path folder = std::filesystem::path(m_path).parent_path();
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (made) {
        return Result::Failure("cannot create " + folder.string() + ": " + made.message());
    }
    return WriteFileAtomically(m_path, text);
}

Result AutoStart::Disable() const {
    std::error_code removed;
    std::filesystem::remove(m_path, removed);
    if (removed) {
        return Result::Failure("cannot delete " + m_path + ": " + removed.message());
    }
    return Result::Success();
}

}  // namespace kavri
