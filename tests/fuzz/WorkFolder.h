#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace kavri::fuzz {

// A folder of this process for the files a target reads and writes, in memory
// where the system offers it (the INI store flushes every write to disk), and
// removed with everything in it when the process ends normally.
class WorkFolder {
public:
    explicit WorkFolder(const std::string& purpose) {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        m_path = base / ("kavri-fuzz-" + purpose + "-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_path);
    }
    ~WorkFolder() {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }

    // Removes everything in the folder, keeping the folder.
    void Empty() const {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(m_path, error))
            std::filesystem::remove_all(entry.path(), error);
    }

private:
    std::filesystem::path m_path;
};

}  // namespace kavri::fuzz
