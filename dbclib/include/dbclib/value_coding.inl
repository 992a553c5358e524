// Conversions between raw and physical values of a signal. Included by model.hpp.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <stdexcept>

namespace kq::dbclib {

namespace detail {

inline std::uint64_t Low64(const RawNumber& raw)
{
    return static_cast<std::uint64_t>(raw & RawNumber(~std::uint64_t{0}));
}

/// The raw value in double precision, summed from its 32-bit limbs, least significant first.
inline double RawToDouble(const RawNumber& raw)
{
    double value = 0.0;
    double scale = 1.0;
    RawNumber rest = raw;
    for (int i = 0; i < 16 && rest != 0; ++i) {
        value += static_cast<double>(static_cast<std::uint32_t>(rest & 0xFFFFFFFFu)) * scale;
        rest >>= 32;
        scale *= 4294967296.0;
    }
    return value;
}

inline bool IsNegative(const RawNumber& raw)
{
    return boost::multiprecision::bit_test(raw, 511);
}

/// Whether the 512-bit two's complement reading of `raw` lies in [-2^(n-1), 2^(n-1) - 1].
inline bool FitsSigned(const RawNumber& raw, std::uint32_t n)
{
    if (n == 0) {
        return false;
    }
    if (n >= 512) {
        return true;
    }
    if (IsNegative(raw)) {
        const RawNumber magnitude = RawNumber(0) - raw;
        return magnitude <= (RawNumber(1) << (n - 1));
    }
    return raw <= BitMask(n - 1);
}

/// The 64-bit mask 2^n - 1; a shift of 64 bits or more leaves nothing of it.
inline std::uint64_t Mask64(std::uint32_t n)
{
    if (n >= 64) {
        return n == 64 ? ~std::uint64_t{0} : 0;
    }
    return (std::uint64_t{1} << n) - 1;
}

}  // namespace detail

template <typename Msg, typename Sig>
bool Template_Signal<Msg, Sig>::GetValue(double& physical, const RawNumber& raw) const
{
    switch (valueType) {
    case ValueType::Unsigned:
        physical = detail::RawToDouble(raw) * factor + offset;
        return InRange(physical) && raw <= BitMask(bitLength);
    case ValueType::Signed:
        physical = static_cast<double>(static_cast<std::int64_t>(detail::Low64(raw))) * factor + offset;
        return InRange(physical) && detail::FitsSigned(raw, bitLength);
    case ValueType::Float:
        physical = static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(detail::Low64(raw)))) *
                       factor + offset;
        return InRange(physical);
    case ValueType::Double:
        physical = std::bit_cast<double>(detail::Low64(raw)) * factor + offset;
        return InRange(physical);
    }
    return false;
}

template <typename Msg, typename Sig>
bool Template_Signal<Msg, Sig>::ParseValue(double physical, RawNumber& raw) const
{
    if (!InRange(physical) || valueType != ValueType::Unsigned) {
        return false;
    }
    const double quotient = std::ceil((physical - offset) / factor);
    if (!std::isfinite(quotient)) {
        throw std::runtime_error("Cannot convert a non-finite number to an integer.");
    }
    const RawNumber magnitude(std::fabs(quotient));
    raw = quotient < 0 ? RawNumber(0) - magnitude : magnitude;
    return raw <= RawNumber(detail::Mask64(bitLength));
}

}  // namespace kq::dbclib
