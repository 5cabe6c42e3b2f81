// The Tavro codec driver: the codec messages on top of the decoder core.
//
// Each instance holds one lock for every message, so the state messages that
// the window thread sends while the playback thread decodes (colour, time
// budget, access key) wait at most for the frame in progress and take effect
// at the next one.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

#include "codecs/qx47/ColorConverter.h"
#include "codecs/qx47/Decoder.h"
#include "codecs/qx47/FrameFormat.h"
#include "codecs/qx47/Qx47State.h"
#include "pixel/DibRules.h"
#include "platform/vfw/Vfw.h"

namespace qx47 {
namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
    LONG timeBudget = 0;
    LONG brightness = 0;
    LONG saturation = 0;
    LONG contrast = 0;
    LONG* bounds = nullptr;
};

// A destination: where and how big the picture is written.
struct Placement {
    BITMAPINFOHEADER* header;
    std::uint8_t* bits;
    int x, y, width, height; // y as the message gives it
    int scale;
};

// A destination buffer that holds the picture of decoder serial `serial`.
// Valid for one drawing cycle: ICM_DECOMPRESSEX_BEGIN (a new cycle may bring
// a new buffer at the same address) forgets it, and so does any change of the
// settings that shape the output (`generation`). Compositing over a
// background (transparency word kTransparencyComposite) is never remembered,
// since the player restores the covered area before each frame.
struct OutputMemory {
    const void* bits = nullptr;
    LONG frameWidth = 0, frameHeight = 0;
    WORD bitCount = 0;
    int x = 0, y = 0, width = 0, height = 0, scale = 0;
    std::uint32_t generation = 0;
    std::uint32_t serial = 0;

    bool Matches(const Placement& p, std::uint32_t gen) const {
        return bits != nullptr && bits == p.bits && frameWidth == p.header->biWidth &&
               frameHeight == p.header->biHeight && bitCount == p.header->biBitCount && x == p.x &&
               y == p.y && width == p.width && height == p.height && scale == p.scale && generation == gen;
    }
    void Remember(const Placement& p, std::uint32_t gen) {
        bits = p.bits;
        frameWidth = p.header->biWidth;
        frameHeight = p.header->biHeight;
        bitCount = p.header->biBitCount;
        x = p.x;
        y = p.y;
        width = p.width;
        height = p.height;
        scale = p.scale;
        generation = gen;
    }
};

struct Instance {
    std::mutex lock;
    Settings settings;
    bool keyGiven = false;
    LONG key = 0;
    DWORD transparency = kTransparencyFill;
    DWORD alternateLine = 0;

    Decoder decoder;
    ColorConverter converter;
    bool hasPicture = false; // a frame has been decoded that can be shown again
    bool locked = false;     // the shown picture is the grey of a keyed frame

    // Read-only statistics of the state records.
    DWORD keyStatus = kKeyStatusNone;
    DWORD decodeMicros = 0;
    DWORD layersDecoded = 0;
    DWORD refinementsDropped = 0;
    // Running estimates for the time budget, in nanoseconds.
    double refineNsPerByte = 0;
    double convertNs = 0;

    OutputMemory outputs[2];
    int nextOutput = 0;
    std::uint32_t generation = 1; // bumped by every setting that changes the output

    void ForgetOutputs() {
        for (OutputMemory& m : outputs)
            m = OutputMemory{};
    }
};

// The library links nothing of the codec registry, so it compares FourCCs
// itself, ignoring the case of letters as the registry does.
bool SameFourcc(DWORD a, DWORD b) {
    for (int i = 0; i < 4; ++i) {
        int x = (a >> (8 * i)) & 0xff, y = (b >> (8 * i)) & 0xff;
        if (x >= 'A' && x <= 'Z')
            x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z')
            y += 'a' - 'A';
        if (x != y)
            return false;
    }
    return true;
}

bool IsQx47(DWORD c) {
    return SameFourcc(c, kHandler);
}

bool ValidInput(const BITMAPINFOHEADER* in) {
    return in != nullptr && in->biSize >= sizeof(BITMAPINFOHEADER) && IsQx47(in->biCompression) &&
           in->biWidth > 0 && in->biWidth <= kMaxDimension && in->biHeight > 0 &&
           in->biHeight <= kMaxDimension;
}

