#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace flashlib_test {

/// A private directory for one test, removed afterwards.
class TempDir {
public:
    TempDir()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                ("flashlib_" + std::string(info != nullptr ? info->name() : "test") + "_" +
                 std::to_string(std::random_device{}()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    std::filesystem::path Write(const std::string& name, const std::string& bytes) const
    {
        const auto file = path_ / name;
        std::ofstream out(file, std::ios::binary);
        out << bytes;
        return file;
    }

private:
    std::filesystem::path path_;
};

inline std::string ReadFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// The sample container shipped in examples/, or an empty path when the source tree is not known.
inline std::filesystem::path SampleContainer()
{
    const char* root = std::getenv("TORVIK_SOURCE_DIR");
    return root != nullptr ? std::filesystem::path(root) / "examples" / "torvik4-sample.fkq" : std::filesystem::path();
}

}  // namespace flashlib_test
