#pragma once

// Number reading for container values, with the rules of the C "%X", "%d" and "%lf" conversions
// but locale-independent and without undefined behaviour on overflow.

#include <cstdint>
#include <optional>
#include <string>

namespace kq::flashlib::detail {

/// Hexadecimal with optional blanks, sign and 0x prefix; saturates at 0xFFFFFFFF; nullopt when no digit.
std::optional<std::uint32_t> ReadHex(const std::wstring& text);
/// Decimal with optional blanks and sign; saturates at the int range; nullopt when no digit.
std::optional<int> ReadDecimal(const std::wstring& text);
/// Decimal floating point with '.' as the decimal point; 0 when nothing reads.
double ReadDouble(const std::wstring& text);

}  // namespace kq::flashlib::detail
