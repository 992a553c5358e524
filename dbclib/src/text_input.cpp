#include <dbclib/text_input.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <system_error>
#include <type_traits>
#include <vector>

#include <platform/files.hpp>
#include <platform/text.hpp>

namespace kq::dbclib::detail {

namespace {

// Bytes 0x80 to 0xFF; the five bytes Windows-1252 leaves undefined keep their own code (C1 controls).
constexpr wchar_t kWindows1252[128] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152,
    0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122,
    0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, 0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF, 0x00B0, 0x00B1, 0x00B2, 0x00B3,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF, 0x00C0,
    0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD,
    0x00CE, 0x00CF, 0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA,
    0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF, 0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF, 0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4,
    0x00F5, 0x00F6, 0x00F7, 0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};

// Central European code page, for locales such as "cs-CZ" or "pl-PL".
constexpr wchar_t kWindows1250[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, 0x0088, 0x2030, 0x0160, 0x2039, 0x015A,
    0x0164, 0x017D, 0x0179, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD,
    0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA,
    0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4,
    0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

const wchar_t* code_page_of(const std::wstring& locale)
{
    const std::wstring_view language = std::wstring_view(locale).substr(0, locale.find_first_of(L"-_"));
    for (const std::wstring_view central : {L"cs", L"pl", L"hu", L"sk", L"sl", L"hr", L"ro", L"bs", L"sq"}) {
        if (language == central) {
            return kWindows1250;
        }
    }
    return kWindows1252;
}

// Checks well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF) and tells whether
// any byte is outside ASCII.
bool is_utf8(const unsigned char* p, const unsigned char* end, bool& hasNonAscii)
{
    hasNonAscii = false;
    while (p != end) {
        // Runs of ASCII bytes, 16 at a time.
#if defined(__SSE2__)
        if (end - p >= 16 && _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) == 0) {
            p += 16;
            continue;
        }
#else
        if (end - p >= 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
#endif
        const unsigned char b = *p;
        if (b < 0x80) {
            ++p;
            continue;
        }
        hasNonAscii = true;
        int more = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            more = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            if (b == 0xE0) {
                low = 0xA0;
            } else if (b == 0xED) {
                high = 0x9F;
            }
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            if (b == 0xF0) {
                low = 0x90;
            } else if (b == 0xF4) {
                high = 0x8F;
            }
        } else {
            return false;
        }
        ++p;
        if (end - p < more) {
            return false;
        }
        if (p[0] < low || p[0] > high) {
            return false;
        }
        for (int i = 1; i < more; ++i) {
            if (p[i] < 0x80 || p[i] > 0xBF) {
                return false;
            }
        }
        p += more;
    }
    return true;
}

// Text mode: a carriage return directly before a line feed is dropped. Returns the new size.
std::size_t drop_cr_before_lf(char* data, std::size_t size)
{
    char* first = static_cast<char*>(std::memchr(data, '\r', size));
    if (first == nullptr) {
        return size;
    }
    char* out = first;
    const char* in = first;
    const char* const end = data + size;
    while (in != end) {
        if (*in == '\r' && in + 1 != end && in[1] == '\n') {
            ++in;
            continue;
        }
        *out++ = *in++;
    }
    return static_cast<std::size_t>(out - data);
}

// A file that starts with a UTF-16 byte-order mark, as UTF-8 in place of its bytes. An unpaired
// surrogate becomes U+FFFD; an odd last byte is dropped.
void utf16_to_utf8(TextBuffer& bytes)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data.get());
    const bool little = data[0] == 0xFF;
    const std::size_t units = bytes.size / 2;
    // At most three bytes per unit (a surrogate pair, two units, makes four).
    auto out = std::make_unique_for_overwrite<char[]>(units * 3 + 1);
    std::size_t n = 0;
    const auto unit = [&](std::size_t i) -> std::uint32_t {
        const unsigned a = data[2 * i];
        const unsigned b = data[2 * i + 1];
        return little ? (b << 8 | a) : (a << 8 | b);
    };
    const auto put = [&](std::uint32_t cp) {
        if (cp < 0x80) {
            out[n++] = static_cast<char>(cp);
        } else if (cp < 0x800) {
            out[n++] = static_cast<char>(0xC0 | cp >> 6);
            out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out[n++] = static_cast<char>(0xE0 | cp >> 12);
            out[n++] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out[n++] = static_cast<char>(0xF0 | cp >> 18);
            out[n++] = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out[n++] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        }
    };
    for (std::size_t i = 1; i < units; ++i) {  // unit 0 is the mark
        const std::uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
            put(0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            put(0xFFFD);
        } else {
            put(u);
        }
    }
    bytes.data = std::move(out);
    bytes.size = n;
}

