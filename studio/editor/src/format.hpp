// printf-style formatting for log lines and grid texts; wide texts go in as UTF-8 through `U8`.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

#include <platform/text.hpp>

namespace torvik::studio::detail {

[[gnu::format(printf, 1, 2)]] inline std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0) {
        std::vsnprintf(out.data(), out.size() + 1, format, again);
    }
    va_end(again);
    return out;
}

inline std::string U8(const std::wstring& text)
{
    return platform::ToUtf8(text);
}

inline std::wstring Wide(const std::string& text)
{
    return platform::FromUtf8(text);
}

}  // namespace torvik::studio::detail
