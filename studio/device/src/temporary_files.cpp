#include <device/temporary_files.hpp>

#include <platform/process.hpp>

#include <new>

namespace torvik::studio {

TemporaryFiles::~TemporaryFiles()
{
    RemoveAll();
}

std::filesystem::path TemporaryFiles::Create(const std::string& prefix, const std::string& suffix,
                                             std::error_code& error)
{
    std::filesystem::path path;
    try {
        const auto directory = std::filesystem::temp_directory_path(error);
        if (error) {
            return {};
        }
        path = platform::CreateUniqueFile(directory, prefix, suffix, error);
        if (error) {
            return {};
        }
        Register(path);
        return path;
    } catch (const std::bad_alloc&) {
        if (!path.empty()) {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
        error = std::make_error_code(std::errc::not_enough_memory);
        return {};
    }
}

void TemporaryFiles::Register(const std::filesystem::path& path)
{
    const std::lock_guard lock(mutex_);
    files_.push_back(path);
}

void TemporaryFiles::RemoveAll()
{
    const std::lock_guard lock(mutex_);
    for (const auto& file : files_) {
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
    }
    files_.clear();
}

TemporaryFiles& TemporaryFiles::Program()
{
    static TemporaryFiles files;
    return files;
}

}  // namespace torvik::studio
