// Runs a fuzz target's entry point without libFuzzer, on the files named
// and on every file in the directories named (in name order): the ordinary
// builds keep each target compiling and each of its seeds and kept
// findings passing. A target aborts on a violated invariant; an entry
// point that returns other than 0, or no input at all, fails as well.
//
//   <target>_replay PATH...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    // Absolute paths: some targets work in a private directory of their own.
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        const fs::path path = fs::absolute(argv[i], error);
        if (!fs::is_directory(path, error)) {
            files.push_back(path);
            continue;
        }
        std::vector<fs::path> inDir;
        for (const auto& e : fs::directory_iterator(path)) {
            if (e.is_regular_file()) inDir.push_back(e.path());
        }
        std::sort(inDir.begin(), inDir.end());
        files.insert(files.end(), inDir.begin(), inDir.end());
    }

    int failed = 0;
    for (const fs::path& f : files) {
        std::ifstream in(f, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "replay: cannot read %s\n", f.c_str());
            ++failed;
            continue;
        }
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        std::fprintf(stderr, "replay: %s\n", f.c_str());
        if (LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                   bytes.size()) != 0) {
            std::fprintf(stderr, "replay: %s: the entry point returned nonzero\n", f.c_str());
            ++failed;
        }
    }
    std::printf("%zu inputs, %d failed\n", files.size(), failed);
    return files.empty() || failed != 0 ? 1 : 0;
}
