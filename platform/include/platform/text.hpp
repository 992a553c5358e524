#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace torvik::platform {

/// Wide text (UTF-32 on Linux) to UTF-8. Code points that UTF-8 cannot carry become U+FFFD.
std::string ToUtf8(std::wstring_view text);

/// UTF-8 to wide text. Invalid sequences become U+FFFD, one per offending byte.
std::wstring FromUtf8(std::string_view text);

/// One character in Windows-1252, the code page of the desktop program's text on Windows. False for a
/// character the code page has no byte for; the five bytes it leaves undefined stand for the C1
/// controls of the same number, as the Windows conversion does.
bool ToWindows1252(wchar_t c, char& out);

/// One Windows-1252 byte as a wide character.
wchar_t FromWindows1252(unsigned char byte);

/// A wide path as the file system takes it (UTF-8 bytes).
std::filesystem::path ToPath(std::wstring_view path);

}  // namespace torvik::platform
