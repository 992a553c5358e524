#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace torvik::platform {

/// The most any reader takes from one file: far above every real database, project, image, container or
/// HEX file, and small enough that a device node or an endless pipe cannot exhaust the memory.
inline constexpr std::uintmax_t kReadLimit = std::uintmax_t{256} << 20U;

/// Reads a whole file, or what a pipe delivers until it ends, into `data` (`size` bytes are valid; one
/// more byte is allocated for a terminator). Fails with the system's reason (missing, a directory, no
/// permission, ...), and with EFBIG when there is more than `limit` bytes; `data` is unspecified then.
std::error_code ReadWholeFile(const std::filesystem::path& path, std::unique_ptr<char[]>& data, std::size_t& size,
                              std::uintmax_t limit = kReadLimit);

/// The same into a string.
std::error_code ReadWholeFile(const std::filesystem::path& path, std::string& bytes,
                              std::uintmax_t limit = kReadLimit);

/// The open descriptor that a path names on its face: "-" and /dev/stdout are 1, /dev/stderr 2,
/// /dev/fd/N and /proc/self/fd/N are N; nothing for any other path.
std::optional<int> NamedDescriptor(const std::filesystem::path& path);

/// Why a write was refused before anything was written.
enum class WriteRefusal {
    not_regular = 1,  ///< the path names a device, a pipe or a socket that is no place for this file
    is_input,         ///< the path names a file that the same command reads
    other_owner,      ///< the file belongs to another user and would change owner
};

const std::error_category& write_refusal_category();
std::error_code make_error_code(WriteRefusal refusal);

/// What a write must respect besides the path.
struct WriteRules {
    /// Files the same command reads; a path that names one of them (through any link) is refused.
    std::vector<std::filesystem::path> inputs;
    /// Whether "-", /dev/stdout, /dev/fd/N and existing character devices, pipes and sockets are written
    /// straight into (an output option); otherwise such a path is refused.
    bool streams = false;
};

/// Writes `bytes` as the new content of `path`, the one way every file of the system is written:
/// - a symbolic link is followed and its target replaced; a dangling link creates its target;
/// - a regular file is replaced whole: the bytes go to a temporary file beside it, which is synced and
///   renamed over it, so either the new content is there or the old file is untouched; the replaced
///   file's permission bits (and owner and group, where the system allows) are kept, a new file gets
///   0666 less the umask;
/// - a file without write permission is refused (EACCES), as is one of another user's that would
///   change owner, one of `rules.inputs`, and a path that exists and is not a regular file (unless
///   `rules.streams` says to write straight into it).
std::error_code WriteFileSafely(const std::filesystem::path& path, std::string_view bytes,
                                const WriteRules& rules = {});

}  // namespace torvik::platform

template <>
struct std::is_error_code_enum<torvik::platform::WriteRefusal> : std::true_type {};
