#include "codecs/qx47/Encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "codecs/qx47/BitWriter.h"
#include "codecs/qx47/FrameFormat.h"
#include "codecs/qx47/LevelContext.h"
#include "codecs/qx47/Transform.h"

namespace qx47 {

namespace {

constexpr float kIntraRounding = 0.45f;
constexpr float kInterRounding = 0.35f;

struct BlockLevels {
    std::int16_t z[64]; // levels in zigzag order
    int count = 0;      // non-zero levels (from `start` on)
};

// Quantises a transformed block from zigzag position `start` on.
void Quantise(const float f[64], const std::uint16_t* steps, int start, float rounding, BlockLevels& out) {
    out.count = 0;
    for (int i = start; i < 64; ++i) {
        int n = kZigzag[i];
        float a = std::fabs(f[n]) / steps[n] + rounding;
        int level = static_cast<int>(a);
        level = std::min(level, 2047);
        out.z[i] = static_cast<std::int16_t>(f[n] < 0 ? -level : level);
        if (level)
            ++out.count;
    }
}

void WriteLevels(BitWriter& bw, const BlockLevels& l, int start, LevelContext& ctx) {
    int run = 0;
    for (int i = start; i < 64; ++i) {
        int v = l.z[i];
        if (v == 0) {
            ++run;
            continue;
        }
        bw.PutUe(static_cast<std::uint32_t>(run));
        const std::uint32_t mag = static_cast<std::uint32_t>(std::abs(v));
        const int k = ctx.K();
        bw.PutUe((mag - 1) >> k);
        if (k > 0)
            bw.PutBits(mag - 1, k);
        ctx.Update(mag);
        bw.PutBits(v < 0 ? 1 : 0, 1);
        run = 0;
    }
}

// Rebuilds the dequantised coefficients exactly as the decoder does.
std::uint8_t Dequantise(const BlockLevels& l, int start, const std::uint16_t* steps, std::int32_t c[64]) {
    std::uint8_t rowMask = 0;
    for (int i = start; i < 64; ++i) {
        int n = kZigzag[i];
        int v = l.z[i];
        if (v == 0) {
            c[n] = 0;
            continue;
        }
        std::int32_t m = std::min(std::abs(v) * steps[n], kMaxCoefficient);
        c[n] = v < 0 ? -m : m;
        rowMask |= static_cast<std::uint8_t>(1u << (n >> 3));
    }
    return rowMask;
}

void LoadBlock(const Picture& pic, int plane, int x, int y, float out[64], float offset) {
    int stride = pic.Stride(plane);
    const std::uint8_t* p = pic.Plane(plane) + static_cast<std::size_t>(y) * stride + x;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            out[r * 8 + c] = p[r * stride + c] - offset;
}

void LoadResidual(const Picture& src, const Picture& pred, int plane, int x, int y, int px, int py,
                  float out[64]) {
    int stride = src.Stride(plane);
    const std::uint8_t* s = src.Plane(plane) + static_cast<std::size_t>(y) * stride + x;
    const std::uint8_t* p = pred.Plane(plane) + static_cast<std::size_t>(py) * stride + px;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            out[r * 8 + c] = static_cast<float>(s[r * stride + c] - p[r * stride + c]);
}

int Sad16(const Picture& a, int ax, int ay, const Picture& b, int bx, int by, int limit) {
    int stride = a.lumaWidth;
    const std::uint8_t* p = a.y.data() + static_cast<std::size_t>(ay) * stride + ax;
    const std::uint8_t* q = b.y.data() + static_cast<std::size_t>(by) * stride + bx;
    int sad = 0;
    for (int r = 0; r < 16; ++r) {
        for (int c = 0; c < 16; ++c)
            sad += std::abs(p[c] - q[c]);
        if (sad >= limit)
            return sad;
        p += stride;
        q += stride;
    }
    return sad;
}

struct MacroblockState {
    int dcPred[3] = {0, 0, 0};
    int mvx = 0, mvy = 0;
    int row = -1;
    void Enter(int mby) {
        if (mby != row) {
            row = mby;
            dcPred[0] = dcPred[1] = dcPred[2] = 0;
            mvx = mvy = 0;
        }
    }
};

// A block coded as samples: indices of `width` bits on a grid of `step`
// from `base`.
struct SampleBlock {
    int base = 0, width = 0, step = 1;
    std::uint8_t index[64];
    std::size_t Bits() const { return 11 + (width ? 8 + 64 * width : 0); }
};

// The coarsest grid from the block's smallest sample that covers its range
// in steps no larger than `target`. Returns the squared error.
int QuantiseSamples(const Picture& pic, int plane, int x, int y, int target, SampleBlock& s) {
    const int stride = pic.Stride(plane);
    const std::uint8_t* p = pic.Plane(plane) + static_cast<std::size_t>(y) * stride + x;
    int lo = 255, hi = 0;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            lo = std::min<int>(lo, p[r * stride + c]);
            hi = std::max<int>(hi, p[r * stride + c]);
        }
    const int range = hi - lo;
    s.base = lo;
    s.width = 0;
    s.step = 1;
    if (range == 0)
        return 0;
    s.width = 1;
    while (s.width < kSampleMaxWidth && ((1 << s.width) - 1) * target < range)
        ++s.width;
    const int top = (1 << s.width) - 1;
    s.step = (range + top - 1) / top;
    int sse = 0;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            const int v = p[r * stride + c] - lo;
            const int k = std::min((v + s.step / 2) / s.step, top);
            s.index[r * 8 + c] = static_cast<std::uint8_t>(k);
            const int e = std::min(lo + k * s.step, 255) - p[r * stride + c];
            sse += e * e;
        }
    return sse;
}

