// Runs a fuzz harness over files, the way libFuzzer replays a corpus, for compilers without
// libFuzzer and for CTest: with no argument every file of the harness's committed corpus, otherwise
// every file named and every file in each folder named (a crash input saved by scripts/fuzz.sh, say).
// A harness reports a fault by aborting, so getting to the end means every input passed.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

static void collect(const fs::path& path, std::vector<fs::path>& files)
{
    if (fs::is_directory(path)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(path)) {
            if (entry.is_regular_file())
                files.push_back(entry.path());
        }
    } else if (fs::is_regular_file(path)) {
        files.push_back(path);
    }
}

int main(int argc, char** argv)
{
    std::vector<fs::path> files;
    if (argc < 2) {
        collect(FUZZ_CORPUS_DIR, files);
    } else {
        for (int i = 1; i < argc; ++i)
            collect(argv[i], files);
    }
    // A replay that feeds nothing would pass whatever the harness does.
    if (files.empty()) {
        std::fprintf(stderr, "no inputs found (corpus: %s)\n", argc < 2 ? FUZZ_CORPUS_DIR : "arguments");
        return 1;
    }
    std::sort(files.begin(), files.end());

    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "cannot read %s\n", file.c_str());
            return 1;
        }
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::fprintf(stderr, "%s (%zu bytes)\n", file.c_str(), bytes.size());
        // A copy of exactly the input's size, so that a read past its end is caught as in libFuzzer.
        std::vector<uint8_t> input(bytes.begin(), bytes.end());
        uint8_t* data = input.empty() ? nullptr : input.data();
        LLVMFuzzerTestOneInput(data, input.size());
    }
    std::fprintf(stderr, "%zu inputs replayed\n", files.size());
    return 0;
}
