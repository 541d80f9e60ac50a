#pragma once

#include <cstdint>
#include <limits>

// 128-bit steps of the frame rules: products of ticks and rates overflow 64 bits long before the
// times they stand for do.
namespace MediaWide {

__extension__ typedef __int128 Wide;

// The quotient rounded towards negative infinity.
inline Wide floorDiv(Wide a, Wide b)
{
    const Wide q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

inline int64_t clampToInt64(Wide value)
{
    constexpr Wide high = std::numeric_limits<int64_t>::max();
    constexpr Wide low = std::numeric_limits<int64_t>::min();
    return int64_t(value > high ? high : (value < low ? low : value));
}

} // namespace MediaWide
