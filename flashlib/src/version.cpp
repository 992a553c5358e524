#include <flashlib/version.hpp>

#include <climits>
#include <cwctype>
#include <optional>

namespace kq::flashlib {

namespace {

int DecodeBcd(unsigned char b)
{
    if (b == 0xFF) {
        return -1;
    }
    return (b >> 4) * 10 + (b & 0x0F);
}

// The standard string-to-integer rule (leading white space, optional sign, decimal digits), but a
// missing number or one that does not fit reports failure instead of throwing.
std::optional<int> ReadDecimal(const wchar_t* at)
{
    while (*at != L'\0' && std::iswspace(static_cast<wint_t>(*at)) != 0) {
        ++at;
    }
    bool negative = false;
    if (*at == L'+' || *at == L'-') {
        negative = *at == L'-';
        ++at;
    }
    if (*at < L'0' || *at > L'9') {
        return std::nullopt;
    }
    long long value = 0;
    for (; *at >= L'0' && *at <= L'9'; ++at) {
        value = value * 10 + (*at - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            return std::nullopt;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

}  // namespace

Version::Version() : Version(-1, -1) {}

Version::Version(int major, int minor) : major_(major), minor_(minor) { SetString(); }

Version::Version(const unsigned char (&bytes)[2]) : Version(DecodeBcd(bytes[0]), DecodeBcd(bytes[1])) {}

int Version::Parse(const std::wstring& text)
{
    const auto major = ReadDecimal(text.c_str());
    if (!major) {
        return -1;
    }
    const auto dot = text.find(L'.');
    if (dot == std::wstring::npos) {
        major_ = *major;
        SetString();
        return -1;
    }
    const auto minor = ReadDecimal(text.c_str() + dot + 1);
    if (!minor) {
        return -1;
    }
    major_ = *major;
    minor_ = *minor;
    SetString();
    return 0;
}

std::wstring Version::GetString() const { return text_; }
int Version::GetMajor() const { return major_; }
int Version::GetMinor() const { return minor_; }

void Version::SetMajor(int major)
{
    major_ = major;
    SetString();
}

void Version::SetMinor(int minor)
{
    minor_ = minor;
    SetString();
}

int Version::IsUninicialised() const { return (major_ == -1 || minor_ == -1) ? 1 : 0; }

int Version::_trans(unsigned char byte) { return byte == 0xFF ? -1 : byte; }

void Version::SetString() { text_ = std::to_wstring(major_) + L"." + std::to_wstring(minor_); }

bool operator==(const Version& a, const Version& b)
{
    return a.GetMajor() == b.GetMajor() && a.GetMinor() == b.GetMinor();
}
bool operator!=(const Version& a, const Version& b) { return !(a == b); }
bool operator<(const Version& a, const Version& b)
{
    return a.GetMajor() < b.GetMajor() || (a.GetMajor() == b.GetMajor() && a.GetMinor() < b.GetMinor());
}
bool operator<=(const Version& a, const Version& b) { return !(b < a); }
bool operator>(const Version& a, const Version& b) { return b < a; }
bool operator>=(const Version& a, const Version& b) { return !(a < b); }

}  // namespace kq::flashlib