void WriteSamples(BitWriter& bw, const SampleBlock& s, std::uint8_t* dst, int stride) {
    bw.PutBits(static_cast<std::uint32_t>(s.base), 8);
    bw.PutBits(static_cast<std::uint32_t>(s.width), 3);
    if (s.width == 0) {
        for (int r = 0; r < 8; ++r)
            std::memset(dst + r * stride, s.base, 8);
        return;
    }
    bw.PutBits(static_cast<std::uint32_t>(s.step - 1), 8);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            bw.PutBits(s.index[r * 8 + c], s.width);
            dst[r * stride + c] =
                static_cast<std::uint8_t>(std::min(s.base + s.index[r * 8 + c] * s.step, 255));
        }
}

// Codes one intra block by transform, updating the DC predictor and level
// context as the decoder will, and reconstructs it into `dst`.
void EncodeIntraBlock(BitWriter& bw, const std::uint16_t* steps, const float in[64], int& dcPred,
                      LevelContext& ctx, std::uint8_t* dst, int stride) {
    float f[64];
    std::int32_t c[64];
    BlockLevels l;
    ForwardDct(in, f);
    int dc = std::clamp(static_cast<int>(std::lround(f[0] / kIntraDcStep)), -256, 255);
    bw.PutSe(dc - dcPred);
    dcPred = dc;
    Quantise(f, steps, 1, kIntraRounding, l);
    bw.PutUe(static_cast<std::uint32_t>(l.count));
    WriteLevels(bw, l, 1, ctx);
    std::uint8_t rowMask = Dequantise(l, 1, steps, c);
    c[0] = dc * kIntraDcStep;
    if (c[0])
        rowMask |= 1;
    InversePut(c, rowMask, dst, stride);
}

int BlockError(const std::uint8_t* a, int aStride, const std::uint8_t* b, int bStride) {
    int sse = 0;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            const int e = a[r * aStride + c] - b[r * bStride + c];
            sse += e * e;
        }
    return sse;
}

// Intra blocks are coded as samples when that costs less than the
// transform, rate weighted by lambda: noise, such as grain or dithered
// areas, has no energy to compact, and its transform coefficients are many
// and slow to decode where a few fixed-width indices per sample are not.
// Sample steps follow the transform's middle-frequency step, whose error
// they then roughly match; lambda is the slope of error over bits of a
// uniform quantiser of that step.
constexpr int kSampleStepFrequency = 3 * 8 + 4;
constexpr float kSampleLambda = 0.115f;
// Decoding time enters the choice too: a transform-coded bit takes several
// times as long to decode as a sample-coded one (a few nanoseconds a
// coefficient, plus the inverse transform, against one deposit and a vector
// multiply per row of eight samples), so its bits weigh more. Three is where
// the bench found testsrc2's noise decoding half again as fast at equal
// quality without costing the landscape scene quality at equal size (five
// did).
constexpr float kTransformBitWeight = 3.0f;

