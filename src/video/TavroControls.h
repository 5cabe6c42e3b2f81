// The player's side of the Tavro codec's (qx47) private controls: colour
// controls, the decoding time budget (scalability), the access key, the mode
// of doubled output, compositing over a background image, and the place where
// the codec reports the area that each frame covered.
//
// A VideoDecoder owns one only while its codec is the Tavro codec, so nothing
// here tests the codec: whoever holds the object talks to a Tavro codec. Every
// exchange is a state record sent with ICM_GETSTATE or ICM_SETSTATE (layouts
// and masks in codecs/qx47/Qx47State.h). The object keeps working copies of
// both records: a get leaves the codec's answer in its copy, and the next
// exchange of that record sends those words again together with its own. The
// length sent is the copy's own size word, which the codec may rewrite, held
// to the record's size; the first requests, the compositing switch and a
// colour change send the whole record.
//
// Calling order: InitCodecState once, right after the codec is opened; then
// any operation; destruction when the codec is closed. The object must not
// move while the codec lives, as the codec writes into codecBounds.
//
// Threads: the window thread makes every exchange. The colour, scalability and
// access-key exchanges may run while the playback thread decodes, which the
// codec allows; they touch only the records, which the playback thread never
// reads. The codec writes codecBounds during a decode, and the decoder reads
// it after that decode on the same (playback) thread.
#pragma once

#include "codecs/qx47/Qx47State.h"
#include "platform/vfw/Vfw.h"
#include "platform/win32/Types.h"

class TavroControls {
public:
    // The area a decoded frame covered: x, y, width, height, top-down and
    // relative to the decode rectangle's origin, as the codec writes it.
    struct Area {
        LONG x = 0;
        LONG y = 0;
        LONG width = 0;
        LONG height = 0;
    };
    static_assert(sizeof(Area) == 16, "four 32-bit words, as the codec writes them");

    explicit TavroControls(HIC instance) : codec(instance) {}
    TavroControls(const TavroControls&) = delete;
    TavroControls& operator=(const TavroControls&) = delete;

    // The first requests of both records (every word filled by the codec),
    // then the address of codecBounds.
    void InitCodecState();
    // Frames are composited over the player's background from now on.
    void SetCompositing();
    // mode 1 pixel doubling, otherwise alternate lines; true when the codec
    // accepts it.
    bool SetLineDoubling(INT mode);
    // Brightness, saturation and contrast (-255..255): the codec's defaults
    // or current values. A set or reset with any value out of range sends
    // nothing; a reset restores the codec's defaults.
    void GetColorControls(LONG* brightness, LONG* saturation, LONG* contrast, BOOL defaults);
    void SetColorControls(LONG brightness, LONG saturation, LONG contrast, BOOL reset);
    // The time budget per frame in ms (0 or less: none); not limited here.
    void GetScalability(LONG* ms, BOOL defaults);
    void SetScalability(LONG ms, BOOL reset);
    // The access key for keyed movies, read-modify-write of the short record.
    void SetAccessKey(LONG key);

    // --- fields, in their declared order ---
    HIC codec;
    qx47::ShortStateRecord shortState{};        // working copy
    qx47::ShortStateRecord shortStateRequest{}; // as first requested
    qx47::LongStateRecord longState{};          // working copy
    qx47::LongStateRecord longStateRequest{};   // as first requested
    Area codecBounds;                           // written by the codec after each frame
};
