// The Tavro codec's (qx47) private state records, as a player includes them.
//
// Both records travel through the standard codec messages: ICM_GETSTATE
// (lParam1 = record, lParam2 = its length) fills the words named by `mask`,
// ICM_SETSTATE applies them and answers 0 (ICERR_OK) when it accepts the
// record. Every word is a 32-bit little-endian value; the layouts are frozen.
//
// Selection: the top bit of `mask` is always set; the low bits name words.
//   short record  0x01 accessKey + accessKeyGiven   0x02 keyStatus (read only)
//                 0x04 transparency                 0x08 alternateLine
//   long record   0x01 timeBudget                   0x02 decodeMicros (read only)
//                 0x04 layersDecoded + refinementsDropped (read only)
//                 0x08 boundsAddress + boundsAddressHigh
//                 0x20 brightness  0x40 saturation  0x80 contrast
// A get with the short record's kind 3 or the long record's mask 0x800000E7
// (the first requests) fills every word. On the long record, kind 1 reads or
// restores defaults and kind 2 reads or writes current values; the short
// record only has current values (kind 3 first request, 4 afterwards).
//
// The bounds address. The codec writes, after every decoded frame, the
// rectangle the frame covered (x, y, width, height: four signed 32-bit words,
// top-down, relative to the decode rectangle's origin) to the address the
// player gave with mask 0x08. Addresses are 64 bits wide here, so the address
// is split: `boundsAddress` holds its low 32 bits and `boundsAddressHigh`
// (word 16, unused in the old 32-bit layout) its high 32 bits. Use
// SetBoundsAddress() below; a zero address means "report nothing".
//
// Compositing. The player that composites the picture over an image of its
// own sets `transparency` to kTransparencyComposite, and from then on owns the
// output buffer between frames: before each decode it may put its image back
// under the rectangle the previous frame reported. So in that mode every
// frame writes all of its picture inside the rectangle it reports (a
// transparent movie only its opaque pixels) and never relies on the buffer
// still holding the previous frame. In the default mode (kTransparencyFill)
// the buffer is the codec's within a drawing cycle (ICM_DECOMPRESSEX_BEGIN to
// the next one): a frame may rewrite only what changed since the last frame
// it wrote to the same buffer, at the same place and format.
//
// Threads: a codec instance accepts state messages from one thread while a
// decode message runs on another; a change takes effect at the next frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/win32/Types.h"