// An uncompressed frame the pixel code can write, holding no more pixels than
// a 32-bit frame under 2 GB, as this driver has always required.
bool ValidOutputFormat(const BITMAPINFOHEADER* out) {
    return out != nullptr && out->biSize >= sizeof(BITMAPINFOHEADER) && out->biCompression == BI_RGB &&
           CanWriteFrame(out->biWidth, out->biHeight, out->biBitCount) &&
           std::int64_t{out->biWidth} * DibRows(out->biHeight) * 4 < (std::int64_t{1} << 31);
}

// Formats reach here checked, so the stride is a positive count.
std::size_t RowBytes(const BITMAPINFOHEADER* h) {
    return static_cast<std::size_t>(DibStride(h->biWidth, h->biBitCount));
}

// The checks on a rectangle pair: whole source picture, native or exactly
// doubled, lying wholly inside the destination frame.
LRESULT CheckRects(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out, int xDst, int yDst, int dxDst,
                   int dyDst, int xSrc, int ySrc, int dxSrc, int dySrc, int* scale) {
    if (!ValidInput(in))
        return ICERR_BADFORMAT;
    if (out == nullptr)
        return ICERR_OK;
    if (!ValidOutputFormat(out))
        return ICERR_BADFORMAT;
    if (xSrc != 0 || ySrc != 0 || dxSrc != in->biWidth || dySrc != in->biHeight)
        return ICERR_BADPARAM;
    int s = 0;
    if (dxDst == dxSrc && dyDst == dySrc)
        s = 1;
    else if (std::int64_t{dxDst} == 2 * std::int64_t{dxSrc} && std::int64_t{dyDst} == 2 * std::int64_t{dySrc})
        s = 2;
    else
        return ICERR_BADSIZE;
    if (xDst < 0 || yDst < 0 || std::int64_t{xDst} + dxDst > out->biWidth ||
        std::int64_t{yDst} + dyDst > DibRows(out->biHeight))
        return ICERR_BADPARAM;
    if (scale)
        *scale = s;
    return ICERR_OK;
}

bool Configure(Instance& inst, const BITMAPINFOHEADER* in) {
    if (inst.decoder.Width() == in->biWidth && inst.decoder.Height() == in->biHeight)
        return true; // keep the reference across drawing cycles
    inst.hasPicture = false;
    inst.ForgetOutputs();
    return inst.decoder.Configure(in->biWidth, in->biHeight);
}

void WriteBounds(Instance& inst, LONG x, LONG y, LONG w, LONG h) {
    if (LONG* b = inst.settings.bounds) {
        b[0] = x;
        b[1] = y;
        b[2] = w;
        b[3] = h;
    }
}

