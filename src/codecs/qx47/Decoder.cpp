#include "codecs/qx47/Decoder.h"

#include <algorithm>
#include <cstring>

#include "codecs/qx47/BitReader.h"
#include "codecs/qx47/LevelContext.h"
#include "codecs/qx47/Transform.h"

namespace qx47 {

namespace {

// One block's dequantised coefficients, and which of them are non-zero so
// that they can be cleared again cheaply.
struct BlockCoefs {
    std::int32_t c[64] = {};
    std::uint8_t rowMask = 0;
    std::uint8_t touched[64];
    int ntouched = 0;

    void Clear() {
        for (int i = 0; i < ntouched; ++i)
            c[touched[i]] = 0;
        ntouched = 0;
        rowMask = 0;
    }
};

// Whole (run, magnitude, sign) codes that fit in the next 12 bits, decoded
// in one look-up for Golomb parameters 0..3: most coefficients are short
// codes, and reading them symbol by symbol was most of the decoding time.
// An entry is 0 when the code is longer (the slow path reads it then).
constexpr int kPairBits = 12;
constexpr int kPairTables = 4;

struct PairTable {
    // bits 0..5 length, 6..11 run, 12..23 magnitude, 24 negative
    std::uint32_t entry[kPairTables][1 << kPairBits];

    static bool TakeUe(std::uint32_t v, int& used, std::uint32_t& out) {
        int zeros = 0;
        while (used + zeros < kPairBits && !((v >> (kPairBits - 1 - used - zeros)) & 1))
            ++zeros;
        if (used + 2 * zeros + 1 > kPairBits)
            return false;
        out = ((v >> (kPairBits - used - 2 * zeros - 1)) & ((1u << (zeros + 1)) - 1)) - 1;
        used += 2 * zeros + 1;
        return true;
    }

