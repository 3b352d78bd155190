// Runs a fuzz target's checks without the fuzzer: every file named, and every
// file in every folder named, is fed to the target once.  A broken rule
// aborts with the rule's text; otherwise the count of inputs is printed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace fs = std::filesystem;

namespace {

void feed(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::printf("%s\n", file.c_str());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char **argv) {
    int count = 0;
    for (int n = 1; n < argc; ++n) {
        fs::path arg = argv[n];
        if (!fs::is_directory(arg)) {
            feed(arg);
            ++count;
            continue;
        }
        std::vector<fs::path> files;
        for (const auto &entry : fs::directory_iterator(arg))
            if (entry.is_regular_file()) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        for (const auto &file : files) feed(file), ++count;
    }
    std::printf("%d inputs replayed\n", count);
    return 0;
}
