#include <platform/files.hpp>

#include <cerrno>
#include <charconv>
#include <algorithm>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvik::platform {

namespace {

std::error_code SystemError(int err)
{
    return {err, std::generic_category()};
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

std::error_code WriteAll(int fd, std::string_view bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return SystemError(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    return {};
}

// Follows symbolic links to the path that is finally written; the last one may not exist yet.
std::error_code ResolveLinks(std::filesystem::path& path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return {};
        }
        std::error_code ec;
        const auto target = std::filesystem::read_symlink(path, ec);
        if (ec) {
            return ec;
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return SystemError(ELOOP);
}

bool SameFile(const struct stat& a, const std::filesystem::path& other)
{
    struct stat st {};
    return ::stat(other.c_str(), &st) == 0 && st.st_dev == a.st_dev && st.st_ino == a.st_ino;
}

void SyncDirectory(const std::filesystem::path& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::error_code ReplaceRegular(const std::filesystem::path& target, const struct stat* old, std::string_view bytes)
{
    const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    // A short fixed name, so that a target name of any legal length still leaves room for it.
    std::string temp = (dir / ".tvk-XXXXXX").string();
    Fd fd(::mkstemp(temp.data()));
    if (fd.get() < 0) {
        return SystemError(errno);
    }
    auto fail = [&temp](std::error_code ec) {
        ::unlink(temp.c_str());
        return ec;
    };
    if (old != nullptr && (old->st_uid != ::geteuid() || old->st_gid != ::getegid())) {
        if (::fchown(fd.get(), old->st_uid, old->st_gid) != 0 && old->st_uid != ::geteuid()) {
            return fail(make_error_code(WriteRefusal::other_owner));
        }
    }
    mode_t mode = 0;
    if (old != nullptr) {
        mode = old->st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd.get(), mode) != 0) {
        return fail(SystemError(errno));
    }
    if (auto ec = WriteAll(fd.get(), bytes)) {
        return fail(ec);
    }
    if (::fsync(fd.get()) != 0) {
        return fail(SystemError(errno));
    }
    if (::close(fd.release()) != 0) {
        return fail(SystemError(errno));
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        return fail(SystemError(errno));
    }
    SyncDirectory(dir);
    return {};
}

class WriteRefusalCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "write refusal"; }
    std::string message(int value) const override
    {
        switch (static_cast<WriteRefusal>(value)) {
        case WriteRefusal::not_regular:
            return "not a regular file";
        case WriteRefusal::is_input:
            return "it is an input of this command";
        case WriteRefusal::other_owner:
            return "the file belongs to another user";
        }
        return "refused";
    }
};

}  // namespace

// A name written to the open descriptor honours a shell's redirection, appending included.
std::optional<int> NamedDescriptor(const std::filesystem::path& path)
{
    const std::string text = path.string();
    if (text == "-" || text == "/dev/stdout") {
        return 1;
    }
    if (text == "/dev/stderr") {
        return 2;
    }
    for (const std::string_view prefix : {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/")}) {
        if (text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0) {
            int fd = -1;
            const char* const end = text.data() + text.size();
            const auto [at, ec] = std::from_chars(text.data() + prefix.size(), end, fd);
            if (ec == std::errc() && at == end) {
                return fd;
            }
        }
    }
    return std::nullopt;
}

const std::error_category& write_refusal_category()
{
    static const WriteRefusalCategory category;
    return category;
}

std::error_code make_error_code(WriteRefusal refusal)
{
    return {static_cast<int>(refusal), write_refusal_category()};
}

std::error_code ReadWholeFile(const std::filesystem::path& path, std::unique_ptr<char[]>& data, std::size_t& size,
                              std::uintmax_t limit)
{
    size = 0;
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return SystemError(errno);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return SystemError(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        return SystemError(EISDIR);
    }
    if (S_ISREG(st.st_mode) && static_cast<std::uintmax_t>(st.st_size) > limit) {
        return SystemError(EFBIG);
    }
    // One read of the whole file when its size is known; a pipe or a device is read in growing steps.
    std::size_t capacity = S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 65536;
    data = std::make_unique_for_overwrite<char[]>(capacity);
    for (;;) {
        if (size == capacity) {
            if (size > limit) {
                return SystemError(EFBIG);
            }
            // Growing stops one byte past the limit: that byte is enough to know the file is too large.
            const std::size_t larger =
                static_cast<std::size_t>(std::min<std::uintmax_t>(std::uintmax_t{capacity} * 2, limit + 1));
            auto grown = std::make_unique_for_overwrite<char[]>(larger);
            std::memcpy(grown.get(), data.get(), size);
            data = std::move(grown);
            capacity = larger;
        }
        const ssize_t n = ::read(fd.get(), data.get() + size, capacity - size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return SystemError(errno);
        }
        if (n == 0) {
            break;
        }
        size += static_cast<std::size_t>(n);
    }
    if (size > limit) {
        return SystemError(EFBIG);
    }
    if (size == capacity) {
        auto grown = std::make_unique_for_overwrite<char[]>(size + 1);
        std::memcpy(grown.get(), data.get(), size);
        data = std::move(grown);
    }
    data[size] = '\0';
    return {};
}

std::error_code ReadWholeFile(const std::filesystem::path& path, std::string& bytes, std::uintmax_t limit)
{
    std::unique_ptr<char[]> data;
    std::size_t size = 0;
    if (auto ec = ReadWholeFile(path, data, size, limit)) {
        return ec;
    }
    bytes.assign(data.get(), size);
    return {};
}

std::error_code WriteFileSafely(const std::filesystem::path& path, std::string_view bytes, const WriteRules& rules)
{
    if (path.empty()) {
        return SystemError(ENOENT);
    }
    if (const auto fd = NamedDescriptor(path)) {
        if (!rules.streams) {
            return make_error_code(WriteRefusal::not_regular);
        }
        return WriteAll(*fd, bytes);
    }
    std::filesystem::path target = path;
    if (auto ec = ResolveLinks(target)) {
        return ec;
    }
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            return SystemError(errno);
        }
        return ReplaceRegular(target, nullptr, bytes);
    }
    for (const auto& input : rules.inputs) {
        if (SameFile(st, input)) {
            return make_error_code(WriteRefusal::is_input);
        }
    }
    if (S_ISDIR(st.st_mode)) {
        return SystemError(EISDIR);
    }
    if (!S_ISREG(st.st_mode)) {
        if (!rules.streams || !(S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
            return make_error_code(WriteRefusal::not_regular);
        }
        Fd fd(::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
        if (fd.get() < 0) {
            return SystemError(errno);
        }
        return WriteAll(fd.get(), bytes);
    }
    // A read-only file stays as it is, also for a user whom the system would let replace it.
    if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
        return SystemError(EACCES);
    }
    return ReplaceRegular(target, &st, bytes);
}

}  // namespace torvik::platform
