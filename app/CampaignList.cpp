#include "app/CampaignList.h"

#include "app/AtomicFile.h"
#include "app/DataFolder.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavri {

namespace {

std::string ErrorText(int error) {
    return std::error_code(error, std::generic_category()).message();
}

// The whole file, or false with why (ENOENT for a missing file).
bool ReadSmallFile(const std::string& path, std::size_t limit, std::string& bytes, int& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok) {
        error = errno;
    } else if (!S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) > limit) {
        error = S_ISREG(st.st_mode) ? EFBIG : EINVAL;
        ok = false;
    }
    char buffer[16 * 1024];
    while (ok) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = errno;
            ok = false;
        } else if (got == 0) {
            break;
        } else if (bytes.size() + static_cast<std::size_t>(got) > limit) {
            // The file grew since fstat; stay within the limit all the same.
            error = EFBIG;
            ok = false;
        } else {
            bytes.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace

CampaignList::CampaignList(std::string path) : m_path(std::move(path)) {
    Load();
}

void CampaignList::Load() {
    std::string bytes;
    int error = 0;
    if (!ReadSmallFile(m_path, kMaxFileSize, bytes, error)) {
        if (error != ENOENT) {
            m_loadError = "cannot read " + m_path + ": " + ErrorText(error);
        }
        return;
    }
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        std::string_view line(bytes.data() + start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!line.empty()) {
            if (DataFolder::NameRefusal(line).empty()) {
                m_names.emplace_back(line);
            } else {
                m_skipped.emplace_back(line);
            }
        }
        start = end + 1;
    }
}

int CampaignList::IndexOf(std::string_view name) const {
    for (std::size_t i = 0; i < m_names.size(); ++i) {
        if (DataFolder::SameCampaignName(m_names[i], name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool CampaignList::Add(std::string_view name, std::string& error) {
    if (std::string why = DataFolder::NameRefusal(name); !why.empty()) {
        error = "cannot add \"" + std::string(name) + "\" to the campaign list: " + why;
        return false;
    }
    if (Contains(name)) {
        error = "\"" + std::string(name) + "\" is already in the campaign list";
        return false;
    }
    m_names.emplace_back(name);
    if (!Save(error)) {
        m_names.pop_back();
        return false;
    }
    return true;
}

bool CampaignList::Remove(std::string_view name, std::string& error) {
    const int index = IndexOf(name);
    if (index < 0) {
        error = "\"" + std::string(name) + "\" is not in the campaign list";
        return false;
    }
    const auto at = m_names.begin() + index;
    std::string removed = std::move(*at);
    m_names.erase(at);
    if (!Save(error)) {
        m_names.insert(m_names.begin() + index, std::move(removed));
        return false;
    }
    return true;
}

bool CampaignList::Save(std::string& error) const {
    if (!m_loadError.empty()) {
        error = m_loadError + "; the campaign list is left as it is";
        return false;
    }
    // CR LF like every other data file, so the files read the same everywhere.
    std::string bytes;
    for (const std::string& name : m_names) {
        bytes.append(name).append("\r\n");
    }
    return WriteFileAtomically(m_path, bytes, error);
}

}  // namespace kavri