struct IntraCoding {
    std::size_t sampleBits = 0; // of the blocks sent as samples
    int sampleBlocks = 0;
};

IntraCoding EncodeIntra(BitWriter& bw, const QuantSteps& q, const Picture& src, Picture& dst, int mbx,
                        int mby, MacroblockState& st) {
    float in[64];
    // Decide block by block, with the predictors the decoder will have; the
    // sample codings tried are kept for the blocks that take them.
    std::uint32_t samples = 0;
    SampleBlock sb[6];
    {
        BitWriter trial;
        LevelContext ctx;
        int dcPred[3] = {st.dcPred[0], st.dcPred[1], st.dcPred[2]};
        std::uint8_t rec[64];
        for (int k = 0; k < 6; ++k) {
            BlockPlace pl = PlaceOf(k, mbx, mby);
            const std::uint16_t* steps = BlockSteps(q.intra, k);
            const int stride = src.Stride(pl.plane);
            const std::uint8_t* s = src.Plane(pl.plane) + static_cast<std::size_t>(pl.y) * stride + pl.x;
            const int step = steps[kSampleStepFrequency];
            const float lambda = kSampleLambda * static_cast<float>(step * step);
            const float sampleCost = QuantiseSamples(src, pl.plane, pl.x, pl.y, step, sb[k]) +
                                     lambda * static_cast<float>(sb[k].Bits());
            LevelContext keep = ctx;
            const int keepDc = dcPred[pl.plane];
            const std::size_t before = trial.BitCount();
            LoadBlock(src, pl.plane, pl.x, pl.y, in, 128.0f);
            EncodeIntraBlock(trial, steps, in, dcPred[pl.plane], ctx, rec, 8);
            const float dctCost =
                BlockError(s, stride, rec, 8) +
                lambda * kTransformBitWeight * static_cast<float>(trial.BitCount() - before);
            if (sampleCost < dctCost) {
                samples |= 1u << k;
                ctx = keep;
                dcPred[pl.plane] = keepDc;
            }
        }
    }
    bw.PutBits(samples ? 1 : 0, 1);
    if (samples)
        bw.PutBits(samples, 6);
    LevelContext ctx;
    IntraCoding coding;
    for (int k = 0; k < 6; ++k) {
        BlockPlace pl = PlaceOf(k, mbx, mby);
        const std::uint16_t* steps = BlockSteps(q.intra, k);
        int stride = dst.Stride(pl.plane);
        std::uint8_t* out = dst.Plane(pl.plane) + static_cast<std::size_t>(pl.y) * stride + pl.x;
        if (samples & (1u << k)) {
            WriteSamples(bw, sb[k], out, stride);
            coding.sampleBits += sb[k].Bits();
            ++coding.sampleBlocks;
            continue;
        }
        LoadBlock(src, pl.plane, pl.x, pl.y, in, 128.0f);
        EncodeIntraBlock(bw, steps, in, st.dcPred[pl.plane], ctx, out, stride);
    }
    return coding;
}

// Quantises the residual of a macroblock against `pred` moved by (dx, dy).
// Returns the coded block pattern.
std::uint32_t QuantiseResidual(const std::uint16_t* steps, const Picture& src, const Picture& pred, int mbx,
                               int mby, int dx, int dy, BlockLevels levels[6]) {
    float in[64], f[64];
    std::uint32_t cbp = 0;
    for (int k = 0; k < 6; ++k) {
        BlockPlace pl = PlaceOf(k, mbx, mby);
        int ox = pl.plane == 0 ? dx : (dx >> 1);
        int oy = pl.plane == 0 ? dy : (dy >> 1);
        LoadResidual(src, pred, pl.plane, pl.x, pl.y, pl.x + ox, pl.y + oy, in);
        ForwardDct(in, f);
        Quantise(f, BlockSteps(steps, k), 0, kInterRounding, levels[k]);
        if (levels[k].count)
            cbp |= 1u << k;
    }
    return cbp;
}