// The C conversions' answer for a number out of range: infinity for an overflow, zero for an underflow.
// Decides by the decimal (or binary) exponent of the first significant digit.
template <typename T>
T out_of_range_value(const char* digits, const char* end, bool hex, bool negative)
{
    long exponent = 0;
    bool seenPoint = false;
    bool significant = false;
    const char* p = digits;
    for (; p != end; ++p) {
        const char c = *p;
        if (c == '.') {
            seenPoint = true;
            continue;
        }
        const bool digit = hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : (c >= '0' && c <= '9');
        if (!digit) {
            break;
        }
        if (!significant && c != '0') {
            significant = true;
        }
        if (significant && !seenPoint) {
            ++exponent;
        } else if (!significant && seenPoint) {
            --exponent;
        }
    }
    if (p != end && (*p == 'e' || *p == 'E' || *p == 'p' || *p == 'P')) {
        long e = 0;
        std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, e);
        exponent += hex ? e / 4 : e;
    }
    const T magnitude = exponent > 0 ? std::numeric_limits<T>::infinity() : T(0);
    return negative ? -magnitude : magnitude;
}

template <typename T>
const wchar_t* parse_real(const wchar_t* text, T& value)
{
    if constexpr (std::is_same_v<T, double>) {
        if (const wchar_t* end = parse_plain_decimal(text, value)) {
            return end;
        }
    }
    // Copy the characters a number can hold into a narrow buffer for from_chars, which ignores the
    // locale. Fragments are short, so the bound is never reached by real input.
    constexpr std::size_t kMax = 600;
    char narrow[kMax];
    std::size_t n = 0;
    for (const wchar_t* p = text; n < kMax && *p != L'\0'; ++p) {
        const wchar_t c = *p;
        const bool allowed = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                             c == L'.' || c == L'+' || c == L'-' || c == L'(' || c == L')' || c == L'_';
        if (!allowed) {
            break;
        }
        narrow[n++] = static_cast<char>(c);
    }
    const char* const end = narrow + n;
    const char* p = narrow;
    bool negative = false;
    if (p != end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const char* const body = p;
    bool hex = false;
    if (end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        hex = true;
        p += 2;
    }
    T result{};
    auto r = std::from_chars(p, end, result, hex ? std::chars_format::hex : std::chars_format::general);
    if (hex && r.ec == std::errc::invalid_argument) {
        // "0x" without hexadecimal digits: the conversion takes the "0".
        hex = false;
        p = body;
        r = std::from_chars(p, body + 1, result);
    }
    if (r.ec == std::errc::invalid_argument) {
        return nullptr;
    }
    if (r.ec == std::errc::result_out_of_range) {
        result = out_of_range_value<T>(p, r.ptr, hex, false);
    }
    value = negative ? -result : result;
    return text + (r.ptr - narrow);
}

}  // namespace

