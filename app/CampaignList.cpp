#include "app/CampaignList.h"

#include "app/AtomicFile.h"
#include "app/DataFolder.h"
#include "app/FileLock.h"

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
    Reload();
}

void CampaignList::Reload() {
    m_lines.clear();
    m_loadError.clear();
    std::string bytes;
    int error = 0;
    if (!ReadSmallFile(m_path, kMaxFileSize, bytes, error)) {
        if (error != ENOENT) {
            m_loadError = "cannot read " + m_path + ": " + ErrorText(error);
        }
        Rebuild();
        return;
    }
    // A byte-order mark is no part of the first name.
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    std::size_t start =
        std::string_view(bytes).starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
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
            m_lines.push_back(Line{std::string(line), DataFolder::CheckName(line).Ok});
        }
        start = end + 1;
    }
    Rebuild();
}

void CampaignList::Rebuild() {
    m_names.clear();
    m_upperNames.clear();
    m_skipped.clear();
    for (const Line& line : m_lines) {
        (line.IsName ? m_names : m_skipped).push_back(line.Text);
        if (line.IsName) {
            m_upperNames.push_back(DataFolder::CampaignFolderName(line.Text));
        }
    }
}

int CampaignList::IndexOf(std::string_view name) const {
    // DataFolder::SameCampaignName, with the names upper-cased once per load.
    const std::string upper = DataFolder::CampaignFolderName(name);
    for (std::size_t i = 0; i < m_names.size(); ++i) {
        if (m_names[i] == name || m_upperNames[i] == upper) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool CampaignList::Add(std::string_view name, std::string& error) {
    if (Result named = DataFolder::CheckName(name); !named) {
        error = "cannot add \"" + std::string(name) + "\" to the campaign list: " + named.Message;
        return false;
    }
    // Held until the new list is in place, so a change by another process
    // between the reading and the writing is never written over.
    const FileLock lock(m_path);
    if (!lock.Locked()) {
        error = lock.Error();
        return false;
    }
    Reload();
    if (!m_loadError.empty()) {
        error = m_loadError + "; the campaign list is left as it is";
        return false;
    }
    if (Contains(name)) {
        error = "\"" + std::string(name) + "\" is already in the campaign list";
        return false;
    }
    m_lines.push_back(Line{std::string(name), true});
    Rebuild();
    if (Result saved = Save(); !saved) {
        error = saved.Message;
        m_lines.pop_back();
        Rebuild();
        return false;
    }
    return true;
}

Result CampaignList::Remove(std::string_view name) {
    const FileLock lock(m_path);
    if (!lock.Locked()) {
        return Result::Failure(lock.Error());
    }
    Reload();
    if (!m_loadError.empty()) {
        return Result::Failure(m_loadError + "; the campaign list is left as it is");
    }
    const int index = IndexOf(name);
    if (index < 0) {
        return Result::Failure("\"" + std::string(name) + "\" is not in the campaign list");
    }
    // The index counts names; the lines kept as they are lie between them.
    int seen = -1;
    auto at = m_lines.begin();
    for (; at != m_lines.end(); ++at) {
        if (at->IsName && ++seen == index) {
            break;
        }
    }
    const auto position = at - m_lines.begin();
    Line removed = std::move(*at);
    m_lines.erase(at);
    Rebuild();
    if (Result saved = Save(); !saved) {
        m_lines.insert(m_lines.begin() + position, std::move(removed));
        Rebuild();
        return saved;
    }
    return Result::Success();
}

Result CampaignList::Save() const {
    if (!m_loadError.empty()) {
        return Result::Failure(m_loadError + "; the campaign list is left as it is");
    }
    // CR LF like every other data file, so the files read the same everywhere.
    // Lines that name no campaign go back as they came.
    std::string bytes;
    for (const Line& line : m_lines) {
        bytes.append(line.Text).append("\r\n");
    }
    return WriteFileAtomically(m_path, bytes);
}

}  // namespace kavri
