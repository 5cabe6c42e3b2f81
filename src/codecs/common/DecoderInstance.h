// The part of a decompressor driver that every built-in codec shares: the
// driver procedure, the message dispatch, the checks of formats and
// rectangles (DecodeRequest), the 8-bit palette messages and the colour
// conversion. A codec derives from it and supplies what only it knows: which
// inputs it takes, how to prepare for one, and how to decode a frame.
//
// Messages answered (everything else: ICERR_UNSUPPORTED):
//   ICM_GETINFO, ICM_DECOMPRESS_QUERY / _GET_FORMAT / _BEGIN / ICM_DECOMPRESS
//   / _END, ICM_DECOMPRESSEX_QUERY / _BEGIN / ICM_DECOMPRESSEX / _END,
//   ICM_DECOMPRESS_SET_PALETTE, ICM_DECOMPRESS_GET_PALETTE, and our
//   ICM_DECOMPRESS_GET_DELAY and ICM_DECOMPRESS_FLUSH (Vfw.h), which answer 0
//   and do nothing for a codec that holds no pictures back.
// A decode message without a begin before it begins implicitly. A begin
// keeps the codec's frame-to-frame state when the input format is the one
// already begun, so a paused movie resumes with its next frame.
//
// Threads: ICM_DECOMPRESSEX_QUERY may arrive from another thread while the
// instance decodes (the player asks whether a moved picture still fits while
// it plays); it reads nothing that decoding changes, and CheckInput must not
// either. Every other message comes from one thread at a time.
//
// Palette messages: ICM_DECOMPRESS_SET_PALETTE with a header (lParam1)
// takes biClrUsed colours (256 when 0, at most 256) from the colour table
// that follows the header's 40 bytes, for 8-bit output from then on; with 0
// it returns to the default palette. ICM_DECOMPRESS_GET_PALETTE writes all
// 256 colours of the palette in use for the input in lParam1 after the 40
// bytes of the header in lParam2 and sets its biClrUsed to 256; with a null
// lParam2 it answers the size such a header needs (40 + 1024).
//
// Input with a colour table (InputColors) draws on the movie's own colours:
// unless a palette was set, the default palette of 8-bit output is the
// input's colour table (its entries first, the standard palette's after
// them), and it follows the table that each decode message carries, so a
// palette change of the movie changes the output palette with it. A
// palettised picture is written to 8-bit output index for index through the
// nearest colours of the palette in use (FrameConverter), which is the
// identity on the movie's own palette.
#pragma once

#include "codecs/common/DecodeRequest.h"
#include "pixel/DitherPalette.h"
#include "pixel/FrameConverter.h"
#include "platform/vfw/Vfw.h"

#include <new>

class DecoderInstance {
public:
    virtual ~DecoderInstance() = default;

    // Any message but the driver-level ones.
    LRESULT Message(UINT msg, LPARAM lParam1, LPARAM lParam2);

    // The driver procedure of a codec T (constructed from the ICOPEN of its
    // open). Opens for decompression and queries only.
    template <class T>
    static LRESULT DriverProc(DWORD_PTR id, HDRVR, UINT msg, LPARAM lParam1, LPARAM lParam2) {
        switch (msg) {
        case DRV_LOAD:
        case DRV_FREE:
        case DRV_ENABLE:
        case DRV_DISABLE:
        case DRV_INSTALL:
        case DRV_REMOVE:
            return DRV_OK;
        case DRV_QUERYCONFIGURE:
        case DRV_CONFIGURE:
            return DRV_CANCEL;
        case DRV_OPEN: {
            auto* open = reinterpret_cast<ICOPEN*>(lParam2);
            if (open != nullptr && !AcceptsOpen(*open))
                return 0;
            auto* instance = new (std::nothrow) T(open != nullptr ? open->fccHandler : 0);
            if (instance == nullptr && open != nullptr)
                open->dwError = ICERR_MEMORY;
            return reinterpret_cast<LRESULT>(static_cast<DecoderInstance*>(instance));
        }
        case DRV_CLOSE:
            delete reinterpret_cast<DecoderInstance*>(id);
            return DRV_OK;
        default:
            if (id == 0)
                return ICERR_UNSUPPORTED;
            return reinterpret_cast<DecoderInstance*>(id)->Message(msg, lParam1, lParam2);
        }
    }

protected:
    explicit DecoderInstance(DWORD openHandler) : openHandler_(openHandler) {}

    // ICERR_OK when this codec can decode frames of this format. Changes
    // nothing (see Threads).
    virtual LRESULT CheckInput(const BITMAPINFOHEADER& in) = 0;

    // Called by ICM_DECOMPRESS_QUERY, which is where the caller shows the
    // whole stream format (see Vfw.h); a codec keeps what it needs of it.
    virtual void NoteStreamFormat(const BITMAPINFOHEADER& in) {}

    // Prepares for frames of this format (already checked).
    virtual LRESULT Begin(const BITMAPINFOHEADER& in) = 0;

    // Decodes one frame (request checked, Begin done) into the request's
    // target.
    virtual LRESULT Decode(const BITMAPINFOHEADER& in, const DecodeRequest& request) = 0;

    virtual void End() {}

    // The number of frames fed before a frame's picture comes out, and the
    // discarding of pictures held back (see Vfw.h); for reordering codecs.
    virtual LRESULT ReorderDelay() { return 0; }
    virtual void Flush() {}

    // Fills the handler, flags, names; the base sets sizes and types.
    virtual void Describe(ICINFO& info) = 0;

    // The colour table that follows a header of 8 bits or fewer: biClrUsed
    // entries (at most 2 ^ bit count) after biSize bytes, as the caller
    // guarantees (Vfw.h). 0, with *colors null, when the header names none.
    static DWORD InputColors(const BITMAPINFOHEADER& in, const RGBQUAD** colors);

    DWORD openHandler() const { return openHandler_; }
    DitherPalette& palette() { return palette_; }
    FrameConverter& converter() { return converter_; }

    // Writes the request's source rectangle of a whole decoded picture into
    // the request's target, with the palette in use.
    LRESULT Put(const PixelPicture& picture, const DecodeRequest& request);

private:
    static bool AcceptsOpen(const ICOPEN& open);
    LRESULT BeginIfNeeded(const BITMAPINFOHEADER& in);
    LRESULT DecompressEx(const ICDECOMPRESSEX* ic, LPARAM cb);
    LRESULT Query(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out);
    LRESULT GetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out);
    LRESULT SetPalette(const BITMAPINFOHEADER* header);
    LRESULT GetPalette(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out);
    // Makes the default palette follow the input's colour table (see above).
    void FollowInputPalette(const BITMAPINFOHEADER& in);

    DWORD openHandler_ = 0;
    bool begun_ = false;
    BITMAPINFOHEADER begunFormat_{};
    DitherPalette palette_;
    bool paletteSet_ = false; // by ICM_DECOMPRESS_SET_PALETTE with a header
    FrameConverter converter_;
};