// Writes the decoder's current picture to the destination and reports the
// covered rectangle.
void Output(Instance& inst, const Placement& p, bool full = false) {
    const BITMAPINFOHEADER* h = p.header;
    const std::size_t stride = RowBytes(h);
    const int bytes = h->biBitCount / 8;
    OutputTarget t;
    t.bitCount = h->biBitCount;
    t.scale = p.scale;
    t.alternateLine = inst.alternateLine != 0;
    t.ditherX = p.x;
    if (h->biHeight > 0) { // bottom-up: y counts rows from the bottom one
        const std::int64_t topMemoryRow = std::int64_t{p.y} + p.height - 1;
        t.topRow =
            p.bits + static_cast<std::size_t>(topMemoryRow) * stride + static_cast<std::size_t>(p.x) * bytes;
        t.rowStep = -static_cast<std::ptrdiff_t>(stride);
        t.ditherY = static_cast<int>(h->biHeight - 1 - topMemoryRow);
    } else {
        t.topRow = p.bits + static_cast<std::size_t>(p.y) * stride + static_cast<std::size_t>(p.x) * bytes;
        t.rowStep = static_cast<std::ptrdiff_t>(stride);
        t.ditherY = p.y;
    }
    const int w = inst.decoder.Width(), hgt = inst.decoder.Height();
    // While compositing, the player puts its background back under the
    // reported area before every frame, opaque movies included, so what this
    // codec wrote there is gone: the buffer is never remembered then.
    const bool composited = inst.transparency == kTransparencyComposite;
    if (inst.locked || composited)
        for (OutputMemory& m : inst.outputs)
            if (m.bits == p.bits)
                m = OutputMemory{};
    if (inst.locked) {
        inst.converter.FillGrey(w, hgt, t);
        WriteBounds(inst, 0, 0, p.width, p.height);
        return;
    }
    if (composited && inst.decoder.Transparent()) {
        int bx, by, bw, bh;
        inst.decoder.OpaqueBounds(bx, by, bw, bh);
        inst.converter.Convert(inst.decoder, bx, by, bw, bh, true, t);
        WriteBounds(inst, bx * p.scale, by * p.scale, bw * p.scale, bh * p.scale);
        return;
    }
    if (composited) {
        inst.converter.Convert(inst.decoder, 0, 0, w, hgt, false, t);
        WriteBounds(inst, 0, 0, p.width, p.height);
        return;
    }
    // When this very buffer last received our picture (same place, format
    // and settings, in this drawing cycle), only what changed since is written.
    OutputMemory* mem = nullptr;
    for (OutputMemory& m : inst.outputs)
        if (m.Matches(p, inst.generation))
            mem = &m;
    const std::uint32_t serial = inst.decoder.Serial();
    if (mem != nullptr && !full) {
        inst.converter.Convert(inst.decoder, 0, 0, w, hgt, false, t, inst.decoder.ChangedAt(), mem->serial);
    } else {
        inst.converter.Convert(inst.decoder, 0, 0, w, hgt, false, t);
        if (mem == nullptr) {
            mem = &inst.outputs[inst.nextOutput];
            inst.nextOutput = (inst.nextOutput + 1) % 2;
        }
        mem->Remember(p, inst.generation);
    }
    mem->serial = serial;
    WriteBounds(inst, 0, 0, p.width, p.height);
}

LRESULT Decode(Instance& inst, DWORD flags, const BITMAPINFOHEADER* in, const void* src, const Placement& p) {
    const auto start = Clock::now();
    if (!Configure(inst, in))
        return ICERR_BADFORMAT;
    const std::size_t size = in->biSizeImage;
    const bool hurry = (flags & ICDECOMPRESS_HURRYUP) != 0;
    if (size == 0) { // the file's "no change" frame
        if (!inst.hasPicture)
            return ICERR_DONTDRAW;
        if (!hurry)
            Output(inst, p, true); // the caller may have drawn over it
        return ICERR_OK;
    }
    const auto* data = static_cast<const std::uint8_t*>(src);
    Decoder::Status st = inst.decoder.DecodeBase(data, size, inst.keyGiven, inst.key);
    FrameHeader header;
    const bool keyed = ReadFrameHeader(data, size, header) && (header.flags & kFlagKeyed);
    switch (st) {
    case Decoder::Status::BadFrame:
        inst.hasPicture = false;
        return ICERR_ERROR;
    case Decoder::Status::NoReference:
        return ICERR_GOTOKEYFRAME;
    case Decoder::Status::Locked:
        inst.keyStatus = kKeyStatusLocked;
        inst.locked = true;
        inst.hasPicture = true;
        inst.layersDecoded = 0;
        if (!hurry)
            Output(inst, p);
        return ICERR_OK;
    case Decoder::Status::Ok:
        break;
    }
    inst.keyStatus = keyed ? kKeyStatusMatched : kKeyStatusNone;
    inst.locked = false;
    inst.hasPicture = true;
    inst.layersDecoded = 1;

    const std::size_t refineBytes = inst.decoder.PendingRefinementBytes();
    if (refineBytes > 0 && !hurry) {
        bool drop = false;
        if (inst.settings.timeBudget > 0) {
            const double spent = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
            const double predicted = spent + refineBytes * inst.refineNsPerByte + inst.convertNs;
            drop = predicted > inst.settings.timeBudget * 1e6;
        }
        if (drop) {
            ++inst.refinementsDropped;
        } else {
            const auto r0 = Clock::now();
            if (inst.decoder.DecodeRefinement() != Decoder::Status::Ok)
                return ICERR_ERROR; // the base picture stays; this frame's detail is broken
            const double ns = std::chrono::duration<double, std::nano>(Clock::now() - r0).count();
            const double perByte = ns / static_cast<double>(refineBytes);
            inst.refineNsPerByte =
                inst.refineNsPerByte == 0 ? perByte : 0.8 * inst.refineNsPerByte + 0.2 * perByte;
            inst.layersDecoded = 2;
        }
    }
    if (!hurry) {
        const auto c0 = Clock::now();
        Output(inst, p);
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - c0).count();
        inst.convertNs = inst.convertNs == 0 ? ns : 0.8 * inst.convertNs + 0.2 * ns;
    } else if (inst.decoder.Transparent() && inst.transparency == kTransparencyComposite) {
        int bx, by, bw, bh;
        inst.decoder.OpaqueBounds(bx, by, bw, bh);
        WriteBounds(inst, bx * p.scale, by * p.scale, bw * p.scale, bh * p.scale);
    } else {
        WriteBounds(inst, 0, 0, p.width, p.height);
    }
    inst.decodeMicros = static_cast<DWORD>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
    return ICERR_OK;
}

