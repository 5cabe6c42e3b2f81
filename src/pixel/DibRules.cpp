#include "pixel/DibRules.h"

std::int64_t DibStride(std::int64_t width, int bitCount) {
    // A width past 2^40 gives a row far beyond 31 bits at any depth; refusing
    // it first keeps the product below from overflowing.
    if (width < 0 || width > (std::int64_t{1} << 40) || bitCount <= 0 || bitCount > 32)
        return -1;
    const std::int64_t stride = ((width * bitCount + 31) / 32) * 4;
    return stride > 0x7fffffff ? -1 : stride;
}