void WriteResidual(BitWriter& bw, const std::uint16_t* steps, std::uint32_t cbp, const BlockLevels levels[6],
                   const Picture& pred, int dx, int dy, Picture& dst, int mbx, int mby) {
    bw.PutBits(cbp, 6);
    std::int32_t c[64];
    LevelContext ctx;
    for (int k = 0; k < 6; ++k) {
        BlockPlace pl = PlaceOf(k, mbx, mby);
        int ox = pl.plane == 0 ? dx : (dx >> 1);
        int oy = pl.plane == 0 ? dy : (dy >> 1);
        int stride = dst.Stride(pl.plane);
        std::uint8_t rowMask = 0;
        if (cbp & (1u << k)) {
            bw.PutUe(static_cast<std::uint32_t>(levels[k].count - 1));
            WriteLevels(bw, levels[k], 0, ctx);
            rowMask = Dequantise(levels[k], 0, BlockSteps(steps, k), c);
        }
        InverseAdd(c, rowMask,
                   pred.Plane(pl.plane) + static_cast<std::size_t>(pl.y + oy) * stride + pl.x + ox, stride,
                   dst.Plane(pl.plane) + static_cast<std::size_t>(pl.y) * stride + pl.x, stride);
    }
}

// Squared error of a macroblock's six blocks.
int MacroblockError(const Picture& a, const Picture& b, int mbx, int mby) {
    int sse = 0;
    for (int k = 0; k < 6; ++k) {
        BlockPlace pl = PlaceOf(k, mbx, mby);
        const int stride = a.Stride(pl.plane);
        const std::size_t at = static_cast<std::size_t>(pl.y) * stride + pl.x;
        sse += BlockError(a.Plane(pl.plane) + at, stride, b.Plane(pl.plane) + at, stride);
    }
    return sse;
}

inline std::uint8_t Clamp255(int v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

} // namespace

int Encoder::BaseQuantFor(int quality, bool refinement) {
    quality = std::clamp(quality, 1, 100);
    // Quarter steps, so that neighbouring qualities stay close in size.
    int q = std::max(1, static_cast<int>(std::lround(4 * (1 + (100 - quality) * 0.62))));
    return refinement ? std::min(2 * q, 255) : q;
}

int Encoder::RefineQuantFor(int quality) {
    return BaseQuantFor(quality, false);
}

bool Encoder::Configure(const EncoderSettings& settings) {
    if (settings.width <= 0 || settings.height <= 0 || settings.width > kMaxDimension ||
        settings.height > kMaxDimension)
        return false;
    settings_ = settings;
    settings_.quality = std::clamp(settings_.quality, 1, 100);
    settings_.keyInterval = std::max(1, settings_.keyInterval);
    mbCols_ = MacroblockColumns(settings.width);
    mbRows_ = MacroblockRows(settings.height);
    source_.Allocate(mbCols_, mbRows_);
    ref_[0].Allocate(mbCols_, mbRows_);
    ref_[1].Allocate(mbCols_, mbRows_);
    cur_ = 0;
    cover_.assign(static_cast<std::size_t>(mbCols_) * mbRows_, kCoverOpaque);
    mask_.assign(static_cast<std::size_t>(source_.lumaWidth) * source_.lumaHeight, 1);
    mvx_.assign(cover_.size(), 0);
    mvy_.assign(cover_.size(), 0);
    frameNumber_ = 0;
    return true;
}