LRESULT DecompressEx(Instance& inst, UINT msg, const ICDECOMPRESSEX* ic, LPARAM cb) {
    if (ic == nullptr)
        return ICERR_BADPARAM;
    if (cb < static_cast<LPARAM>(sizeof(ICDECOMPRESSEX)))
        return ICERR_BADSIZE;
    int scale = 1;
    LRESULT r = CheckRects(ic->lpbiSrc, ic->lpbiDst, ic->xDst, ic->yDst, ic->dxDst, ic->dyDst, ic->xSrc,
                           ic->ySrc, ic->dxSrc, ic->dySrc, &scale);
    if (r != ICERR_OK)
        return r;
    if (msg == ICM_DECOMPRESSEX_QUERY)
        return ICERR_OK;
    if (ic->lpbiDst == nullptr)
        return ICERR_BADFORMAT;
    if (msg == ICM_DECOMPRESSEX_BEGIN) {
        inst.ForgetOutputs(); // a new drawing cycle may bring a new buffer at the same address
        return Configure(inst, ic->lpbiSrc) ? ICERR_OK : ICERR_BADFORMAT;
    }
    if ((ic->lpSrc == nullptr && ic->lpbiSrc->biSizeImage != 0) || ic->lpDst == nullptr)
        return ICERR_BADPARAM;
    Placement p{ic->lpbiDst, static_cast<std::uint8_t*>(ic->lpDst), ic->xDst, ic->yDst, ic->dxDst, ic->dyDst,
                scale};
    return Decode(inst, ic->dwFlags, ic->lpbiSrc, ic->lpSrc, p);
}

LRESULT Decompress(Instance& inst, const ICDECOMPRESS* ic, LPARAM cb) {
    if (ic == nullptr)
        return ICERR_BADPARAM;
    if (cb < static_cast<LPARAM>(sizeof(ICDECOMPRESS)))
        return ICERR_BADSIZE;
    const BITMAPINFOHEADER* in = ic->lpbiInput;
    const BITMAPINFOHEADER* out = ic->lpbiOutput;
    if (!ValidInput(in) || !ValidOutputFormat(out))
        return ICERR_BADFORMAT;
    const int rows = static_cast<int>(DibRows(out->biHeight));
    int scale = 0;
    LRESULT r = CheckRects(in, out, 0, 0, out->biWidth, rows, 0, 0, in->biWidth, in->biHeight, &scale);
    if (r != ICERR_OK)
        return r;
    if ((ic->lpInput == nullptr && in->biSizeImage != 0) || ic->lpOutput == nullptr)
        return ICERR_BADPARAM;
    Placement p{ic->lpbiOutput, static_cast<std::uint8_t*>(ic->lpOutput), 0, 0, out->biWidth, rows, scale};
    return Decode(inst, ic->dwFlags, in, ic->lpInput, p);
}

bool StateHeaderOk(const DWORD* w, LPARAM cb, DWORD expectedSize) {
    return cb == static_cast<LPARAM>(expectedSize) && w[0] == expectedSize &&
           SameFourcc(w[1], kStateFourcc) && (w[2] >> 16) == (kStateVersion >> 16);
}

