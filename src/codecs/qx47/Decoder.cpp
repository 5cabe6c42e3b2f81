#include "codecs/qx47/Decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "codecs/qx47/BitReader.h"
#include "codecs/qx47/LevelContext.h"
#include "codecs/qx47/SampleRow.h"
#include "codecs/qx47/Transform.h"
#include "pixel/CpuFeatures.h"

namespace qx47 {

namespace {

// One block's dequantised coefficients. Only the rows that rowMask names
// hold non-zero values, so clearing them is enough to clear the block.
struct BlockCoefs {
    std::int32_t c[64] = {};
    std::uint8_t rowMask = 0;

    void Clear() {
        for (unsigned m = rowMask; m != 0; m &= m - 1)
            std::memset(c + 8 * std::countr_zero(m), 0, 8 * sizeof(c[0]));
        rowMask = 0;
    }
};

// Whole (run, magnitude, sign) codes that fit in the next 11 bits, decoded
// in one look-up for Golomb parameters 0..3: most coefficients are short
// codes, and reading them symbol by symbol was most of the decoding time.
// An entry is 0 when the code is longer (the slow path reads it then). 12
// bits would leave a little less to the slow path, but the tables would be
// 64 KB, more than a first-level data cache holds, and measured slower.
constexpr int kPairBits = 11;
constexpr int kPairTables = 4;

// The level context's sum grows by (magnitude - 1) per level and its
// threshold for keeping parameter k by this much (see ReadCoefficients).
constexpr std::uint32_t ThresholdStep(int k) {
    return k == 0 ? 0 : 1u << k;
}

struct PairTable {
    // bits 0..5 length, 8..15 run, 16..23 magnitude - 1 - ThresholdStep(k)
    // (signed), 24..31 level (signed). A code of kPairBits bits has a run
    // below 32 and a magnitude below 128.
    std::uint32_t entry[kPairTables][1 << kPairBits] = {};

    static constexpr bool TakeUe(std::uint32_t v, int& used, std::uint32_t& out) {
        int zeros = 0;
        while (used + zeros < kPairBits && !((v >> (kPairBits - 1 - used - zeros)) & 1))
            ++zeros;
        if (used + 2 * zeros + 1 > kPairBits)
            return false;
        out = ((v >> (kPairBits - used - 2 * zeros - 1)) & ((1u << (zeros + 1)) - 1)) - 1;
        used += 2 * zeros + 1;
        return true;
    }

