// Replays fuzz inputs through a libFuzzer entry point without libFuzzer, so that every build
// (gcc, sanitizers) runs the corpus. Arguments are files or directories; a directory that does not
// exist is skipped with a note (corpora kept outside the checkout may be absent).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void RunFile(const std::filesystem::path& file, std::size_t& count)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // An empty input still gets a valid pointer.
    std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
    data.reserve(1);
    LLVMFuzzerTestOneInput(data.data(), data.size());
    ++count;
}

}  // namespace

int main(int argc, char** argv)
{
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(arg)) {
                if (entry.is_regular_file()) {
                    RunFile(entry.path(), count);
                }
            }
        } else if (std::filesystem::is_regular_file(arg, ec)) {
            RunFile(arg, count);
        } else {
            std::fprintf(stderr, "replay: %s not found, skipped\n", argv[i]);
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return 0;
}