LRESULT GetState(Instance& inst, void* rec, LPARAM cb) {
    if (rec == nullptr)
        return sizeof(LongStateRecord);
    if (cb == sizeof(ShortStateRecord)) {
        auto* r = static_cast<ShortStateRecord*>(rec);
        if (!StateHeaderOk(reinterpret_cast<DWORD*>(r), cb, sizeof(ShortStateRecord)))
            return ICERR_BADPARAM;
        const bool all = r->kind == kShortKindFirst || r->mask == kShortMaskFirstRequest;
        if (all || (r->mask & 0x01)) {
            r->accessKey = inst.key;
            r->accessKeyGiven = inst.keyGiven ? 1 : 0;
        }
        if (all || (r->mask & 0x02))
            r->keyStatus = inst.keyStatus;
        if (all || (r->mask & 0x04))
            r->transparency = inst.transparency;
        if (all || (r->mask & 0x08))
            r->alternateLine = inst.alternateLine;
        return ICERR_OK;
    }
    if (cb == sizeof(LongStateRecord)) {
        auto* r = static_cast<LongStateRecord*>(rec);
        if (!StateHeaderOk(reinterpret_cast<DWORD*>(r), cb, sizeof(LongStateRecord)))
            return ICERR_BADPARAM;
        if (r->kind != kLongKindDefaults && r->kind != kLongKindCurrent)
            return ICERR_BADPARAM;
        const bool all = r->mask == kLongMaskFirstRequest;
        const Settings current = r->kind == kLongKindDefaults ? Settings{} : inst.settings;
        const bool stats = r->kind == kLongKindCurrent;
        if (all) {
            std::memset(r->reserved10, 0, sizeof(r->reserved10));
            r->reserved17 = 0;
        }
        if (all || (r->mask & 0x01))
            r->timeBudget = current.timeBudget;
        if (all || (r->mask & 0x02))
            r->decodeMicros = stats ? inst.decodeMicros : 0;
        if (all || (r->mask & 0x04)) {
            r->layersDecoded = stats ? inst.layersDecoded : 0;
            r->refinementsDropped = stats ? inst.refinementsDropped : 0;
        }
        if (all || (r->mask & 0x08))
            SetBoundsAddress(*r, current.bounds);
        if (all || (r->mask & 0x20))
            r->brightness = current.brightness;
        if (all || (r->mask & 0x40))
            r->saturation = current.saturation;
        if (all || (r->mask & 0x80))
            r->contrast = current.contrast;
        return ICERR_OK;
    }
    return ICERR_BADSIZE;
}

LRESULT SetState(Instance& inst, const void* rec, LPARAM cb) {
    if (rec == nullptr) { // back to every default
        inst.settings = Settings{};
        inst.converter.SetControls(0, 0, 0);
        ++inst.generation;
        return ICERR_OK;
    }
    if (cb == sizeof(ShortStateRecord)) {
        const auto* r = static_cast<const ShortStateRecord*>(rec);
        if (!StateHeaderOk(reinterpret_cast<const DWORD*>(r), cb, sizeof(ShortStateRecord)))
            return ICERR_BADPARAM;
        if ((r->mask & 0x04) && r->transparency != kTransparencyComposite &&
            r->transparency != kTransparencyFill)
            return ICERR_BADPARAM;
        if (r->mask & 0x01) {
            inst.keyGiven = r->accessKeyGiven != 0;
            inst.key = inst.keyGiven ? r->accessKey : 0;
        }
        if (r->mask & 0x04)
            inst.transparency = r->transparency;
        if (r->mask & 0x08)
            inst.alternateLine = r->alternateLine != 0 ? 1 : 0;
        ++inst.generation;
        return ICERR_OK;
    }
    if (cb == sizeof(LongStateRecord)) {
        const auto* r = static_cast<const LongStateRecord*>(rec);
        if (!StateHeaderOk(reinterpret_cast<const DWORD*>(r), cb, sizeof(LongStateRecord)))
            return ICERR_BADPARAM;
        Settings next = inst.settings;
        const Settings defaults;
        if (r->kind == kLongKindDefaults) {
            if (r->mask & 0x01)
                next.timeBudget = defaults.timeBudget;
            if (r->mask & 0x08)
                next.bounds = defaults.bounds;
            if (r->mask & 0x20)
                next.brightness = defaults.brightness;
            if (r->mask & 0x40)
                next.saturation = defaults.saturation;
            if (r->mask & 0x80)
                next.contrast = defaults.contrast;
        } else if (r->kind == kLongKindCurrent) {
            auto inRange = [](LONG v) { return v >= -255 && v <= 255; };
            if (((r->mask & 0x20) && !inRange(r->brightness)) ||
                ((r->mask & 0x40) && !inRange(r->saturation)) || ((r->mask & 0x80) && !inRange(r->contrast)))
                return ICERR_BADPARAM; // refused whole: nothing changes
            if (r->mask & 0x01)
                next.timeBudget = r->timeBudget;
            if (r->mask & 0x08)
                next.bounds = GetBoundsAddress(*r);
            if (r->mask & 0x20)
                next.brightness = r->brightness;
            if (r->mask & 0x40)
                next.saturation = r->saturation;
            if (r->mask & 0x80)
                next.contrast = r->contrast;
        } else {
            return ICERR_BADPARAM;
        }
        inst.settings = next;
        inst.converter.SetControls(next.brightness, next.saturation, next.contrast);
        ++inst.generation;
        return ICERR_OK;
    }
    return ICERR_BADSIZE;
}