    constexpr PairTable() {
        for (int k = 0; k < kPairTables; ++k) {
            for (std::uint32_t v = 0; v < (1u << kPairBits); ++v) {
                int used = 0;
                std::uint32_t run = 0, code = 0;
                if (!TakeUe(v, used, run) || !TakeUe(v, used, code) || used + k + 1 > kPairBits)
                    continue;
                code = (code << k) | ((v >> (kPairBits - used - k)) & ((1u << k) - 1));
                used += k;
                const bool negative = (v >> (kPairBits - used - 1)) & 1;
                used += 1;
                const int mag = static_cast<int>(code) + 1;
                if (mag > 127)
                    continue; // does not fit the level field (no short code has one)
                const int delta = static_cast<int>(code) - static_cast<int>(ThresholdStep(k));
                entry[k][v] = static_cast<std::uint32_t>(used) | (run << 8) |
                              (static_cast<std::uint32_t>(delta & 0xff) << 16) |
                              (static_cast<std::uint32_t>((negative ? -mag : mag) & 0xff) << 24);
            }
        }
    }
};

// Built by the compiler: no start-up cost and no initialisation guard in
// the loop below.
constexpr PairTable kPairs;

// Zigzag position to natural index, and to the bit of its row in rowMask.
struct ScanTable {
    std::uint8_t index[64];
    std::uint8_t rowBit[64];
    ScanTable() {
        for (int i = 0; i < 64; ++i) {
            index[i] = kZigzag[i];
            rowBit[i] = static_cast<std::uint8_t>(1u << (kZigzag[i] >> 3));
        }
    }
};
const ScanTable kScan;

// Where the inner loop of ReadCoefficients leaves the block's state.
struct CoefCursor {
    int pos;
    unsigned rowMask;
    bool ok = true;
};

// The common case of ReadCoefficients for a Golomb parameter K (a constant,
// so that its table row and band steps are too): up to `limit` codes from
// the table, read with unchecked cache refills (the caller made sure that
// the stream does not end within them), while the level context's parameter
// stays K. Returns how many coefficients it took; `general` is left true
// when the next code is not in the table.
//
// K changes for a few percent of the coefficients only, so instead of
// recomputing it the loop tracks whether the context's sum stays within
// K's band [lo, lo + width), where K() is K: both ends grow by fixed steps
// per level, as the count does, and halve with it.
template <int K>
std::uint32_t ReadShortCodes(BitReader& br, std::uint32_t limit, const std::uint16_t* steps, std::int32_t* c,
                             CoefCursor& cur, LevelContext& lc, bool& general) {
    const std::uint32_t* const row = kPairs.entry[K];
    // The band of sums for which K() is K: the offset from its lower end
    // (unsigned, so that a sum below it wraps to a huge value) and its width.
    constexpr std::uint32_t kLoStep = ThresholdStep(K);
    constexpr std::uint32_t kWidthStep = K == 0 ? 2 : kLoStep;
    const std::uint32_t lo = lc.count * kLoStep;
    std::uint32_t width = lc.count * kWidthStep;
    std::uint32_t offset = lc.sum - lo;
    int pos = cur.pos;
    unsigned rowMask = cur.rowMask;
    std::uint32_t left = limit;
    general = false;
    // One code; false when the loop must stop.
    const auto step = [&]() {
        const std::uint32_t e = row[br.PeekFilled(kPairBits)];
        if (e == 0) {
            general = true;
            return false;
        }
        br.SkipFilled(static_cast<int>(e & 63));
        pos += static_cast<int>((e >> 8) & 0xff);
        if (pos > 63) {
            cur.ok = false;
            return false;
        }
        const int z = kScan.index[pos];
        std::int32_t v = static_cast<std::int8_t>(e >> 24) * steps[z];
        if (static_cast<std::uint32_t>(v + kMaxCoefficient) > 2 * kMaxCoefficient) [[unlikely]]
            v = std::clamp(v, -kMaxCoefficient, kMaxCoefficient);
        c[z] = v;
        rowMask |= kScan.rowBit[pos];
        ++pos;
        offset += static_cast<std::uint32_t>(static_cast<std::int8_t>(e >> 16));
        width += kWidthStep;
        if (width == 32 * kWidthStep) {
            // The count's halving: it halves the band's ends too, and so
            // keeps K (the ends are even). The offset halves as the sum
            // does, rounding down also below the band.
            offset = static_cast<std::uint32_t>(static_cast<std::int32_t>(offset) >> 1);
            width >>= 1;
        }
        return --left != 0 && offset < width;
    };
    // A refill leaves room for four short codes.
    static_assert(4 * kPairBits <= BitReader::kRefillBits);
    for (;;) {
        br.RefillUnchecked();
        if (!step() || !step() || !step() || !step())
            break;
    }
    const std::uint32_t done = limit - left;
    lc.count = width / kWidthStep;
    lc.sum = offset + lc.count * kLoStep;
    cur.pos = pos;
    cur.rowMask = rowMask;
    return done;
}
// `count` (run, level) pairs from zigzag position `pos` on.
//
// This is the decoder's hottest loop, and the number of instructions per
// coefficient limits it more than anything else. The common case goes to
// ReadShortCodes; everything else (a code the tables do not hold, a large k,
// the last bytes of the stream) comes here one coefficient at a time, and
// so does a change of k, after which ReadShortCodes starts again. The
// context and the row mask are locals, which the coefficient stores cannot
// alias, and the overrun test comes once per block.
bool ReadCoefficients(BitReader& br, int pos, std::uint32_t count, const std::uint16_t* steps, BlockCoefs& b,
                      LevelContext& ctx) {
    if (count > static_cast<std::uint32_t>(64 - pos))
        return false;
    LevelContext lc = ctx;
    CoefCursor cur{pos, b.rowMask};
    std::uint32_t left = count;
    // Short codes that unchecked refills may read from here.
    std::uint32_t unchecked =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(br.UncheckedBits() / kPairBits, count));
    while (left > 0) {
        const int k = lc.K();
        // Coefficients the inner loop may take: no further than unchecked
        // refills may go.
        const std::uint32_t limit = std::min(left, unchecked);
        bool general = true; // the next coefficient is for the general path
        if (limit > 0) {
            std::uint32_t done = 0;
            switch (k) {
            case 0:
                done = ReadShortCodes<0>(br, limit, steps, b.c, cur, lc, general);
                break;
            case 1:
                done = ReadShortCodes<1>(br, limit, steps, b.c, cur, lc, general);
                break;
            case 2:
                done = ReadShortCodes<2>(br, limit, steps, b.c, cur, lc, general);
                break;
            case 3:
                done = ReadShortCodes<3>(br, limit, steps, b.c, cur, lc, general);
                break;
            default:
                break;
            }
            if (!cur.ok)
                break;
            left -= done;
            unchecked -= done;
        }
        if (!general || left == 0)
            continue;
        // One coefficient the general way: a long code, a large k, or the
        // end of the stream near.
        br.Refill();
        const std::uint32_t e = k < kPairTables ? kPairs.entry[k][br.PeekFilled(kPairBits)] : 0;
        std::int32_t level;
        if (e != 0) {
            br.SkipFilled(static_cast<int>(e & 63));
            cur.pos += static_cast<int>((e >> 8) & 0xff);
            level = static_cast<std::int8_t>(e >> 24);
        } else {
            cur.pos += static_cast<int>(std::min<std::uint32_t>(br.GetUe(), 64));
            if (cur.pos > 63) {
                cur.ok = false;
                break;
            }
            std::uint32_t code = std::min<std::uint32_t>(br.GetUe(), 4095);
            if (k > 0)
                code = (code << k) | br.GetBits(k);
            level = static_cast<std::int32_t>(std::min<std::uint32_t>(code, 4095)) + 1;
            if (br.GetBit())
                level = -level;
        }
        if (cur.pos > 63) {
            cur.ok = false;
            break;
        }
        const int z = kScan.index[cur.pos];
        b.c[z] = std::clamp(level * steps[z], -kMaxCoefficient, kMaxCoefficient);
        cur.rowMask |= kScan.rowBit[cur.pos];
        ++cur.pos;
        lc.Update(static_cast<std::uint32_t>(level < 0 ? -level : level));
        --left;
        unchecked = static_cast<std::uint32_t>(std::min<std::uint64_t>(br.UncheckedBits() / kPairBits, left));
    }
    ctx = lc;
    b.rowMask = static_cast<std::uint8_t>(cur.rowMask);
    return cur.ok && !br.Overrun();
}

// A sample-coded block: each row's indices are one read of at most 56 bits.
bool DecodeSampleBlock(BitReader& br, std::uint8_t* dst, int stride) {
    const std::uint32_t head = br.GetBits(11);
    const int base = static_cast<int>(head >> 3), n = static_cast<int>(head & 7);
    if (n == 0) {
        for (int r = 0; r < 8; ++r)
            std::memset(dst + r * stride, base, 8);
        return !br.Overrun();
    }
    const int step = static_cast<int>(br.GetBits(8)) + 1;
    const bool bmi2 = Cpu().bmi2;
    for (int r = 0; r < 8; ++r, dst += stride) {
        br.Refill();
        if (bmi2)
            SampleRowBmi2(br.PeekCache(), n, base, step, dst);
        else
            SampleRowPlain(br.PeekCache(), n, base, step, dst);
        br.SkipFilled(8 * n);
    }
    return !br.Overrun();
}

// `sampleBlocks`: the stream's version has sample-coded blocks (and the flag
// that announces them).
bool DecodeIntraMacroblock(BitReader& br, const QuantSteps& q, bool sampleBlocks, Picture& dst, int mbx,
                           int mby, int dcPred[3], BlockCoefs& b) {
    const std::uint32_t samples = sampleBlocks && br.GetBit() ? br.GetBits(6) : 0;
    LevelContext ctx;
    for (int k = 0; k < 6; ++k) {
        BlockPlace pl = PlaceOf(k, mbx, mby);
        int plane = pl.plane;
        int stride = dst.Stride(plane);
        std::uint8_t* out = dst.Plane(plane) + static_cast<std::size_t>(pl.y) * stride + pl.x;
        if (samples & (1u << k)) {
            if (!DecodeSampleBlock(br, out, stride))
                return false;
            continue;
        }
        dcPred[plane] = std::clamp(dcPred[plane] + br.GetSe(), -256, 255);
        b.c[0] = dcPred[plane] * kIntraDcStep;
        if (b.c[0] != 0)
            b.rowMask |= 1;
        if (!ReadCoefficients(br, 1, br.GetUe(), BlockSteps(q.intra, k), b, ctx))
            return false;
        InversePut(b.c, b.rowMask, out, stride);
        b.Clear();
    }
    return true;
}

// Residual blocks named by `cbp` added to `pred` (a block-aligned picture and
// offset per plane); the rest copied.
bool DecodeResidualMacroblock(BitReader& br, const std::uint16_t* steps, std::uint32_t cbp,
                              const Picture& pred, int dx, int dy, Picture& dst, int mbx, int mby,
                              BlockCoefs& b) {
    if (cbp == 0) {
        // Prediction only (a moved or refined-away macroblock, common in pans):
        // whole rows rather than six 8 x 8 blocks.
        CopyMacroblock(pred, dst, mbx, mby, dx, dy);
        return true;
    }
    LevelContext ctx;
    for (int k = 0; k < 6; ++k) {
        BlockPlace pl = PlaceOf(k, mbx, mby);
        int plane = pl.plane;
        int ox = plane == 0 ? dx : (dx >> 1);
        int oy = plane == 0 ? dy : (dy >> 1);
        int stride = dst.Stride(plane);
        if (!(cbp & (1u << k))) {
            CopySquare<8>(pred.Plane(plane), dst.Plane(plane), stride, pl.x, pl.y, ox, oy);
            continue;
        }
        const std::uint8_t* p =
            pred.Plane(plane) + static_cast<std::size_t>(pl.y + oy) * stride + (pl.x + ox);
        std::uint8_t* d = dst.Plane(plane) + static_cast<std::size_t>(pl.y) * stride + pl.x;
        if (!ReadCoefficients(br, 0, br.GetUe() + 1, BlockSteps(steps, k), b, ctx))
            return false;
        InverseAdd(b.c, b.rowMask, p, stride, d, stride);
        b.Clear();
    }
    return true;
}

// Copies macroblocks [first, last) in raster order, a band of whole rows at a
// time: runs of skipped macroblocks are mostly long.
void CopyMacroblocks(const Picture& from, Picture& to, int mbCols, int first, int last) {
    while (first < last) {
        const int mby = first / mbCols, mbx = first % mbCols;
        const int end = std::min(last, (mby + 1) * mbCols);
        const int count = end - first;
        for (int p = 0; p < 3; ++p) {
            const int size = p == 0 ? 16 : 8;
            const int stride = from.Stride(p);
            const std::size_t off = static_cast<std::size_t>(mby * size) * stride + mbx * size;
            const std::uint8_t* s = from.Plane(p) + off;
            std::uint8_t* d = to.Plane(p) + off;
            if (count == mbCols) {
                std::memcpy(d, s, static_cast<std::size_t>(size) * stride);
                continue;
            }
            for (int r = 0; r < size; ++r)
                std::memcpy(d + r * stride, s + r * stride, static_cast<std::size_t>(count) * size);
        }
        first = end;
    }
}

} // namespace

