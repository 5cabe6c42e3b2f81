#include "pixel/DibRules.h"

std::int64_t DibStride(std::int64_t width, int bitCount) {
    // A width past 2^40 gives a row far beyond 31 bits at any depth; refusing
    // it first keeps the product below from overflowing.
    if (width < 0 || width > (std::int64_t{1} << 40) || bitCount <= 0 || bitCount > 32)
        return -1;
    const std::int64_t stride = ((width * bitCount + 31) / 32) * 4;
    return stride > 0x7fffffff ? -1 : stride;
}

bool CanWriteFrame(LONG width, LONG height, int bitCount) {
    if (!IsPixelDepth(bitCount) || width <= 0 || height == 0)
        return false;
    const std::int64_t stride = DibStride(width, bitCount);
    return stride > 0 && stride * DibRows(height) <= 0x7fffffff;
}

int NearestColor(const RGBQUAD* colors, int count, int red, int green, int blue) {
    int best = 0;
    int bestDistance = 0x7fffffff;
    for (int i = 0; i < count; ++i) {
        const int dr = colors[i].rgbRed - red;
        const int dg = colors[i].rgbGreen - green;
        const int db = colors[i].rgbBlue - blue;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
            if (distance == 0)
                break; // nothing later can be nearer, nor win the tie
        }
    }
    return best;
}