void Encoder::LoadSource(const std::uint8_t* bgr, std::ptrdiff_t stride) {
    const int w = settings_.width, h = settings_.height;
    const int lw = source_.lumaWidth, lh = source_.lumaHeight;
    // Full-resolution chroma first; it is averaged down after the
    // transparent pixels have been filled in.
    std::vector<std::int16_t> cb(static_cast<std::size_t>(lw) * lh), cr(cb.size());
    for (int y = 0; y < lh; ++y) {
        const std::uint8_t* row = bgr + std::min(y, h - 1) * stride;
        for (int x = 0; x < lw; ++x) {
            const std::uint8_t* px = row + 3 * std::min(x, w - 1);
            int b = px[0], g = px[1], r = px[2];
            std::size_t i = static_cast<std::size_t>(y) * lw + x;
            source_.y[i] = Clamp255((77 * r + 150 * g + 29 * b + 128) >> 8);
            cb[i] = static_cast<std::int16_t>(Clamp255(((-43 * r - 85 * g + 128 * b + 128) >> 8) + 128));
            cr[i] = static_cast<std::int16_t>(Clamp255(((128 * r - 107 * g - 21 * b + 128) >> 8) + 128));
            if (settings_.transparent) {
                const int tol = settings_.keyTolerance;
                bool key = std::abs(r - settings_.keyColor[0]) <= tol &&
                           std::abs(g - settings_.keyColor[1]) <= tol &&
                           std::abs(b - settings_.keyColor[2]) <= tol;
                mask_[i] = key ? 0 : 1;
            }
        }
    }
    if (settings_.transparent) {
        // Transparent pixels take the mean of the macroblock's opaque ones, so
        // that the hidden area costs (almost) nothing to code.
        for (int mby = 0; mby < mbRows_; ++mby) {
            for (int mbx = 0; mbx < mbCols_; ++mbx) {
                int n = 0, sy = 0, sb = 0, sr = 0;
                for (int y = mby * 16; y < mby * 16 + 16; ++y)
                    for (int x = mbx * 16; x < mbx * 16 + 16; ++x) {
                        std::size_t i = static_cast<std::size_t>(y) * lw + x;
                        if (mask_[i]) {
                            ++n;
                            sy += source_.y[i];
                            sb += cb[i];
                            sr += cr[i];
                        }
                    }
                std::uint8_t c = n == 256 ? kCoverOpaque : (n == 0 ? kCoverTransparent : kCoverMixed);
                cover_[static_cast<std::size_t>(mby) * mbCols_ + mbx] = c;
                if (c == kCoverOpaque)
                    continue;
                int my = n ? sy / n : 128, mb = n ? sb / n : 128, mr = n ? sr / n : 128;
                for (int y = mby * 16; y < mby * 16 + 16; ++y)
                    for (int x = mbx * 16; x < mbx * 16 + 16; ++x) {
                        std::size_t i = static_cast<std::size_t>(y) * lw + x;
                        if (!mask_[i]) {
                            source_.y[i] = static_cast<std::uint8_t>(my);
                            cb[i] = static_cast<std::int16_t>(mb);
                            cr[i] = static_cast<std::int16_t>(mr);
                        }
                    }
            }
        }
    }
    const int cw = source_.chromaWidth;
    for (int y = 0; y < source_.chromaHeight; ++y)
        for (int x = 0; x < cw; ++x) {
            std::size_t i = static_cast<std::size_t>(2 * y) * lw + 2 * x;
            source_.cb[static_cast<std::size_t>(y) * cw + x] =
                static_cast<std::uint8_t>((cb[i] + cb[i + 1] + cb[i + lw] + cb[i + lw + 1] + 2) >> 2);
            source_.cr[static_cast<std::size_t>(y) * cw + x] =
                static_cast<std::uint8_t>((cr[i] + cr[i + 1] + cr[i + lw] + cr[i + lw + 1] + 2) >> 2);
        }
}

std::vector<std::uint8_t> Encoder::EncodeMask() {
    BitWriter bw;
    for (std::uint8_t c : cover_)
        bw.PutBits(c, 2);
    const int lw = source_.lumaWidth;
    for (std::size_t i = 0; i < cover_.size(); ++i) {
        if (cover_[i] != kCoverMixed)
            continue;
        int mbx = static_cast<int>(i % mbCols_), mby = static_cast<int>(i / mbCols_);
        for (int r = 0; r < 16; ++r) {
            std::uint32_t bits = 0;
            const std::uint8_t* m = mask_.data() + static_cast<std::size_t>(mby * 16 + r) * lw + mbx * 16;
            for (int x = 0; x < 16; ++x)
                bits = (bits << 1) | m[x];
            bw.PutBits(bits, 16);
        }
    }
    return bw.Finish();
}

