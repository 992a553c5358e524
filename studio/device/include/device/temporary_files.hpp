#pragma once

#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

namespace torvik::studio {

/// Files the program makes for itself (downloads, HEX files for the device) and removes when it ends.
class TemporaryFiles {
public:
    TemporaryFiles() = default;
    ~TemporaryFiles();
    TemporaryFiles(const TemporaryFiles&) = delete;
    TemporaryFiles& operator=(const TemporaryFiles&) = delete;

    std::filesystem::path Create(const std::string& prefix, const std::string& suffix, std::error_code& error);
    void Register(const std::filesystem::path& path);
    void RemoveAll();
    static TemporaryFiles& Program();

private:
    std::mutex mutex_;
    std::vector<std::filesystem::path> files_;
};

}  // namespace torvik::studio