bool Decoder::Configure(int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension)
        return false;
    width_ = width;
    height_ = height;
    mbCols_ = MacroblockColumns(width);
    mbRows_ = MacroblockRows(height);
    ref_.Allocate(mbCols_, mbRows_);
    prev_.Allocate(mbCols_, mbRows_);
    display_.Allocate(mbCols_, mbRows_);
    displayIsRef_ = true;
    hasReference_ = false;
    stale_.assign(static_cast<std::size_t>(mbCols_) * mbRows_, 1);
    allStale_ = true;
    cover_.assign(static_cast<std::size_t>(mbCols_) * mbRows_, kCoverOpaque);
    changedAt_.assign(cover_.size(), 0);
    serial_ = 0;
    mask_.assign(static_cast<std::size_t>(mbCols_) * 16 * mbRows_ * 16, 1);
    transparent_ = false;
    refineData_ = nullptr;
    refineSize_ = 0;
    return true;
}

Decoder::Status Decoder::DecodeBase(const std::uint8_t* data, std::size_t size, bool keyGiven,
                                    std::int32_t key) {
    refineData_ = nullptr;
    refineSize_ = 0;
    if (width_ == 0 || !ReadFrameHeader(data, size, header_) || header_.width != width_ ||
        header_.height != height_)
        return Status::BadFrame;
    const bool keyFrame = header_.flags & kFlagKeyFrame;
    std::memcpy(keyColor_, header_.keyColor, 3);
    std::size_t payloadSize = std::size_t{header_.maskBytes} + header_.baseBytes + header_.refineBytes;
    const std::uint8_t* payload = data + kFrameHeaderSize;

    if (header_.flags & kFlagKeyed) {
        if (!keyGiven || KeyCheck(key) != header_.keyCheck) {
            // Without the key the picture cannot be rebuilt, and neither can
            // any delta frame after it: show grey until a key frame opens.
            hasReference_ = false;
            transparent_ = false;
            display_.Fill(128);
            displayIsRef_ = false;
            MarkAllChanged();
            return Status::Locked;
        }
        scratch_.assign(payload, payload + payloadSize);
        Scramble(scratch_.data(), scratch_.size(), key, header_.nonce);
        payload = scratch_.data();
    }
    if (!keyFrame && !hasReference_) {
        if (header_.flags & kFlagKeyed) {
            display_.Fill(128);
            displayIsRef_ = false;
            transparent_ = false;
            return Status::Locked;
        }
        return Status::NoReference;
    }

    transparent_ = false;
    if (header_.flags & kFlagMask) {
        if (!DecodeMask(payload, header_.maskBytes)) {
            hasReference_ = false;
            return Status::BadFrame;
        }
        transparent_ = true;
    }
    if (!DecodeBaseLayer(payload + header_.maskBytes, header_.baseBytes, keyFrame)) {
        hasReference_ = false;
        return Status::BadFrame;
    }
    hasReference_ = true;
    ++serial_;
    const bool wasRef = displayIsRef_;
    if (keyFrame || transparent_) {
        MarkAllChanged(); // a mask may change pixels of macroblocks the base layer skips
    } else {
        for (int mb : coded_)
            changedAt_[mb] = serial_;
    }
    if (!(header_.flags & kFlagRefinement)) {
        displayIsRef_ = true;
        if (!wasRef)
            MarkAllChanged(); // the refined display picture is no longer shown
    } else if (keyFrame || displayIsRef_) {
        // The display picture is stale: start it again from the reference.
        std::memcpy(display_.y.data(), ref_.y.data(), ref_.y.size());
        std::memcpy(display_.cb.data(), ref_.cb.data(), ref_.cb.size());
        std::memcpy(display_.cr.data(), ref_.cr.data(), ref_.cr.size());
        displayIsRef_ = false;
        MarkAllChanged();
    } else {
        for (int mb : coded_)
            CopyMacroblock(ref_, display_, mb % mbCols_, mb / mbCols_);
    }
    if (header_.flags & kFlagRefinement) {
        refineData_ = payload + header_.maskBytes + header_.baseBytes;
        refineSize_ = header_.refineBytes;
    }
    return Status::Ok;
}