std::vector<std::uint8_t> Encoder::EncodeFrame(const std::uint8_t* bgr, std::ptrdiff_t stride,
                                               bool forceKey) {
    LoadSource(bgr, stride);
    const bool key = forceKey || frameNumber_ % static_cast<std::uint32_t>(settings_.keyInterval) == 0;
    const bool refine = settings_.refinement;
    const int baseQuant = BaseQuantFor(settings_.quality, refine);
    const int refineQuant = RefineQuantFor(settings_.quality);
    QuantSteps q, rq;
    ComputeQuantSteps(baseQuant, q);
    ComputeQuantSteps(refineQuant, rq);

    const Picture& prev = ref_[cur_];
    Picture& next = ref_[cur_ ^ 1];
    sampleBlocks_ = 0;
    const float lambda =
        kSampleLambda * static_cast<float>(q.inter[kSampleStepFrequency] * q.inter[kSampleStepFrequency]);
    if (key)
        next.Fill(128);

    BitWriter bw;
    MacroblockState st;
    std::vector<int> coded;
    const int total = mbCols_ * mbRows_;
    int run = 0;
    BlockLevels levels[6];
    for (int idx = 0; idx < total; ++idx) {
        const int mbx = idx % mbCols_, mby = idx / mbCols_;
        if (cover_[idx] == kCoverTransparent) {
            if (!key)
                CopyMacroblock(prev, next, mbx, mby);
            mvx_[idx] = mvy_[idx] = 0;
            ++run;
            continue;
        }
        if (key) {
            bw.PutUe(static_cast<std::uint32_t>(run));
            run = 0;
            st.Enter(mby);
            sampleBlocks_ += EncodeIntra(bw, q, source_, next, mbx, mby, st).sampleBlocks;
            mvx_[idx] = mvy_[idx] = 0;
            coded.push_back(idx);
            continue;
        }
        // Delta frame: nothing to send when the unmoved reference already
        // quantises to the source.
        std::uint32_t cbp0 = QuantiseResidual(q.inter, source_, prev, mbx, mby, 0, 0, levels);
        if (cbp0 == 0) {
            CopyMacroblock(prev, next, mbx, mby);
            mvx_[idx] = mvy_[idx] = 0;
            ++run;
            continue;
        }
        // Motion search around the neighbours' vectors, then a shrinking diamond.
        const int x0 = mbx * 16, y0 = mby * 16;
        const int maxX = prev.lumaWidth - 16, maxY = prev.lumaHeight - 16;
        int bestX = 0, bestY = 0;
        int best = Sad16(source_, x0, y0, prev, x0, y0, 1 << 30);
        auto tryVector = [&](int dx, int dy) {
            dx = std::clamp(dx, -64, 64);
            dy = std::clamp(dy, -64, 64);
            if (x0 + dx < 0 || y0 + dy < 0 || x0 + dx > maxX || y0 + dy > maxY)
                return false;
            int cost =
                Sad16(source_, x0, y0, prev, x0 + dx, y0 + dy, best) + 2 * (std::abs(dx) + std::abs(dy));
            if (cost < best) {
                best = cost;
                bestX = dx;
                bestY = dy;
                return true;
            }
            return false;
        };
        if (mbx > 0)
            tryVector(mvx_[idx - 1], mvy_[idx - 1]);
        if (mby > 0) {
            tryVector(mvx_[idx - mbCols_], mvy_[idx - mbCols_]);
            if (mbx + 1 < mbCols_)
                tryVector(mvx_[idx - mbCols_ + 1], mvy_[idx - mbCols_ + 1]);
        }
        for (int step = 8; step >= 1; step /= 2) {
            for (int moves = 0; moves < 4; ++moves) {
                int cx = bestX, cy = bestY;
                bool moved = tryVector(cx + step, cy) | tryVector(cx - step, cy) | tryVector(cx, cy + step) |
                             tryVector(cx, cy - step);
                if (!moved)
                    break;
            }
        }
        bw.PutUe(static_cast<std::uint32_t>(run));
        run = 0;
        st.Enter(mby);
        std::uint32_t cbp = cbp0;
        if (bestX != 0 || bestY != 0) // else `levels` still hold the unmoved residual
            cbp = QuantiseResidual(q.inter, source_, prev, mbx, mby, bestX, bestY, levels);
        auto codeInter = [&](BitWriter& w, MacroblockState& s) -> IntraCoding {
            if (bestX == 0 && bestY == 0) {
                w.PutUe(0);
                s.mvx = s.mvy = 0;
            } else {
                w.PutUe(1);
                w.PutSe(bestX - s.mvx);
                w.PutSe(bestY - s.mvy);
                s.mvx = bestX;
                s.mvy = bestY;
            }
            WriteResidual(w, q.inter, cbp, levels, prev, bestX, bestY, next, mbx, mby);
            return {};
        };
        auto codeIntra = [&](BitWriter& w, MacroblockState& s) -> IntraCoding {
            w.PutUe(2);
            return EncodeIntra(w, q, source_, next, mbx, mby, s);
        };
        // Inter or intra: each is tried on the picture being built, and the
        // one of less error + lambda x bits is sent. Sample-coded blocks make
        // intra the better choice for noise that changes from frame to frame,
        // where a motion search finds nothing and SAD does not tell.
        auto cost = [&](auto code) {
            BitWriter w;
            MacroblockState s = st;
            const std::size_t sampleBits = code(w, s).sampleBits;
            return static_cast<float>(MacroblockError(source_, next, mbx, mby)) +
                   lambda * (static_cast<float>(sampleBits) +
                             kTransformBitWeight * static_cast<float>(w.BitCount() - sampleBits));
        };
        const bool intra = cost(codeIntra) < cost(codeInter);
        if (intra) {
            sampleBlocks_ += codeIntra(bw, st).sampleBlocks;
            mvx_[idx] = mvy_[idx] = 0;
        } else {
            codeInter(bw, st);
            mvx_[idx] = static_cast<std::int16_t>(bestX);
            mvy_[idx] = static_cast<std::int16_t>(bestY);
        }
        coded.push_back(idx);
    }
    bw.PutUe(static_cast<std::uint32_t>(run));
    std::vector<std::uint8_t> base = bw.Finish();

    std::vector<std::uint8_t> refinement;
    if (refine) {
        BitWriter rw;
        int last = 0;
        for (int idx : coded) {
            const int mbx = idx % mbCols_, mby = idx / mbCols_;
            std::uint32_t cbp = QuantiseResidual(rq.inter, source_, next, mbx, mby, 0, 0, levels);
            if (cbp == 0)
                continue;
            rw.PutUe(static_cast<std::uint32_t>(idx - last));
            rw.PutBits(cbp, 6);
            LevelContext ctx;
            for (int k = 0; k < 6; ++k) {
                if (!(cbp & (1u << k)))
                    continue;
                rw.PutUe(static_cast<std::uint32_t>(levels[k].count - 1));
                WriteLevels(rw, levels[k], 0, ctx);
            }
            last = idx + 1;
        }
        rw.PutUe(static_cast<std::uint32_t>(total - last));
        refinement = rw.Finish();
    }

    std::vector<std::uint8_t> mask;
    if (settings_.transparent)
        mask = EncodeMask();

    FrameHeader h;
    h.flags = static_cast<std::uint8_t>((key ? kFlagKeyFrame : 0) | (settings_.transparent ? kFlagMask : 0) |
                                        (settings_.keyed ? kFlagKeyed : 0) | (refine ? kFlagRefinement : 0));
    h.baseQuant = static_cast<std::uint8_t>(baseQuant);
    h.refineQuant = refine ? static_cast<std::uint8_t>(refineQuant) : 0;
    h.width = static_cast<std::uint16_t>(settings_.width);
    h.height = static_cast<std::uint16_t>(settings_.height);
    h.keyCheck = settings_.keyed ? KeyCheck(settings_.key) : 0;
    h.nonce = frameNumber_;
    h.maskBytes = static_cast<std::uint32_t>(mask.size());
    h.baseBytes = static_cast<std::uint32_t>(base.size());
    h.refineBytes = static_cast<std::uint32_t>(refinement.size());
    std::memcpy(h.keyColor, settings_.keyColor, 3);

    std::vector<std::uint8_t> out(kFrameHeaderSize);
    WriteFrameHeader(h, out.data());
    out.insert(out.end(), mask.begin(), mask.end());
    out.insert(out.end(), base.begin(), base.end());
    out.insert(out.end(), refinement.begin(), refinement.end());
    if (settings_.keyed)
        Scramble(out.data() + kFrameHeaderSize, out.size() - kFrameHeaderSize, settings_.key, h.nonce);

    cur_ ^= 1;
    ++frameNumber_;
    lastKey_ = key;
    return out;
}

} // namespace qx47
