#pragma once

#include <boost/multiprecision/cpp_int.hpp>

namespace kq::dbclib {

/// A 512-bit unsigned integer with modular arithmetic (no overflow checks): the raw value of a signal
/// and the payload of a whole message (64 bytes, the largest CAN FD frame). Bit b of a payload is
/// bit (b mod 8) of payload byte (b div 8).
using RawNumber = boost::multiprecision::number<
    boost::multiprecision::cpp_int_backend<512, 512, boost::multiprecision::unsigned_magnitude,
                                           boost::multiprecision::unchecked, void>>;

/// M(n) = 2^n - 1 for n in [0, 512]: the all-ones number shifted right by 512 - n.
inline RawNumber BitMask(unsigned n)
{
    if (n == 0) {
        return RawNumber(0);
    }
    if (n >= 512) {
        return ~RawNumber(0);
    }
    return (~RawNumber(0)) >> (512 - n);
}

}  // namespace kq::dbclib
