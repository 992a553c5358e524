#pragma once

// The files the program makes for itself, and their removal when it ends.

#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

namespace torvik::studio {

/// Files the program makes for itself (downloads, HEX files for the device) and removes when it ends.
/// Every member may be called from any thread.
class TemporaryFiles {
public:
    TemporaryFiles() = default;
    ~TemporaryFiles();  ///< removes every file still registered
    TemporaryFiles(const TemporaryFiles&) = delete;
    TemporaryFiles& operator=(const TemporaryFiles&) = delete;

    /// A new empty file `<prefix>XXXXXX<suffix>` in the system's temporary directory ($TMPDIR, else
    /// /tmp), made with mode 0600 under a name nobody else has, and registered; empty path and `error`
    /// (the system's reason) on failure.
    std::filesystem::path Create(const std::string& prefix, const std::string& suffix, std::error_code& error);
    /// Registers a file made elsewhere, to be removed with the others.
    void Register(const std::filesystem::path& path);
    /// Removes every registered file now (one already gone is no error) and forgets them.
    void RemoveAll();

    /// The program-wide instance, made on first use; its files are removed when the program ends normally
    /// (return from main or exit()).
    static TemporaryFiles& Program();

private:
    std::mutex mutex_;
    std::vector<std::filesystem::path> files_;
};

}  // namespace torvik::studio
