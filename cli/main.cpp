// kavrictl: the headless operator tool. Commands arrive layer by layer; this
// first version reports what it can do and where its data lives.

#include <cstdio>
#include <cstring>
#include <string>

namespace {

void PrintUsage(std::FILE* out) {
    std::fputs(
        "usage: kavrictl <command>\n"
        "  version    print the program version\n"
        "  help       print this text\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0) {
        PrintUsage(stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "version") == 0) {
        std::puts("kavrictl 0.1.0");
        return 0;
    }
    std::fprintf(stderr, "kavrictl: unknown command \"%s\"\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}
