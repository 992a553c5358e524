#pragma once

#include <string>

#include <flashlib/export.hpp>

namespace kq::flashlib {

/// A version as major.minor; -1 in either part means uninitialised. The text form ("%d.%d") is
/// rebuilt whenever a part changes, so it never lags the numbers.
class KQ_FLASHLIB_API Version {
public:
    /// Flash container format version this library writes and reads.
    static constexpr int FLASH_CONTAINER_VERSION_MAJOR = 1;
    static constexpr int FLASH_CONTAINER_VERSION_MINOR = 2;

    /// -1.-1
    Version();
    Version(int major, int minor);
    /// Two bytes from device memory: byte 0 major, byte 1 minor, each packed BCD; 0xFF means -1.
    /// The nibbles are not checked for being decimal digits.
    explicit Version(const unsigned char (&bytes)[2]);

    /// Reads "major.minor" (leading blanks and a sign allowed, anything after the minor digits
    /// ignored). Returns 0 on success; -1 when the text holds no '.' (major is still taken, minor
    /// kept), or when a part is not a decimal number or does not fit 32 bits (then the version is
    /// left unchanged). Never throws.
    int Parse(const std::wstring& text);

    std::wstring GetString() const;
    int GetMajor() const;
    int GetMinor() const;
    void SetMajor(int major);
    void SetMinor(int minor);
    /// Nonzero when major or minor is -1.
    int IsUninicialised() const;

    /// -1 for 0xFF, otherwise the byte unchanged (no BCD decoding).
    static int _trans(unsigned char byte);

protected:
    void SetString();

private:
    int major_;
    int minor_;
    std::wstring text_;
};

// Lexicographic on (major, minor) as signed numbers; the text is not compared.
KQ_FLASHLIB_API bool operator==(const Version& a, const Version& b);
KQ_FLASHLIB_API bool operator!=(const Version& a, const Version& b);
KQ_FLASHLIB_API bool operator<(const Version& a, const Version& b);
KQ_FLASHLIB_API bool operator<=(const Version& a, const Version& b);
KQ_FLASHLIB_API bool operator>(const Version& a, const Version& b);
KQ_FLASHLIB_API bool operator>=(const Version& a, const Version& b);

}  // namespace kq::flashlib
