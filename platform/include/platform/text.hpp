#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace torvik::platform {

/// Wide text (UTF-32 on Linux) to UTF-8. Code points that UTF-8 cannot carry become U+FFFD.
std::string ToUtf8(std::wstring_view text);

/// UTF-8 to wide text. Invalid sequences become U+FFFD, one per offending byte.
std::wstring FromUtf8(std::string_view text);

/// A wide path as the file system takes it (UTF-8 bytes).
std::filesystem::path ToPath(std::wstring_view path);

}  // namespace torvik::platform