LRESULT SetPalette(Instance& inst, const BITMAPINFOHEADER* h) {
    ++inst.generation;
    if (h == nullptr) {
        inst.converter.ResetPalette();
        return ICERR_OK;
    }
    if (h->biSize < sizeof(BITMAPINFOHEADER) || h->biSize > 4096)
        return ICERR_BADFORMAT;
    const DWORD count = h->biClrUsed == 0 ? 256 : std::min<DWORD>(h->biClrUsed, 256);
    const auto* table =
        reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const std::uint8_t*>(h) + h->biSize);
    // Entries 0..9 and 246..255 are the fixed system colours; the rest follow the caller.
    inst.converter.ReplacePalette(table, count > 10 ? static_cast<int>(std::min<DWORD>(count, 246) - 10) : 0);
    return ICERR_OK;
}

LRESULT GetPalette(Instance& inst, BITMAPINFOHEADER* out) {
    if (out == nullptr)
        return sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD);
    if (out->biSize < sizeof(BITMAPINFOHEADER) || out->biSize > 4096)
        return ICERR_BADFORMAT;
    auto* table = reinterpret_cast<RGBQUAD*>(reinterpret_cast<std::uint8_t*>(out) + out->biSize);
    std::memcpy(table, inst.converter.Palette(), 256 * sizeof(RGBQUAD));
    return ICERR_OK;
}

LRESULT GetInfo(ICINFO* info, LPARAM cb) {
    if (info == nullptr)
        return sizeof(ICINFO);
    if (cb < static_cast<LPARAM>(sizeof(ICINFO)))
        return 0;
    std::memset(info, 0, sizeof(ICINFO));
    info->dwSize = sizeof(ICINFO);
    info->fccType = ICTYPE_VIDEO;
    info->fccHandler = kHandler;
    info->dwFlags = VIDCF_TEMPORAL | VIDCF_FASTTEMPORALD;
    info->dwVersion = 0x00010001;
    info->dwVersionICM = ICVERSION;
    const char* name = "Tavro";
    const char* desc = "Tavro video codec (qx47)";
    for (int i = 0; name[i]; ++i)
        info->szName[i] = static_cast<WCHAR>(name[i]);
    for (int i = 0; desc[i]; ++i)
        info->szDescription[i] = static_cast<WCHAR>(desc[i]);
    return sizeof(ICINFO);
}

LRESULT GetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    if (!ValidInput(in))
        return ICERR_BADFORMAT;
    if (out == nullptr)
        return sizeof(BITMAPINFOHEADER);
    *out = BITMAPINFOHEADER{};
    out->biSize = sizeof(BITMAPINFOHEADER);
    out->biWidth = in->biWidth;
    out->biHeight = in->biHeight;
    out->biPlanes = 1;
    out->biBitCount = 24;
    out->biCompression = BI_RGB;
    out->biSizeImage = static_cast<DWORD>(RowBytes(out) * static_cast<std::size_t>(in->biHeight));
    return ICERR_OK;
}

