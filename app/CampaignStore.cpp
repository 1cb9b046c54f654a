#include "app/CampaignStore.h"

#include "app/IniFile.h"

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavri {

CampaignStore::CampaignStore(DataFolder folder, DateFormat format)
    : m_folder(std::move(folder)),
      m_format(std::move(format)),
      m_campaigns(m_folder.CampaignsFile()) {}

std::string CampaignStore::CampaignFolder(std::string_view name) const {
    return m_folder.Path() + FolderNameOf(name) + '/';
}

std::string CampaignStore::FolderNameOf(std::string_view name) const {
    const int listed = m_campaigns.IndexOf(name);
    return m_folder.ExistingCampaignFolderName(
        name, listed < 0 ? std::string_view()
                         : std::string_view(m_campaigns.Names()[static_cast<std::size_t>(listed)]));
}

std::unique_ptr<IniFile> CampaignStore::OpenRecord(std::string_view name) const {
    return std::make_unique<IniFile>(CampaignFolder(name) + std::string(CampaignRecord::kFileName),
                                     m_format);
}

CampaignRecord CampaignStore::ReadRecord(std::string_view name) const {
    if (!DataFolder::CheckName(name)) {
        return CampaignRecord();
    }
    return CampaignRecord::Read(*OpenRecord(name));
}

Result CampaignStore::DeleteCampaign(std::string_view name) {
    if (Result named = DataFolder::CheckName(name); !named) {
        return Result::Failure("cannot delete campaign \"" + std::string(name) +
                               "\": " + named.Message);
    }
    // The folder as it is on disk: a campaign of an earlier version may have
    // one upper-cased in ASCII only.
    const std::string folderName = FolderNameOf(name);
    if (Result removed = m_campaigns.Remove(name); !removed) {
        return removed;
    }
    // Failures from here on are not reported, as with the folder's files: the
    // campaign is gone from the list and a stray folder harms nothing.
    (void)RemoveFlatFolder(m_folder.Path(), folderName);
    return Result::Success();
}

bool RemoveFlatFolder(const std::string& parent, const std::string& name) {
    const int parentFd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0) {
        return false;
    }
    struct stat st {};
    if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        const bool gone = errno == ENOENT;
        ::close(parentFd);
        return gone;
    }
    if (!S_ISDIR(st.st_mode)) {
        // A link (or a file) in the campaign folder's place: remove just it.
        const bool removed = ::unlinkat(parentFd, name.c_str(), 0) == 0;
        ::close(parentFd);
        return removed;
    }
    // O_NOFOLLOW: should the folder be swapped for a link after the check
    // above, opening fails instead of following it.
    const int folderFd =
        ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFd >= 0) {
        if (DIR* dir = ::fdopendir(folderFd)) {
            while (const dirent* entry = ::readdir(dir)) {
                const std::string_view entryName = entry->d_name;
                if (entryName == "." || entryName == "..") {
                    continue;
                }
                struct stat entrySt {};
                if (::fstatat(folderFd, entry->d_name, &entrySt, AT_SYMLINK_NOFOLLOW) == 0 &&
                    !S_ISDIR(entrySt.st_mode)) {
                    (void)::unlinkat(folderFd, entry->d_name, 0);
                }
            }
            ::closedir(dir);  // closes folderFd too
        } else {
            ::close(folderFd);
        }
    }
    const bool removed = ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0;
    ::close(parentFd);
    return removed;
}

}  // namespace kavri