bool Decoder::DecodeMask(const std::uint8_t* data, std::size_t size) {
    BitReader br(data, size);
    const std::size_t count = cover_.size();
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t c = br.GetBits(2);
        if (c > kCoverMixed)
            return false;
        cover_[i] = static_cast<std::uint8_t>(c);
    }
    const int stride = mbCols_ * 16;
    for (std::size_t i = 0; i < count; ++i) {
        int mbx = static_cast<int>(i % mbCols_), mby = static_cast<int>(i / mbCols_);
        std::uint8_t* m = mask_.data() + static_cast<std::size_t>(mby * 16) * stride + mbx * 16;
        if (cover_[i] == kCoverMixed) {
            for (int r = 0; r < 16; ++r) {
                std::uint32_t bits = br.GetBits(16);
                for (int x = 0; x < 16; ++x)
                    m[r * stride + x] = static_cast<std::uint8_t>((bits >> (15 - x)) & 1);
            }
        } else {
            std::uint8_t v = cover_[i] == kCoverOpaque ? 1 : 0;
            for (int r = 0; r < 16; ++r)
                std::memset(m + r * stride, v, 16);
        }
    }
    return !br.Overrun();
}

void Decoder::CopySkipped(int first, int last) {
    if (allStale_) {
        CopyMacroblocks(prev_, ref_, mbCols_, first, last);
        return;
    }
    while (first < last) {
        while (first < last && !stale_[first])
            ++first;
        int end = first;
        while (end < last && stale_[end])
            ++end;
        if (first < end)
            CopyMacroblocks(prev_, ref_, mbCols_, first, end);
        first = end;
    }
}

