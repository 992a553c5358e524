#include "numbers.hpp"

#include <charconv>
#include <climits>

namespace kq::flashlib::detail {

namespace {

std::size_t SkipBlanks(const std::wstring& text, std::size_t i)
{
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) {
        ++i;
    }
    return i;
}

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9') {
        return static_cast<int>(c - L'0');
    }
    if (c >= L'a' && c <= L'f') {
        return static_cast<int>(c - L'a' + 10);
    }
    if (c >= L'A' && c <= L'F') {
        return static_cast<int>(c - L'A' + 10);
    }
    return -1;
}

}  // namespace

std::optional<std::uint32_t> ReadHex(const std::wstring& text)
{
    std::size_t i = SkipBlanks(text, 0);
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    if (i + 1 < text.size() && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X') &&
        i + 2 < text.size() && HexDigit(text[i + 2]) >= 0) {
        i += 2;
    }
    if (i >= text.size() || HexDigit(text[i]) < 0) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (; i < text.size() && HexDigit(text[i]) >= 0; ++i) {
        value = value * 16 + static_cast<std::uint64_t>(HexDigit(text[i]));
        if (value > 0xFFFFFFFFull) {
            value = 0xFFFFFFFFull + 1;  // keeps saturating without overflowing
        }
    }
    auto result = value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
    if (negative) {
        result = ~result + 1u;
    }
    return result;
}

std::optional<int> ReadDecimal(const std::wstring& text)
{
    std::size_t i = SkipBlanks(text, 0);
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
        negative = text[i] == L'-';
        ++i;
    }
    if (i >= text.size() || text[i] < L'0' || text[i] > L'9') {
        return std::nullopt;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + (text[i] - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        value = INT_MAX;
    }
    return static_cast<int>(value);
}

double ReadDouble(const std::wstring& text)
{
    std::size_t i = SkipBlanks(text, 0);
    std::string narrow;
    if (i < text.size() && text[i] == L'+') {
        ++i;
    }
    for (; i < text.size() && text[i] < 0x80 && text[i] > L' '; ++i) {
        narrow.push_back(static_cast<char>(text[i]));
    }
    double value = 0.0;
    const auto [end, ec] = std::from_chars(narrow.data(), narrow.data() + narrow.size(), value);
    (void)end;
    return ec == std::errc() ? value : 0.0;
}

}  // namespace kq::flashlib::detail
