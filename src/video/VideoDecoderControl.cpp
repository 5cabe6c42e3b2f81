// Codec control: the 8-bit palette (any codec) and the parts of the Tavro
// codec's controls that change the decoder's own picture (background, line
// doubling, the area the last frame covered). The rest of the Tavro controls
// are TavroControls' alone.

#include "image/DibImage.h"
#include "video/TavroControls.h"
#include "video/VideoDecoder.h"

LONG VideoDecoder::GetUpdatedRect(RECT* r) const {
    if (!IsTavro())
        return kNotTavro;
    std::lock_guard<std::mutex> guard(rectLock);
    *r = updatedRect.ToRect();
    return kOk;
}

LONG VideoDecoder::SetPalette(const LOGPALETTE* p) {
    if (!codec || !outputFormat)
        return kRefused;
    if (!p)
        return ICSendMessage(codec, ICM_DECOMPRESS_SET_PALETTE, 0, 0) == ICERR_OK ? kAccepted : kRefused;
    // Entries 0..9 stay the system's fixed colours; a palette fills at most
    // the 236 entries after them.
    const int n = p->palNumEntries > 236 ? 236 : p->palNumEntries;
    for (int i = 0; i < n; ++i) {
        RGBQUAD& c = outputFormat->colors[10 + i];
        c.rgbRed = p->palPalEntry[i].peRed;
        c.rgbGreen = p->palPalEntry[i].peGreen;
        c.rgbBlue = p->palPalEntry[i].peBlue;
    }
    outputFormat->header.biClrUsed = 256;
    if (ICSendMessage(codec, ICM_DECOMPRESS_SET_PALETTE, reinterpret_cast<DWORD_PTR>(outputFormat.get()),
                      0) != ICERR_OK) {
        ICSendMessage(codec, ICM_DECOMPRESS_SET_PALETTE, 0, 0);
        return kRefused;
    }
    return kAccepted;
}

LONG VideoDecoder::SetBackground(std::unique_ptr<DibImage> image) {
    if (!IsTavro() || !image)
        return kRefused;
    if (image->Width() < windowRect.width || image->Height() < windowRect.height)
        return kRefused;
    background = std::move(image);
    viewRect = VideoRect{0, 0, background->Width(), background->Height()};
    {
        std::lock_guard<std::mutex> guard(rectLock);
        decodeRect.x = viewRect.width / 2 - decodeRect.width / 2;
        decodeRect.y = viewRect.height / 2 - decodeRect.height / 2;
    }
    if (tavro)
        tavro->SetCompositing();
    return kAccepted;
}

LONG VideoDecoder::SetLineDoubling(INT mode) {
    if (!IsTavro())
        return kRefused;
    return tavro && tavro->SetLineDoubling(mode) ? kAccepted : kRefused;
}
