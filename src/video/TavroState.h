// The two state records exchanged with the Tavro codec (qx47) through
// ICM_GETSTATE and ICM_SETSTATE. Both are sequences of 32-bit little-endian
// words; their layouts are fixed by the codec and must not change.
#pragma once

#include <cstddef>

#include "platform/win32/Types.h"

constexpr FOURCC FOURCC_QX47_LOWER = mmioFOURCC('q', 'x', '4', '7');
constexpr FOURCC FOURCC_QX47_UPPER = mmioFOURCC('Q', 'X', '4', '7');
constexpr DWORD TAVRO_STATE_VERSION = 0x00010001;
constexpr DWORD TAVRO_STATE_QUALIFIER = 2;

// Selection words (`mask`).
constexpr DWORD SHORT_MASK_FIRST_REQUEST = 0x80000007;
constexpr DWORD SHORT_MASK_ACCESS_KEY = 0x80000001;
constexpr DWORD SHORT_MASK_TRANSPARENCY = 0x80000004;
constexpr DWORD SHORT_MASK_LINE_DOUBLING = 0x80000008;
constexpr DWORD LONG_MASK_FIRST_REQUEST = 0x800000E7;
constexpr DWORD LONG_MASK_BOUNDS_ADDRESS = 0x80000008;
constexpr DWORD LONG_MASK_TIME_BUDGET = 0x80000001;
constexpr DWORD LONG_MASK_COLOR_CONTROLS = 0x800000E0;

struct ShortStateRecord {
    DWORD size;           // 44
    DWORD fourcc;         // 'QX47'
    DWORD version;        // 0x00010001
    DWORD kind;           // 3 in the first request, 4 afterwards
    DWORD qualifier;      // 2
    DWORD mask;           // which of the words below the message concerns
    LONG accessKey;       // the access key
    DWORD accessKeyGiven; // 1 when an access key is sent
    DWORD reserved8;      // neither set nor read by the player
    DWORD transparency;   // 0 is written when a background image is taken
    DWORD alternateLine;  // 0 pixel doubling, 1 alternate-line doubling
};
static_assert(sizeof(ShortStateRecord) == 44);

// `boundsAddress` is the address of the decoder's codecBounds rectangle
// (x, y, width, height as four LONGs) that the codec fills after each decoded
// frame. Addresses here are 64 bits wide: word 15 holds the low 32 bits and
// word 16 (unused by the older 32-bit layout) the high 32 bits.
struct LongStateRecord {
    DWORD size;      // 84
    DWORD fourcc;    // 'QX47'
    DWORD version;   // 0x00010001
    DWORD kind;      // 1 defaults (first request, read/restore defaults), 2 current values
    DWORD qualifier; // 2
    DWORD mask;      // which of the words below the message concerns
    LONG timeBudget; // decoding time budget, ms per frame
    DWORD reserved7[8];
    DWORD boundsAddress;     // low 32 bits of the codecBounds address
    DWORD boundsAddressHigh; // high 32 bits of the codecBounds address
    DWORD reserved17;
    LONG brightness; // -255..255
    LONG saturation; // -255..255
    LONG contrast;   // -255..255
};
static_assert(sizeof(LongStateRecord) == 84);
static_assert(offsetof(LongStateRecord, boundsAddress) == 60);
static_assert(offsetof(LongStateRecord, brightness) == 72);
static_assert(offsetof(ShortStateRecord, alternateLine) == 40);
