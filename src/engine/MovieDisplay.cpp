// Display operations of the movie: output format and size, palette and
// background image.

#include <memory>
#include <new>

#include "engine/Movie.h"
#include "engine/OwnerWindow.h"
#include "image/DibImage.h"
#include "video/VideoDecoder.h"

namespace {

// The bitmap loader tells the user about unusable files through the window.
class OwnerMessageSink : public MessageSink {
public:
    explicit OwnerMessageSink(OwnerWindow* w) : window(w) {}
    INT ShowMessageBox(const char* text, const char* title, UINT type) override {
        return window ? window->ShowMessageBox(text, title, type) : 0;
    }

private:
    OwnerWindow* window;
};

} // namespace

LONG Movie::SetDisplayFormat(float zoom, INT bitsPerPixel, INT doubling, LONG width, LONG height) {
    if (!videoStream || !decoder)
        return kNoVideo;
    if (playing)
        return kPlaying;
    BITMAPINFOHEADER in{};
    BITMAPINFOHEADER out{};
    RECT s{};
    decoder->GetInputFormat(&in);
    decoder->GetOutputFormat(&out);
    decoder->GetSourceRect(&s);

    const INT bpp = bitsPerPixel ? bitsPerPixel : out.biBitCount;
    if (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return kDecoderRefused;
    LONG w = width;
    LONG h = height;
    if (zoom > 0.0f) {
        const double dw = static_cast<double>(in.biWidth) * zoom;
        const double dh = static_cast<double>(in.biHeight) * zoom;
        if (dw > 0x7fffffff || dh > 0x7fffffff || dw < -0x7fffffffLL || dh < -0x7fffffffLL)
            return kDecoderRefused;
        w = static_cast<LONG>(dw);
        h = static_cast<LONG>(dh);
    }
    out.biBitCount = static_cast<WORD>(bpp);
    out.biWidth = w;
    out.biHeight = h;
    const LONG bytes = FrameBytes(out);
    if (bytes < 0)
        return kDecoderRefused; // no buffer could hold such a frame
    out.biSizeImage = static_cast<DWORD>(bytes);
    const RECT d{s.left, s.top, s.left + w, s.top + h};

    if (decoder->QueryDecode(&out, d.left, d.top, w, h) == 0) {
        if (decoder->SetOutputFormat(out) != 0)
            return kDecoderRefused;
        decoder->SetDecodeRect(d);
        decoder->SetWindowRect(d);
        if (doubling != 0 && decoder->SetLineDoubling(doubling) == VideoDecoder::kRefused) {
            decodedFrame = -1;
            return kDecoderRefused;
        }
    } else {
        out.biWidth = in.biWidth;
        out.biHeight = in.biHeight;
        out.biSizeImage = static_cast<DWORD>(FrameBytes(out));
        if (decoder->QueryDecode(&out, s.left, s.top, s.right - s.left, s.bottom - s.top) != 0)
            return kDecoderRefused;
        if (decoder->SetOutputFormat(out) != 0)
            return kDecoderRefused;
        decoder->SetDecodeRect(s);
        decoder->SetWindowRect(d);
    }
    decodedFrame = -1;
    return kOk;
}

LONG Movie::SetDisplayPalette(const LOGPALETTE* palette) {
    if (!videoStream || !decoder)
        return kNoVideo;
    return decoder->SetPalette(palette) == VideoDecoder::kAccepted ? kOk : kDecoderRefused;
}

LONG Movie::SetBackgroundImage(const char* path) {
    if (!videoStream || !decoder)
        return kNoVideo;
    if (playing)
        return kPlaying;
    BITMAPINFOHEADER out{};
    decoder->GetOutputFormat(&out);
    std::unique_ptr<DibImage> image(new (std::nothrow) DibImage());
    if (!image)
        return kDecoderRefused;
    backgroundImage = image.get();
    OwnerMessageSink sink(ownerWindow);
    if (!image->Load(&sink, path, out.biBitCount)) {
        backgroundImage = nullptr;
        return kDecoderRefused;
    }
    if (decoder->SetBackground(std::move(image)) == VideoDecoder::kRefused) {
        // SetBackground destroys a refused image.
        backgroundImage = nullptr;
        return kDecoderRefused;
    }
    return kOk;
}
