// Replays fuzz inputs without libFuzzer: every regular file of the
// directories (or the files) named on the command line is passed to
// LLVMFuzzerTestOneInput once, in name order. A failing check aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char **argv) {
    LLVMFuzzerInitialize(&argc, &argv);
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg(argv[i]);
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            for (const auto &e : fs::directory_iterator(arg)) {
                if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path());
            }
        } else if (fs::is_regular_file(arg, ec)) {
            files.push_back(arg);
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "no inputs found\n");
        return 1;
    }
    for (const fs::path &p : files) {
        std::ifstream in(p, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<uint8_t> data(bytes.begin(), bytes.end());
        // A copy of exactly the file's size, so that reads past the end are caught.
        auto *buf = new uint8_t[data.size() + (data.empty() ? 1 : 0)];
        std::copy(data.begin(), data.end(), buf);
        LLVMFuzzerTestOneInput(buf, data.size());
        delete[] buf;
    }
    std::fprintf(stderr, "replayed %zu inputs\n", files.size());
    return 0;
}
