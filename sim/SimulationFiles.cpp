#include "sim/SimulationFiles.h"

#include <filesystem>
#include <system_error>

namespace kavri::sim {

std::string SimulationFilePath(std::string_view fileName) {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const auto installed = self.parent_path() / "../share/kavri" / fileName;
        if (std::filesystem::exists(installed, error))
            return installed.lexically_normal();
    }
    return std::string(KAVRI_SOURCE_DIR) + "/sim/" + std::string(fileName);
}

}  // namespace kavri::sim