bool Decoder::DecodeBaseLayer(const std::uint8_t* data, std::size_t size, bool keyFrame) {
    const int total = mbCols_ * mbRows_;
    // A delta frame swaps the two pictures, so the old reference becomes the
    // motion source without a copy; only the macroblocks this frame skips are
    // copied back (coded ones are overwritten whole), and of those only the
    // ones the last frame changed (stale_). `filled` is how far
    // that has got. Every exit, a failed one too, finishes the copy so that the
    // reference never shows an older frame's pixels.
    int filled = total;
    if (keyFrame) {
        ref_.Fill(128);
    } else {
        std::swap(ref_, prev_);
        filled = 0;
        if (!allStale_) {
            std::fill(stale_.begin(), stale_.end(), 0);
            for (int mb : coded_)
                stale_[mb] = 1;
        }
    }
    coded_.clear();
    const bool ok = DecodeMacroblocks(data, size, keyFrame, filled);
    if (filled < total)
        CopySkipped(filled, total);
    // After a key frame the other picture is older than the last frame
    // everywhere; after a failed one it no longer matters (the next frame
    // that decodes is a key frame), but nothing is assumed of it.
    allStale_ = keyFrame || !ok;
    return ok;
}

bool Decoder::DecodeMacroblocks(const std::uint8_t* data, std::size_t size, bool keyFrame, int& filled) {
    QuantSteps q;
    ComputeQuantSteps(header_.baseQuant, q);
    Picture& next = ref_;
    const Picture& prev = prev_;

    BitReader br(data, size);
    BlockCoefs b;
    const int total = mbCols_ * mbRows_;
    int idx = 0;
    int row = -1;
    int dcPred[3] = {0, 0, 0};
    int mvx = 0, mvy = 0;
    for (;;) {
        std::uint32_t run = br.GetUe();
        if (br.Overrun() || run > static_cast<std::uint32_t>(total - idx))
            return false;
        idx += static_cast<int>(run);
        if (filled < idx) { // the skipped run
            CopySkipped(filled, idx);
            filled = idx;
        }
        if (idx == total)
            break;
        const int mbx = idx % mbCols_, mby = idx / mbCols_;
        if (mby != row) {
            row = mby;
            dcPred[0] = dcPred[1] = dcPred[2] = 0;
            mvx = mvy = 0;
        }
        std::uint32_t type = keyFrame ? 2 : br.GetUe();
        if (type == 2) {
            if (!DecodeIntraMacroblock(br, q, header_.version >= 2, next, mbx, mby, dcPred, b))
                return false;
        } else if (type <= 1) {
            if (type == 1) {
                mvx += br.GetSe();
                mvy += br.GetSe();
            } else {
                mvx = mvy = 0;
            }
            // The predicted macroblock must lie inside the padded picture.
            int px = mbx * 16 + mvx, py = mby * 16 + mvy;
            if (px < 0 || py < 0 || px > next.lumaWidth - 16 || py > next.lumaHeight - 16)
                return false;
            std::uint32_t cbp = br.GetBits(6);
            if (!DecodeResidualMacroblock(br, q.inter, cbp, prev, mvx, mvy, next, mbx, mby, b))
                return false;
        } else {
            return false;
        }
        if (br.Overrun())
            return false;
        coded_.push_back(idx);
        ++idx;
        filled = std::max(filled, idx);
    }
    return !br.Overrun();
}