KeywordAutomaton::KeywordAutomaton()
{
    // Breadth-first over the reachable count tuples; every character outside ASCII acts alike (it
    // continues no keyword and starts none), so it shares column 128 with no separate state.
    using Counts = std::array<std::uint8_t, kCount>;
    std::map<Counts, std::uint16_t> ids;
    std::vector<Counts> states;
    const auto idOf = [&](const Counts& counts) {
        const auto [it, added] = ids.emplace(counts, static_cast<std::uint16_t>(states.size()));
        if (added) {
            states.push_back(counts);
        }
        return it->second;
    };
    idOf(Counts{});
    for (std::size_t s = 0; s < states.size(); ++s) {
        for (std::size_t column = 0; column < kColumns; ++column) {
            const auto c = static_cast<wchar_t>(column < 128 ? column : 0x100);
            Counts counts = states[s];
            for (std::size_t k = 0; k < kCount; ++k) {
                const std::wstring_view keyword = kKeywords[k];
                if (counts[k] < keyword.size() && c == keyword[counts[k]]) {
                    ++counts[k];
                } else {
                    counts[k] = c == keyword[0] ? 1 : 0;
                }
            }
            const std::uint16_t target = idOf(counts);
            transitions_.resize(states.size() * kColumns);
            transitions_[s * kColumns + column] = target;
        }
    }
    transitions_.resize(states.size() * kColumns);
    completed_.assign(states.size(), 0);
    partial_.assign(states.size(), 0);
    for (std::size_t s = 0; s < states.size(); ++s) {
        for (std::size_t k = 0; k < kCount; ++k) {
            const std::size_t count = states[s][k];
            if (count == kKeywords[k].size()) {
                completed_[s] = static_cast<std::uint16_t>(completed_[s] | (1u << k));
            } else if (count != 0) {
                partial_[s] = 1;
            }
        }
    }
}

const KeywordAutomaton& KeywordAutomaton::instance()
{
    static const KeywordAutomaton automaton;
    return automaton;
}

bool load_file(const std::wstring& path, TextBuffer& bytes, std::error_code& error)
{
    error.clear();
    if (path.find(L'\0') != std::wstring::npos) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        errno = ENOENT;
        return false;
    }
    if (const auto ec = torvik::platform::ReadWholeFile(torvik::platform::ToPath(path), bytes.data, bytes.size)) {
        error = ec;
        errno = ec.value();
        return false;
    }
    return true;
}

DbcTextStream open_text(TextBuffer& bytes, const std::wstring& locale)
{
    if (bytes.size >= 2 && ((bytes.data[0] == '\xFF' && bytes.data[1] == '\xFE') ||
                            (bytes.data[0] == '\xFE' && bytes.data[1] == '\xFF'))) {
        utf16_to_utf8(bytes);
    }
    if (bytes.size != 0 && std::memchr(bytes.data.get(), '\n', bytes.size) == nullptr) {
        // Old Macintosh line ends: carriage returns only.
        std::replace(bytes.data.get(), bytes.data.get() + bytes.size, '\r', '\n');
    }
    char* const text = bytes.data.get();
    const auto* data = reinterpret_cast<const unsigned char*>(text);
    std::size_t skip = 0;
    const bool bom = bytes.size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF;
    if (bom) {
        skip = 3;
    }
    bool hasNonAscii = false;
    const bool utf8 = is_utf8(data + skip, data + bytes.size, hasNonAscii) && (bom || hasNonAscii);
    if (!utf8) {
        skip = 0;
    }
    bytes.size = bytes.size == 0 ? 0 : drop_cr_before_lf(text, bytes.size);
    return DbcTextStream(text + skip, text + bytes.size, utf8 ? nullptr : code_page_of(locale));
}

std::wstring network_name_from_path(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) {
        name.resize(dot);
    }
    return name;
}

const wchar_t* parse_double(const wchar_t* text, double& value)
{
    return parse_real(text, value);
}

const wchar_t* parse_float(const wchar_t* text, float& value)
{
    return parse_real(text, value);
}

}  // namespace kq::dbclib::detail
