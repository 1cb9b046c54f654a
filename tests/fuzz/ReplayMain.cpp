// The main of a fuzz target built without libFuzzer: feeds every file of the
// folders (or the single files) named on the command line through the target
// once, in name order, so the corpus kept in the repository runs as a plain
// test in every build. An input that breaks a check aborts the program (the
// target's own checks, or a sanitizer in a sanitized build). A folder that is
// missing or empty, or an input over kMaxInputBytes, fails the run: a corpus
// that silently replays nothing would prove nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// Corpus inputs are small; anything larger is a mistake in the corpus.
constexpr std::uintmax_t kMaxInputBytes = 1u << 20;

bool ReadInput(const fs::path& path, std::vector<std::uint8_t>& bytes) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error || size > kMaxInputBytes) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(),
                     error ? error.message().c_str() : "larger than 1 MiB");
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    bytes.resize(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!in || static_cast<std::uintmax_t>(in.gcount()) != size) {
        std::fprintf(stderr, "%s: cannot be read\n", path.c_str());
        return false;
    }
    return true;
}

// The inputs an argument names: the regular files of a folder, sorted, or
// the file itself.
bool CollectInputs(const fs::path& argument, std::vector<fs::path>& inputs) {
    std::error_code error;
    if (fs::is_regular_file(argument, error)) {
        inputs.push_back(argument);
        return true;
    }
    if (!fs::is_directory(argument, error)) {
        std::fprintf(stderr, "%s: no such corpus folder\n", argument.c_str());
        return false;
    }
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(argument, error)) {
        if (entry.is_regular_file(error))
            files.push_back(entry.path());
    }
    if (error || files.empty()) {
        std::fprintf(stderr, "%s: %s\n", argument.c_str(),
                     error ? error.message().c_str() : "holds no inputs");
        return false;
    }
    std::sort(files.begin(), files.end());
    inputs.insert(inputs.end(), files.begin(), files.end());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER_OR_FILE...\n", argv[0]);
        return 2;
    }
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (!CollectInputs(argv[i], inputs))
            return 1;
    }
    for (const fs::path& input : inputs) {
        // A buffer of exactly the input's size, so a read past its end is a
        // read past an allocation, as under libFuzzer.
        std::vector<std::uint8_t> bytes;
        if (!ReadInput(input, bytes))
            return 1;
        // Named first, so the input that aborts is the last one in the log.
        std::printf("%s\n", input.filename().c_str());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(bytes.empty() ? nullptr : bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