namespace qx47 {

constexpr FOURCC kHandler = mmioFOURCC('q', 'x', '4', '7');
constexpr FOURCC kStateFourcc = mmioFOURCC('Q', 'X', '4', '7');
constexpr DWORD kStateVersion = 0x00010001;
constexpr DWORD kStateQualifier = 2;

constexpr DWORD kShortKindFirst = 3;
constexpr DWORD kShortKindLater = 4;
constexpr DWORD kLongKindDefaults = 1;
constexpr DWORD kLongKindCurrent = 2;

constexpr DWORD kMaskTopBit = 0x80000000;
constexpr DWORD kShortMaskFirstRequest = 0x80000007;
constexpr DWORD kShortMaskAccessKey = 0x80000001;
constexpr DWORD kShortMaskKeyStatus = 0x80000002;
constexpr DWORD kShortMaskTransparency = 0x80000004;
constexpr DWORD kShortMaskLineDoubling = 0x80000008;
constexpr DWORD kLongMaskFirstRequest = 0x800000E7;
constexpr DWORD kLongMaskTimeBudget = 0x80000001;
constexpr DWORD kLongMaskDecodeMicros = 0x80000002;
constexpr DWORD kLongMaskLayerStats = 0x80000004;
constexpr DWORD kLongMaskBoundsAddress = 0x80000008;
constexpr DWORD kLongMaskBrightness = 0x80000020;
constexpr DWORD kLongMaskSaturation = 0x80000040;
constexpr DWORD kLongMaskContrast = 0x80000080;
constexpr DWORD kLongMaskColorControls = 0x800000E0;

// keyStatus values.
constexpr DWORD kKeyStatusNone = 0;    // the last frame was not keyed
constexpr DWORD kKeyStatusMatched = 1; // keyed, and the given key opened it
constexpr DWORD kKeyStatusLocked = 2;  // keyed, and no key or a wrong key: grey picture

// transparency values.
constexpr DWORD kTransparencyComposite = 0; // transparent pixels are left untouched; see Compositing
constexpr DWORD kTransparencyFill = 1;      // transparent pixels get the movie's key colour (default)

struct ShortStateRecord {
    DWORD size;           // 44
    DWORD fourcc;         // 'QX47'
    DWORD version;        // 0x00010001
    DWORD kind;           // 3 first request, 4 afterwards
    DWORD qualifier;      // 2
    DWORD mask;           // selection word
    LONG accessKey;       // the access key
    DWORD accessKeyGiven; // 1 when accessKey holds a key, 0 clears it
    DWORD keyStatus;      // read only: kKeyStatus* of the last frame
    DWORD transparency;   // kTransparencyComposite or kTransparencyFill
    DWORD alternateLine;  // doubled output: 0 pixel doubling, 1 alternate lines
};
static_assert(sizeof(ShortStateRecord) == 44);
static_assert(offsetof(ShortStateRecord, accessKey) == 24);
static_assert(offsetof(ShortStateRecord, transparency) == 36);
static_assert(offsetof(ShortStateRecord, alternateLine) == 40);

struct LongStateRecord {
    DWORD size;               // 84
    DWORD fourcc;             // 'QX47'
    DWORD version;            // 0x00010001
    DWORD kind;               // 1 defaults, 2 current values
    DWORD qualifier;          // 2
    DWORD mask;               // selection word
    LONG timeBudget;          // ms per frame; 0 (or less) means no budget
    DWORD decodeMicros;       // read only: decode time of the last frame, microseconds
    DWORD layersDecoded;      // read only: layers the last frame used (1 base, 2 refined)
    DWORD refinementsDropped; // read only: frames whose refinement the budget dropped
    DWORD reserved10[5];
    DWORD boundsAddress;     // low 32 bits of the bounds address
    DWORD boundsAddressHigh; // high 32 bits of the bounds address
    DWORD reserved17;
    LONG brightness; // -255..255, default 0
    LONG saturation; // -255..255, default 0
    LONG contrast;   // -255..255, default 0
};
static_assert(sizeof(LongStateRecord) == 84);
static_assert(offsetof(LongStateRecord, timeBudget) == 24);
static_assert(offsetof(LongStateRecord, boundsAddress) == 60);
static_assert(offsetof(LongStateRecord, boundsAddressHigh) == 64);
static_assert(offsetof(LongStateRecord, brightness) == 72);
static_assert(offsetof(LongStateRecord, contrast) == 80);

// A record ready to send: the header words filled in (size = the record's
// own size, the state FourCC, version and qualifier), `kind` and `mask` as
// given, every other word 0. The one place where a player or a test builds a
// record.
template <typename Record> Record MakeStateRecord(DWORD kind, DWORD mask) {
    static_assert(std::is_same_v<Record, ShortStateRecord> || std::is_same_v<Record, LongStateRecord>,
                  "a Tavro state record");
    Record r{};
    r.size = sizeof(Record);
    r.fourcc = kStateFourcc;
    r.version = kStateVersion;
    r.kind = kind;
    r.qualifier = kStateQualifier;
    r.mask = mask;
    return r;
}

inline void SetBoundsAddress(LongStateRecord& r, const void* bounds) {
    auto a = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(bounds));
    r.boundsAddress = static_cast<DWORD>(a & 0xffffffffu);
    r.boundsAddressHigh = static_cast<DWORD>(a >> 32);
}

inline LONG* GetBoundsAddress(const LongStateRecord& r) {
    std::uint64_t a = (static_cast<std::uint64_t>(r.boundsAddressHigh) << 32) | r.boundsAddress;
    return reinterpret_cast<LONG*>(static_cast<std::uintptr_t>(a));
}

} // namespace qx47