    PairTable() {
        for (int k = 0; k < kPairTables; ++k) {
            for (std::uint32_t v = 0; v < (1u << kPairBits); ++v) {
                int used = 0;
                std::uint32_t run = 0, code = 0;
                entry[k][v] = 0;
                if (!TakeUe(v, used, run) || !TakeUe(v, used, code) || used + k + 1 > kPairBits || run > 63)
                    continue;
                code = (code << k) | ((v >> (kPairBits - used - k)) & ((1u << k) - 1));
                used += k;
                const std::uint32_t negative = (v >> (kPairBits - used - 1)) & 1;
                used += 1;
                if (code > 4095)
                    continue;
                entry[k][v] =
                    static_cast<std::uint32_t>(used) | (run << 6) | ((code + 1) << 12) | (negative << 24);
            }
        }
    }
};

const PairTable& Pairs() {
    static const PairTable table;
    return table;
}

// `count` (run, level) pairs from zigzag position `pos` on.
bool ReadCoefficients(BitReader& br, int pos, std::uint32_t count, const std::uint16_t* steps, BlockCoefs& b,
                      LevelContext& ctx) {
    if (count > static_cast<std::uint32_t>(64 - pos))
        return false;
    const PairTable& pairs = Pairs();
    for (std::uint32_t i = 0; i < count; ++i) {
        const int k = ctx.K();
        std::int32_t mag;
        bool negative;
        const std::uint32_t e = k < kPairTables ? pairs.entry[k][br.Peek(kPairBits)] : 0;
        if (e != 0) {
            br.Skip(static_cast<int>(e & 63));
            pos += static_cast<int>((e >> 6) & 63);
            mag = static_cast<std::int32_t>((e >> 12) & 0xfff);
            negative = (e >> 24) != 0;
            if (pos > 63)
                return false;
        } else {
            pos += static_cast<int>(std::min<std::uint32_t>(br.GetUe(), 64));
            if (pos > 63)
                return false;
            std::uint32_t code = std::min<std::uint32_t>(br.GetUe(), 4095);
            if (k > 0)
                code = (code << k) | br.GetBits(k);
            mag = static_cast<std::int32_t>(std::min<std::uint32_t>(code, 4095)) + 1;
            negative = br.GetBit();
        }
        ctx.Update(static_cast<std::uint32_t>(mag));
        int z = kZigzag[pos];
        std::int32_t v = std::min(mag * steps[z], kMaxCoefficient);
        b.c[z] = negative ? -v : v;
        b.rowMask |= static_cast<std::uint8_t>(1u << (z >> 3));
        b.touched[b.ntouched++] = static_cast<std::uint8_t>(z);
        ++pos;
    }
    return !br.Overrun();
}

bool DecodeIntraMacroblock(BitReader& br, const QuantSteps& q, Picture& dst, int mbx, int mby, int dcPred[3],
                           BlockCoefs& b) {
    LevelContext ctx;
    for (int k = 0; k < 6; ++k) {
        BlockPlace pl = PlaceOf(k, mbx, mby);
        int plane = pl.plane;
        dcPred[plane] = std::clamp(dcPred[plane] + br.GetSe(), -256, 255);
        b.c[0] = dcPred[plane] * kIntraDcStep;
        if (b.c[0] != 0) {
            b.rowMask |= 1;
            b.touched[b.ntouched++] = 0;
        }
        if (!ReadCoefficients(br, 1, br.GetUe(), BlockSteps(q.intra, k), b, ctx))
            return false;
        int stride = dst.Stride(plane);
        InversePut(b.c, b.rowMask, dst.Plane(plane) + static_cast<std::size_t>(pl.y) * stride + pl.x, stride);
        b.Clear();
    }
    return true;
}

// Residual blocks named by `cbp` added to `pred` (a block-aligned picture and
// offset per plane); the rest copied.
bool DecodeResidualMacroblock(BitReader& br, const std::uint16_t* steps, std::uint32_t cbp,
                              const Picture& pred, int dx, int dy, Picture& dst, int mbx, int mby,
                              BlockCoefs& b) {
    LevelContext ctx;
    for (int k = 0; k < 6; ++k) {
        BlockPlace pl = PlaceOf(k, mbx, mby);
        int plane = pl.plane;
        int ox = plane == 0 ? dx : (dx >> 1);
        int oy = plane == 0 ? dy : (dy >> 1);
        int stride = dst.Stride(plane);
        const std::uint8_t* p =
            pred.Plane(plane) + static_cast<std::size_t>(pl.y + oy) * stride + (pl.x + ox);
        std::uint8_t* d = dst.Plane(plane) + static_cast<std::size_t>(pl.y) * stride + pl.x;
        if (cbp & (1u << k)) {
            if (!ReadCoefficients(br, 0, br.GetUe() + 1, BlockSteps(steps, k), b, ctx))
                return false;
        }
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

bool Decoder::DecodeBaseLayer(const std::uint8_t* data, std::size_t size, bool keyFrame) {
    Picture& next = ref_;
    const Picture& prev = prev_;
    const int total = mbCols_ * mbRows_;
    // A delta frame swaps the two pictures, so the old reference becomes the
    // motion source without a copy; only the macroblocks this frame skips are
    // copied back (coded ones are overwritten whole). `filled` is how far
    // that has got. Every exit, a failed one too, finishes the copy so that the
    // reference never shows an older frame's pixels.
    int filled = total;
    if (keyFrame) {
        next.Fill(128);
    } else {
        std::swap(ref_, prev_);
        filled = 0;
    }
    coded_.clear();
    const bool ok = DecodeMacroblocks(data, size, keyFrame, filled);
    if (filled < total)
        CopyMacroblocks(prev, next, mbCols_, filled, total);
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
            CopyMacroblocks(prev, next, mbCols_, filled, idx);
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
            if (!DecodeIntraMacroblock(br, q, next, mbx, mby, dcPred, b))
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
