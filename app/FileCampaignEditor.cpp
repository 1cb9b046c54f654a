#include "app/FileCampaignEditor.h"

#include "app/AtomicFile.h"
#include "app/CampaignStore.h"
#include "app/DataFolder.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavri {

namespace {

std::string ErrorText(int error) {
    return std::generic_category().message(error);
}

bool EqualsFolded(std::string_view a, std::string_view b) {
    return DataFolder::SameCampaignName(a, b);
}

// Files of the campaign itself that a content file must not replace.
Result ReservedName(std::string_view name) {
    for (std::string_view own : {"settings.dat", "accepted.dat", "rejected.dat"}) {
        if (EqualsFolded(name, own)) {
            return Result::Failure("\"" + std::string(name) +
                                   "\" is one of the campaign's own files");
        }
    }
    return Result::Success();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Renames within one folder without replacing an existing target.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without the flag: check, then rename.
    if (Exists(to)) {
        return EEXIST;
    }
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

FileCampaignEditor::FileCampaignEditor(CampaignStore& store, const DateTimeClock& clock,
                                       TextLookup texts)
    : CampaignEditor(store, clock, std::move(texts), kCampaignFileBased) {}

void FileCampaignEditor::ChooseSourceFile(std::string_view path) {
    m_sourcePath = std::string(path);
    const std::size_t slash = path.rfind('/');
    Values().FileName =
        std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

void FileCampaignEditor::LoadOwn(const CampaignRecord& stored) {
    m_storedFileName = stored.FileName;
    Values().FileName = stored.FileName;
}

Result FileCampaignEditor::CheckOwn() {
    const std::string& fileName = Values().FileName;
    if (fileName.empty()) {
        return Refuse("FileNameRequired");
    }
    Result named = DataFolder::CheckName(fileName);
    if (named) {
        named = ReservedName(fileName);
    }
    if (!named) {
        return Refuse("FileNameInvalid", named.Message);
    }
    if (m_storedFileName.empty() && m_sourcePath.empty()) {
        return Refuse("SelectFile");
    }
    if (!m_sourcePath.empty()) {
        struct stat st {};
        if (::stat(m_sourcePath.c_str(), &st) != 0) {
            return Refuse("SourceFileUnreadable", m_sourcePath + ": " + ErrorText(errno));
        }
        if (!S_ISREG(st.st_mode)) {
            return Refuse("SourceFileUnreadable", m_sourcePath + " is not a regular file");
        }
        if (::access(m_sourcePath.c_str(), R_OK) != 0) {
            return Refuse("SourceFileUnreadable", m_sourcePath + ": " + ErrorText(errno));
        }
        return Result::Success();
    }
    // Renaming the stored file. Only an existing campaign has one, so its
    // folder is known here.
    if (fileName == m_storedFileName) {
        return Result::Success();
    }
    if (!DataFolder::CheckName(m_storedFileName) || !ReservedName(m_storedFileName)) {
        return Refuse("FileNameInvalid", "the stored file name \"" + m_storedFileName +
                                             "\" cannot be used; choose a file");
    }
    const std::string folder = Store().CampaignFolder(CampaignName());
    if (!Exists(folder + m_storedFileName)) {
        return Refuse("SelectFile", "\"" + m_storedFileName + "\" is missing");
    }
    if (Exists(folder + fileName)) {
        return Refuse("FileNameInvalid",
                      "the campaign folder already holds a file named \"" + fileName + "\"");
    }
    return Result::Success();
}

Result FileCampaignEditor::PlaceContent(const std::string& folder) {
    const std::string& fileName = Values().FileName;
    const std::string target = folder + fileName;
    if (!m_sourcePath.empty()) {
        if (Result copied = CopyFileAtomically(m_sourcePath, target); !copied) {
            return Refuse("CampaignSaveFailed", copied.Message);
        }
        // The old file goes only once its replacement is in place.
        if (!m_storedFileName.empty() && m_storedFileName != fileName &&
            DataFolder::CheckName(m_storedFileName).Ok && ReservedName(m_storedFileName).Ok) {
            (void)::unlink((folder + m_storedFileName).c_str());
        }
        return Result::Success();
    }
    if (m_storedFileName.empty() || m_storedFileName == fileName) {
        return Result::Success();
    }
    if (const int error = RenameNoReplace(folder + m_storedFileName, target); error != 0) {
        return Refuse("CampaignSaveFailed", "cannot rename \"" + m_storedFileName + "\" to \"" +
                                                fileName + "\": " + ErrorText(error));
    }
    return Result::Success();
}

void FileCampaignEditor::AppendOwnEntries(CampaignRecord::Entries& entries) const {
    entries.emplace_back("FileName", Values().FileName);
}

}  // namespace kavri