LRESULT Message(Instance& inst, UINT msg, LPARAM p1, LPARAM p2) {
    std::lock_guard<std::mutex> guard(inst.lock);
    switch (msg) {
    case ICM_GETINFO:
        return GetInfo(reinterpret_cast<ICINFO*>(p1), p2);
    case ICM_GETSTATE:
        return GetState(inst, reinterpret_cast<void*>(p1), p2);
    case ICM_SETSTATE:
        return SetState(inst, reinterpret_cast<const void*>(p1), p2);
    case ICM_DECOMPRESS_QUERY: {
        const auto* out = reinterpret_cast<const BITMAPINFOHEADER*>(p2);
        const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
        if (!ValidInput(in))
            return ICERR_BADFORMAT;
        if (out == nullptr)
            return ICERR_OK;
        return CheckRects(in, out, 0, 0, out->biWidth, static_cast<int>(DibRows(out->biHeight)), 0, 0,
                          in->biWidth, in->biHeight, nullptr);
    }
    case ICM_DECOMPRESS_GET_FORMAT:
        return GetFormat(reinterpret_cast<const BITMAPINFOHEADER*>(p1),
                         reinterpret_cast<BITMAPINFOHEADER*>(p2));
    case ICM_DECOMPRESS_BEGIN: {
        const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
        if (!ValidInput(in) || !ValidOutputFormat(reinterpret_cast<const BITMAPINFOHEADER*>(p2)))
            return ICERR_BADFORMAT;
        inst.ForgetOutputs();
        return Configure(inst, in) ? ICERR_OK : ICERR_BADFORMAT;
    }
    case ICM_DECOMPRESS:
        return Decompress(inst, reinterpret_cast<const ICDECOMPRESS*>(p1), p2);
    case ICM_DECOMPRESSEX_QUERY:
    case ICM_DECOMPRESSEX_BEGIN:
    case ICM_DECOMPRESSEX:
        return DecompressEx(inst, msg, reinterpret_cast<const ICDECOMPRESSEX*>(p1), p2);
    case ICM_DECOMPRESS_END:
    case ICM_DECOMPRESSEX_END:
        return ICERR_OK;
    case ICM_DECOMPRESS_SET_PALETTE:
        return SetPalette(inst, reinterpret_cast<const BITMAPINFOHEADER*>(p1));
    case ICM_DECOMPRESS_GET_PALETTE:
        return GetPalette(inst, reinterpret_cast<BITMAPINFOHEADER*>(p2));
    // The player keeps time itself; the drawing clock messages need nothing here.
    case ICM_DRAW_BEGIN:
    case ICM_DRAW_START:
    case ICM_DRAW_STOP:
    case ICM_DRAW_END:
        return ICERR_OK;
    default:
        return ICERR_UNSUPPORTED;
    }
}

} // namespace
} // namespace qx47

extern "C" __attribute__((visibility("default"))) LRESULT DriverProc(DWORD_PTR id, HDRVR, UINT msg, LPARAM p1,
                                                                     LPARAM p2) {
    using qx47::Instance;
    switch (msg) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
        return DRV_OK;
    case DRV_OPEN: {
        auto* open = reinterpret_cast<ICOPEN*>(p2);
        if (open != nullptr) {
            if (open->fccType != 0 && open->fccType != ICTYPE_VIDEO)
                return 0;
            const DWORD mode = open->dwFlags;
            if (mode == ICMODE_COMPRESS || mode == ICMODE_FASTCOMPRESS) {
                open->dwError =
                    ICERR_UNSUPPORTED; // frames are made by the cadmo-qx47enc tool, not through messages
                return 0;
            }
        }
        auto* inst = new (std::nothrow) Instance;
        if (inst == nullptr && open != nullptr)
            open->dwError = ICERR_MEMORY;
        if (open != nullptr && inst != nullptr)
            open->dwError = ICERR_OK;
        return reinterpret_cast<LRESULT>(inst);
    }
    case DRV_CLOSE:
        delete reinterpret_cast<Instance*>(id);
        return DRV_OK;
    default:
        if (id == 0)
            return msg < DRV_USER ? 0 : ICERR_BADHANDLE;
        return qx47::Message(*reinterpret_cast<Instance*>(id), msg, p1, p2);
    }
}