Decoder::Status Decoder::DecodeRefinement() {
    if (refineData_ == nullptr)
        return Status::Ok;
    QuantSteps q;
    ComputeQuantSteps(header_.refineQuant, q);
    BitReader br(refineData_, refineSize_);
    refineData_ = nullptr;
    refineSize_ = 0;
    const Picture& ref = ref_;
    BlockCoefs b;
    const int total = mbCols_ * mbRows_;
    int idx = 0;
    for (;;) {
        std::uint32_t run = br.GetUe();
        if (br.Overrun() || run > static_cast<std::uint32_t>(total - idx))
            return Status::BadFrame;
        idx += static_cast<int>(run);
        if (idx == total)
            break;
        std::uint32_t cbp = br.GetBits(6);
        // Refinement lands on the display picture only; the reference the
        // next frame predicts from is left alone.
        if (!DecodeResidualMacroblock(br, q.inter, cbp, ref, 0, 0, display_, idx % mbCols_, idx / mbCols_, b))
            return Status::BadFrame;
        changedAt_[idx] = serial_;
        ++idx;
    }
    return br.Overrun() ? Status::BadFrame : Status::Ok;
}

void Decoder::MarkAllChanged() {
    ++serial_;
    std::fill(changedAt_.begin(), changedAt_.end(), serial_);
}

