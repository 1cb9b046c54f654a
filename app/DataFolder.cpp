#include "app/DataFolder.h"

#include "app/UnicodeText.h"
#include "platform/Text.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavri {

namespace {

std::string ErrorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

std::string WithSeparator(std::string path) {
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path;
}

std::optional<std::string> NonEmpty(const DataFolder::Environment& environment,
                                    std::string_view name) {
    std::optional<std::string> value = environment(name);
    if (value && value->empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> HomeFromPasswordDatabase() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] == '\0') {
        return std::nullopt;
    }
    return std::string(found->pw_dir);
}

}  // namespace

std::optional<std::string> DataFolder::SystemEnvironment(std::string_view name) {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

std::string DataFolder::DefaultPath(const Environment& environment) {
    if (std::optional<std::string> own = NonEmpty(environment, "KAVRI_DATA_DIR")) {
        return WithSeparator(std::move(*own));
    }
    if (std::optional<std::string> xdg = NonEmpty(environment, "XDG_DATA_HOME");
        xdg && xdg->front() == '/') {
        return WithSeparator(std::move(*xdg)) + "kavri/";
    }
    std::optional<std::string> home = NonEmpty(environment, "HOME");
    if (!home) {
        home = HomeFromPasswordDatabase();
    }
    if (!home) {
        throw std::runtime_error(
            "cannot find the data folder: HOME is not set and the user has no home folder");
    }
    return WithSeparator(std::move(*home)) + ".local/share/kavri/";
}

namespace {

// The folder's absolute path with a trailing separator.
std::string AbsoluteFolder(std::string_view folder, const DataFolder::Environment& environment) {
    std::string path = folder.empty() ? DataFolder::DefaultPath(environment) : std::string(folder);
    if (path.front() != '/') {
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(path, error);
        if (error) {
            throw std::runtime_error("cannot find the data folder " + path + ": " +
                                     error.message());
        }
        path = absolute.string();
    }
    return WithSeparator(std::move(path));
}

void CheckIsFolder(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            throw std::runtime_error("the data folder " + path + " does not exist");
        }
        throw std::runtime_error("cannot open the data folder " + path + ": " + ErrorText(errno));
    }
    if (!S_ISDIR(st.st_mode)) {
        throw std::runtime_error("the data folder " + path + " is not a folder");
    }
}

}  // namespace

DataFolder DataFolder::Open(std::string_view folder, const Environment& environment) {
    std::string path = AbsoluteFolder(folder, environment);
    // Each missing folder on the way is made private to the user.
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            throw std::runtime_error("cannot create the data folder " + path + ": " + prefix +
                                     ": " + ErrorText(errno));
        }
    }
    CheckIsFolder(path);
    if (::access(path.c_str(), W_OK | X_OK) != 0) {
        throw std::runtime_error("cannot write into the data folder " + path + ": " +
                                 ErrorText(errno));
    }
    return DataFolder(std::move(path));
}

DataFolder DataFolder::OpenExisting(std::string_view folder, const Environment& environment) {
    std::string path = AbsoluteFolder(folder, environment);
    CheckIsFolder(path);
    return DataFolder(std::move(path));
}

std::string DataFolder::CampaignFolder(std::string_view displayName) const {
    return m_path + ExistingCampaignFolderName(displayName) + '/';
}

std::string DataFolder::ExistingCampaignFolderName(std::string_view displayName,
                                                   std::string_view listedName) const {
    std::string name = CampaignFolderName(displayName);
    std::string candidates[] = {listedName.empty() || !SameCampaignName(listedName, displayName)
                                    ? std::string()
                                    : std::string(listedName),
                                UpperCaseAscii(displayName)};
    // lstat: a link in a folder's place is that campaign's entry too.
    struct stat st {};
    if (::lstat((m_path + name).c_str(), &st) == 0 || errno != ENOENT) {
        return name;
    }
    for (std::string& candidate : candidates) {
        if (!candidate.empty() && candidate != name &&
            ::lstat((m_path + candidate).c_str(), &st) == 0) {
            return std::move(candidate);
        }
    }
    return name;
}

std::string DataFolder::CampaignFolderName(std::string_view displayName) {
    return UpperCase(displayName);
}

bool DataFolder::SameCampaignName(std::string_view a, std::string_view b) {
    return a == b || UpperCase(a) == UpperCase(b);
}

Result DataFolder::CheckName(std::string_view name) {
    if (name.empty()) {
        return Result::Failure("the name is empty");
    }
    if (name == "." || name == "..") {
        return Result::Failure("\"" + std::string(name) + "\" names a folder itself");
    }
    if (name.size() > kMaxNameBytes) {
        return Result::Failure("the name is longer than " + std::to_string(kMaxNameBytes) +
                               " bytes");
    }
    if (!IsValidUtf8(name)) {
        return Result::Failure("the name is not valid UTF-8 text");
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c == '/' || c == '\\') {
            return Result::Failure("the name holds a path separator");
        }
        // C1 controls are U+0080 to U+009F, encoded as C2 80 to C2 9F.
        const bool c1 =
            c == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c1) {
            return Result::Failure("the name holds a control character");
        }
    }
    if (name.front() == ' ' || name.back() == ' ') {
        return Result::Failure("the name begins or ends with a blank");
    }
    return Result::Success();
}

}  // namespace kavri
