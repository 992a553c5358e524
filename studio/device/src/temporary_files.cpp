#include <device/temporary_files.hpp>

#include <platform/process.hpp>

namespace torvik::studio {

TemporaryFiles::~TemporaryFiles()
{
    RemoveAll();
}

std::filesystem::path TemporaryFiles::Create(const std::string& prefix, const std::string& suffix,
                                             std::error_code& error)
{
    (void)suffix;
    auto path = platform::CreateUniqueFile(std::filesystem::temp_directory_path(error), prefix, error);
    if (!path.empty()) {
        Register(path);
    }
    return path;
}

void TemporaryFiles::Register(const std::filesystem::path& path)
{
    std::lock_guard lock(mutex_);
    files_.push_back(path);
}

void TemporaryFiles::RemoveAll()
{
    std::lock_guard lock(mutex_);
    for (const auto& file : files_) {
        std::error_code ec;
        std::filesystem::remove(file, ec);
    }
    files_.clear();
}

TemporaryFiles& TemporaryFiles::Program()
{
    static TemporaryFiles files;
    return files;
}

}  // namespace torvik::studio