void Decoder::OpaqueBounds(int& x, int& y, int& w, int& h) const {
    if (!transparent_) {
        x = y = 0;
        w = width_;
        h = height_;
        return;
    }
    int x0 = width_, y0 = height_, x1 = 0, y1 = 0; // x1, y1 exclusive
    const int stride = mbCols_ * 16;
    for (int mby = 0; mby < mbRows_; ++mby) {
        for (int mbx = 0; mbx < mbCols_; ++mbx) {
            std::uint8_t c = cover_[static_cast<std::size_t>(mby) * mbCols_ + mbx];
            if (c == kCoverTransparent)
                continue;
            int rx0 = mbx * 16, ry0 = mby * 16;
            int rx1 = std::min(rx0 + 16, width_), ry1 = std::min(ry0 + 16, height_);
            for (int yy = ry0; yy < ry1; ++yy) {
                const std::uint8_t* m = mask_.data() + static_cast<std::size_t>(yy) * stride;
                for (int xx = rx0; xx < rx1; ++xx) {
                    if (m[xx]) {
                        x0 = std::min(x0, xx);
                        x1 = std::max(x1, xx + 1);
                        y0 = std::min(y0, yy);
                        y1 = std::max(y1, yy + 1);
                    }
                }
            }
        }
    }
    if (x1 <= x0 || y1 <= y0) {
        x = y = w = h = 0;
        return;
    }
    x = x0;
    y = y0;
    w = x1 - x0;
    h = y1 - y0;
}

} // namespace qx47
