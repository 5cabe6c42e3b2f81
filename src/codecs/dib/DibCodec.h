// The uncompressed-frame driver: 16-bit (RGB 5-5-5), 24-bit and 32-bit
// BI_RGB frames, and 1-, 4- and 8-bit frames with a colour table, bottom-up
// or top-down, to any output the shared conversion writes. Registered under the handler "DIB " and also found
// by format for streams that name another handler ("RGB ", "raw ", or none).
//
// Palettised frames take their colours from the table that follows the
// header of each decode message (biClrUsed entries, as DecoderInstance
// reads them), so a palette change of the movie shows from its frame on; an
// index past the table shows black. A header of 8 bits or fewer that names
// no table is refused: there is nothing to show its pixels with.
//
// Holds no state between frames; a 0-byte frame answers ICERR_DONTDRAW and
// ICDECOMPRESS_HURRYUP skips the frame altogether, as there is nothing to
// keep up to date.
#pragma once

#include "codecs/common/DecoderInstance.h"

#include <vector>

constexpr FOURCC kDibHandler = mmioFOURCC('D', 'I', 'B', ' ');

class DibCodec : public DecoderInstance {
public:
    explicit DibCodec(DWORD openHandler) : DecoderInstance(openHandler) {}

    static LRESULT DriverProc(DWORD_PTR id, HDRVR hdrvr, UINT msg, LPARAM lParam1, LPARAM lParam2) {
        return DecoderInstance::DriverProc<DibCodec>(id, hdrvr, msg, lParam1, lParam2);
    }

protected:
    LRESULT CheckInput(const BITMAPINFOHEADER& in) override;
    LRESULT Begin(const BITMAPINFOHEADER& in) override { return ICERR_OK; }
    LRESULT Decode(const BITMAPINFOHEADER& in, const DecodeRequest& request) override;
    void Describe(ICINFO& info) override;

private:
    std::vector<BYTE> indices_; // 1- and 4-bit frames widened to a byte per pixel
};
