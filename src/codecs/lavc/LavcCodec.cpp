#include "codecs/lavc/LavcCodec.h"

#include "codecs/lavc/LavcCodecMap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace {

// Generous for any AVI a person owns, and keeps width x height x 4 far from
// 32-bit overflow inside the decoders.
constexpr LONG kMaxDimension = 16384;
// Codec data beyond this is not believed (HuffYUV tables are about 4 KB).
constexpr DWORD kMaxExtradata = 1 << 20;
// H.264 holds at most 16 pictures back; a stream claiming more is not
// believed, and the queue of early pictures never grows past what that needs.
constexpr int kMaxDelay = 16;
constexpr std::size_t kMaxHeld = 2 * kMaxDelay;

void SetName(WCHAR* out, const char* text) {
    while (*text)
        *out++ = static_cast<WCHAR>(*text++);
    *out = 0;
}

bool SameStream(const BITMAPINFOHEADER& a, const BITMAPINFOHEADER& b) {
    return a.biWidth == b.biWidth && a.biHeight == b.biHeight && a.biBitCount == b.biBitCount &&
           a.biCompression == b.biCompression && a.biSize == b.biSize;
}

} // namespace

LavcCodec::LavcCodec(DWORD openHandler) : DecoderInstance(openHandler) {}

LavcCodec::~LavcCodec() {
    CloseDecoder();
    av_buffer_unref(&input_);
    av_free(bgr_);
}

void LavcCodec::ClearHeld() {
    for (AVFrame*& f : held_)
        av_frame_free(&f);
    held_.clear();
}

void LavcCodec::CloseDecoder() {
    ClearHeld();
    delay_ = 0;
    runFrames_ = 0;
    draining_ = false;
    avcodec_free_context(&context_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    av_frame_free(&last_);
    sws_freeContext(sws_);
    sws_ = nullptr;
    yuv_.reset();
    keySeen_ = false;
    paletteSent_ = false;
}

int LavcCodec::CodecIdFor(const BITMAPINFOHEADER& in) const {
    AVCodecID id = LavcCodecMap::Lookup(in.biCompression);
    // Plain RGB belongs to the uncompressed driver; a stream handler names
    // the codec only when the compression code is not one we know.
    if (id == AV_CODEC_ID_NONE && in.biCompression != BI_RGB && in.biCompression != BI_BITFIELDS)
        id = LavcCodecMap::Lookup(openHandler());
    return id;
}

LRESULT LavcCodec::CheckInput(const BITMAPINFOHEADER& in) {
    if (in.biWidth <= 0 || in.biWidth > kMaxDimension || in.biHeight == 0 || in.biHeight < -kMaxDimension ||
        in.biHeight > kMaxDimension)
        return ICERR_BADFORMAT;
    auto id = static_cast<AVCodecID>(CodecIdFor(in));
    if (id == AV_CODEC_ID_NONE || avcodec_find_decoder(id) == nullptr)
        return ICERR_BADFORMAT;
    return ICERR_OK;
}

void LavcCodec::NoteStreamFormat(const BITMAPINFOHEADER& in) {
    noted_ = in;
    extradata_.clear();
    streamPalette_.clear();
    if (in.biSize > sizeof(BITMAPINFOHEADER) && in.biSize - sizeof(BITMAPINFOHEADER) <= kMaxExtradata) {
        auto* bytes = reinterpret_cast<const std::uint8_t*>(&in) + sizeof(BITMAPINFOHEADER);
        extradata_.assign(bytes, bytes + (in.biSize - sizeof(BITMAPINFOHEADER)));
    }
    // Only a format that states its number of colours is read for a table:
    // a bare 40-byte header of 8 bits (biClrUsed 0) may have nothing behind it.
    if (in.biBitCount <= 8 && in.biClrUsed != 0 && in.biSize >= sizeof(BITMAPINFOHEADER) &&
        in.biSize <= kMaxExtradata) {
        DWORD count = in.biClrUsed > 256 ? 256 : in.biClrUsed;
        auto* colors =
            reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const std::uint8_t*>(&in) + in.biSize);
        streamPalette_.assign(256, 0xff000000u);
        for (DWORD i = 0; i < count; ++i)
            streamPalette_[i] = 0xff000000u | (static_cast<std::uint32_t>(colors[i].rgbRed) << 16) |
                                (static_cast<std::uint32_t>(colors[i].rgbGreen) << 8) | colors[i].rgbBlue;
    }
}

LRESULT LavcCodec::Begin(const BITMAPINFOHEADER& in) {
    CloseDecoder();
    const AVCodec* codec = avcodec_find_decoder(static_cast<AVCodecID>(CodecIdFor(in)));
    if (codec == nullptr)
        return ICERR_BADFORMAT;
    context_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    last_ = av_frame_alloc();
    if (context_ == nullptr || packet_ == nullptr || frame_ == nullptr || last_ == nullptr) {
        CloseDecoder();
        return ICERR_MEMORY;
    }
    context_->width = in.biWidth;
    context_->height = static_cast<int>(DibRows(in.biHeight));
    context_->codec_tag = in.biCompression;
    context_->bits_per_coded_sample = in.biBitCount;
    context_->thread_count = 1;
    const bool sameStream = SameStream(in, noted_);
    if (sameStream && !extradata_.empty()) {
        context_->extradata =
            static_cast<std::uint8_t*>(av_mallocz(extradata_.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (context_->extradata == nullptr) {
            CloseDecoder();
            return ICERR_MEMORY;
        }
        std::memcpy(context_->extradata, extradata_.data(), extradata_.size());
        context_->extradata_size = static_cast<int>(extradata_.size());
    }
    if (!sameStream)
        streamPalette_.clear();
    if (avcodec_open2(context_, codec, nullptr) < 0) {
        CloseDecoder();
        return ICERR_BADFORMAT;
    }
    return ICERR_OK;
}

LRESULT LavcCodec::Decode(const BITMAPINFOHEADER& in, const DecodeRequest& request) {
    if (context_ == nullptr)
        return ICERR_ERROR;
    const bool hurry = (request.flags & ICDECOMPRESS_HURRYUP) != 0;
    const bool drain = request.dataSize == 0 && (request.flags & ICDECOMPRESS_ENDOFSTREAM) != 0;
    if (request.dataSize == 0 && !drain)
        return hurry ? ICERR_OK : ShowLast(request);

    bool got = false;
    if (drain) {
        // Past the end: the decoder gives up what it holds back. A decoder
        // without a delay holds nothing, and the last picture shows again.
        if (delay_ == 0)
            return hurry ? ICERR_OK : ShowLast(request);
        if (!draining_) {
            avcodec_send_packet(context_, nullptr);
            draining_ = true;
        }
        if (LRESULT r = Receive(&got); r != ICERR_OK)
            return r;
    } else {
        if (draining_)
            Flush(); // the stream starts over; its first frame must be a key frame

        // The decoders read a little past the end of their input for speed;
        // the padding must be there and zero. The copy goes into a counted
        // buffer: the decoder takes a reference to it, where a plain packet
        // would be copied once more. Once the decoder has let go of it, the
        // same buffer serves the next frame.
        const std::size_t padded = static_cast<std::size_t>(request.dataSize) + AV_INPUT_BUFFER_PADDING_SIZE;
        if (request.dataSize > static_cast<DWORD>(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE))
            return ICERR_BADSIZE;
        if (input_ == nullptr || !av_buffer_is_writable(input_) ||
            static_cast<std::size_t>(input_->size) < padded) {
            av_buffer_unref(&input_);
            input_ = av_buffer_alloc(padded);
            if (input_ == nullptr)
                return ICERR_MEMORY;
        }
        std::memcpy(input_->data, request.data, request.dataSize);
        std::memset(input_->data + request.dataSize, 0, AV_INPUT_BUFFER_PADDING_SIZE);

        // The decoder may keep drawing into the picture it gave last (delta
        // codecs); holding a reference to it would make it copy the whole
        // picture first, so it is let go here. A reordering decoder never
        // draws into a picture it gave, and its last one may be needed again.
        if (delay_ == 0)
            av_frame_unref(last_);
        av_packet_unref(packet_);
        packet_->buf = av_buffer_ref(input_);
        if (packet_->buf == nullptr)
            return ICERR_MEMORY;
        packet_->data = input_->data;
        packet_->size = static_cast<int>(request.dataSize);
        // The table the message carries is the one in effect for this frame:
        // a palette change of the movie reaches the decoder with the next
        // frame.
        const RGBQUAD* colors = nullptr;
        if (const DWORD count = InputColors(in, &colors); count != 0) {
            std::uint32_t argb[256];
            for (DWORD i = 0; i < 256; ++i)
                argb[i] = i < count
                              ? 0xff000000u | (static_cast<std::uint32_t>(colors[i].rgbRed) << 16) |
                                    (static_cast<std::uint32_t>(colors[i].rgbGreen) << 8) | colors[i].rgbBlue
                              : 0xff000000u;
            if (streamPalette_.size() != 256 || std::memcmp(streamPalette_.data(), argb, sizeof argb) != 0) {
                streamPalette_.assign(argb, argb + 256);
                paletteSent_ = false;
            }
        }
        if (!paletteSent_ && !streamPalette_.empty()) {
            if (std::uint8_t* side = av_packet_new_side_data(packet_, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE))
                std::memcpy(side, streamPalette_.data(), AVPALETTE_SIZE);
            paletteSent_ = true;
        }
        int sent = avcodec_send_packet(context_, packet_);
        av_packet_unref(packet_);
        if (sent < 0) {
            keySeen_ = false;
            return ICERR_ERROR;
        }
        if (LRESULT r = Receive(&got); r != ICERR_OK)
            return r;
    }

    ++runFrames_;
    if (delay_ > 0) {
        // The picture due now is the oldest one held, from the delay's frame
        // of the run on; when none has come, the last one stands in for it.
        got = false;
        if (runFrames_ > delay_ && !held_.empty()) {
            av_frame_unref(last_);
            av_frame_move_ref(last_, held_.front());
            av_frame_free(&held_.front());
            held_.pop_front();
            got = true;
        }
        if (hurry)
            return ICERR_OK;
        if (!got)
            return runFrames_ > delay_ ? ShowLast(request) : ICERR_DONTDRAW;
        return Convert(*last_, request);
    }
    if (hurry)
        return ICERR_OK;
    if (!got)
        return ICERR_DONTDRAW;
    return Convert(*last_, request);
}

// Takes every picture the decoder has ready. Without a delay the newest
// becomes the last picture; with one they join the queue. `got` tells
// whether any came.
LRESULT LavcCodec::Receive(bool* got) {
    for (;;) {
        int r = avcodec_receive_frame(context_, frame_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            break;
        if (r < 0) {
            keySeen_ = false;
            return ICERR_ERROR;
        }
        const bool damaged = frame_->decode_error_flags != 0 || (frame_->flags & AV_FRAME_FLAG_CORRUPT) != 0;
        if (damaged || (!keySeen_ && !frame_->key_frame)) {
            av_frame_unref(frame_);
            keySeen_ = false;
            return ICERR_ERROR;
        }
        keySeen_ = true;
        *got = true;
        if (delay_ == 0 && context_->has_b_frames <= 0) {
            av_frame_unref(last_);
            av_frame_move_ref(last_, frame_);
            continue;
        }
        AVFrame* early = av_frame_alloc();
        if (early == nullptr) {
            av_frame_unref(frame_);
            return ICERR_MEMORY;
        }
        av_frame_move_ref(early, frame_);
        held_.push_back(early);
        if (held_.size() > kMaxHeld) {
            av_frame_free(&held_.front());
            held_.pop_front();
        }
    }
    // The stream's headers tell the delay (for the first time with the first
    // key frame); it only grows within the instance.
    const int delay = context_->has_b_frames < 0 ? 0 : std::min(context_->has_b_frames, kMaxDelay);
    if (delay > delay_)
        delay_ = delay;
    return ICERR_OK;
}

LRESULT LavcCodec::ReorderDelay() {
    return delay_;
}

void LavcCodec::Flush() {
    if (context_ != nullptr)
        avcodec_flush_buffers(context_);
    ClearHeld();
    if (last_ != nullptr)
        av_frame_unref(last_);
    runFrames_ = 0;
    draining_ = false;
    keySeen_ = false;
}

LRESULT LavcCodec::ShowLast(const DecodeRequest& request) {
    if (last_ == nullptr || last_->data[0] == nullptr || !keySeen_)
        return ICERR_DONTDRAW;
    if (request.flags & ICDECOMPRESS_HURRYUP)
        return ICERR_OK;
    return Convert(*last_, request);
}

namespace {

// The full-range ("J") YUV formats are the plain ones read with the full
// range; saying so up front is what the scaler does for itself, without the
// warning it prints about them.
AVPixelFormat PlainYuv(AVPixelFormat format, bool* fullRange) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        *fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        *fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        *fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        *fullRange = true;
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        *fullRange = true;
        return AV_PIX_FMT_YUV411P;
    default:
        *fullRange = false;
        return format;
    }
}

} // namespace

bool LavcCodec::Scratch(std::size_t size) {
    if (size > bgrSize_) {
        av_free(bgr_);
        bgr_ = static_cast<std::uint8_t*>(av_malloc(size));
        bgrSize_ = bgr_ != nullptr ? size : 0;
    }
    return bgr_ != nullptr;
}

LRESULT LavcCodec::Convert(const AVFrame& frame, const DecodeRequest& request) {
    const int width = frame.width;
    const int height = frame.height;
    if (width <= 0 || height <= 0 || frame.data[0] == nullptr)
        return ICERR_ERROR;

    // Packed RGB and palette pictures go straight to the shared conversion,
    // which expands them exactly as the scaler would, without its passes.
    PixelPicture picture;
    picture.data = frame.data[0];
    picture.stride = frame.linesize[0];
    picture.width = width;
    picture.height = height;
    switch (frame.format) {
    case AV_PIX_FMT_BGR24:
        picture.layout = SourceLayout::Bgr24;
        return Put(picture, request);
    case AV_PIX_FMT_RGB24:
        picture.layout = SourceLayout::Rgb24;
        return Put(picture, request);
    case AV_PIX_FMT_RGB555LE:
        picture.layout = SourceLayout::Rgb555;
        return Put(picture, request);
    case AV_PIX_FMT_BGR0:
        picture.layout = SourceLayout::Bgrx32;
        return Put(picture, request);
    case AV_PIX_FMT_PAL8:
        // The palette is 256 native-endian 0xAARRGGBB words: in memory,
        // blue, green, red, alpha, which is an RGBQUAD.
        if (frame.data[1] == nullptr)
            return ICERR_ERROR;
        picture.layout = SourceLayout::Pal8;
        picture.colors = reinterpret_cast<const RGBQUAD*>(frame.data[1]);
        return Put(picture, request);
    default:
        break;
    }

    bool fullRange = false;
    const AVPixelFormat format = PlainYuv(static_cast<AVPixelFormat>(frame.format), &fullRange);
    if (sws_ == nullptr || swsWidth_ != width || swsHeight_ != height || swsFormat_ != frame.format ||
        swsColorspace_ != frame.colorspace || swsRange_ != frame.color_range) {
        sws_freeContext(sws_);
        yuv_.reset();
        sws_ = sws_getContext(width, height, format, width, height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr,
                              nullptr, nullptr);
        if (sws_ == nullptr)
            return ICERR_BADFORMAT;
        // The matrix and range follow the frame, as the command line's
        // scaler sets them.
        int* invTable = nullptr;
        int* table = nullptr;
        int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
        if (sws_getColorspaceDetails(sws_, &invTable, &srcRange, &table, &dstRange, &brightness, &contrast,
                                     &saturation) >= 0) {
            const int* coefficients = sws_getCoefficients(frame.colorspace);
            if (fullRange)
                srcRange = 1;
            if (frame.color_range != AVCOL_RANGE_UNSPECIFIED)
                srcRange = frame.color_range == AVCOL_RANGE_JPEG;
            sws_setColorspaceDetails(sws_, coefficients, srcRange, coefficients, dstRange, brightness,
                                     contrast, saturation);
            // Our own converter takes over exactly where the scaler would
            // take its unscaled vector path with the same arithmetic: 4:2:0
            // or 4:2:2 to 24 bits, an even number of rows, the default
            // picture controls. Elsewhere the scaler's other paths round
            // differently, and it keeps the picture.
            const bool plainControls = brightness == 0 && contrast == 1 << 16 && saturation == 1 << 16;
            if ((format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUV422P) && height % 2 == 0 &&
                plainControls && YuvToBgr::Available())
                yuv_.emplace(coefficients, srcRange != 0);
        }
        swsWidth_ = width;
        swsHeight_ = height;
        swsFormat_ = frame.format;
        swsColorspace_ = frame.colorspace;
        swsRange_ = frame.color_range;
    }

    const FrameTarget& target = request.target;
    const bool whole =
        request.xSrc == 0 && request.ySrc == 0 && request.width == width && request.height == height;
    if (yuv_) {
        YuvPicture yuv;
        for (int i = 0; i < 3; ++i) {
            yuv.planes[i] = frame.data[i];
            yuv.strides[i] = frame.linesize[i];
        }
        yuv.width = width;
        yuv.height = height;
        yuv.chromaRowShift = format == AV_PIX_FMT_YUV420P ? 1 : 0;
        // It writes the picture's own pixels and nothing else, so a whole
        // picture goes straight into any 24-bit frame it fits.
        if (target.bitCount == 24 && target.bits != nullptr && whole &&
            FrameConverter::FitsInFrame(target, width, height)) {
            std::ptrdiff_t step = 0;
            std::uint8_t* const top = FrameConverter::PictureTop(target, height, &step);
            yuv_->Convert(yuv, top, step);
            return ICERR_OK;
        }
        const int stride = width * 3;
        if (!Scratch(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height)))
            return ICERR_MEMORY;
        yuv_->Convert(yuv, bgr_, stride);
        picture.data = bgr_;
        picture.stride = stride;
        picture.layout = SourceLayout::Bgr24;
        return Put(picture, request);
    }

    // A whole picture at 24 bits into frame rows of its own width goes
    // straight into the frame when the scaler can do no harm there: its
    // vector code works in steps of up to 16 pixels and may write a little
    // past the end of a row, so the rows must have room for that many steps
    // (they always hold the picture's pixels alone, so the extra bytes land
    // in the row's own padding), and start on 16 bytes, as its fast paths
    // want. With that room it also converts the same pixels as for the
    // command line's padded frames, so the output is the same.
    // Read only once the frame is known to be writable, when it is positive.
    const auto rowBytes = static_cast<std::size_t>(DibStride(target.frameWidth, target.bitCount));
    const auto firstRow = reinterpret_cast<std::uintptr_t>(target.bits);
    if (target.bitCount == 24 && whole && target.x == 0 && target.frameWidth == width &&
        FrameConverter::FitsInFrame(target, width, height) &&
        rowBytes >= static_cast<std::size_t>(FFALIGN(width, 16)) * 3 && rowBytes % 16 == 0 &&
        firstRow % 16 == 0 && rowBytes <= static_cast<std::size_t>(INT32_MAX)) {
        std::ptrdiff_t step = 0;
        std::uint8_t* dst[4] = {FrameConverter::PictureTop(target, height, &step), nullptr, nullptr, nullptr};
        int dstStride[4] = {static_cast<int>(step), 0, 0, 0};
        return sws_scale(sws_, frame.data, frame.linesize, 0, height, dst, dstStride) == height ? ICERR_OK
                                                                                                : ICERR_ERROR;
    }

    // Otherwise the scaler's writes past a row must not land in the
    // caller's frame: it fills a private picture with slack behind every row
    // and after the last, which is then copied.
    const int stride = FFALIGN(width * 3 + 32, 64);
    if (!Scratch(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height + 1) + 64))
        return ICERR_MEMORY;
    std::uint8_t* dst[4] = {bgr_, nullptr, nullptr, nullptr};
    int dstStride[4] = {stride, 0, 0, 0};
    if (sws_scale(sws_, frame.data, frame.linesize, 0, height, dst, dstStride) != height)
        return ICERR_ERROR;
    picture.data = bgr_;
    picture.stride = stride;
    picture.layout = SourceLayout::Bgr24;
    return Put(picture, request);
}

void LavcCodec::Describe(ICINFO& info) {
    info.fccHandler = kLavcHandler;
    info.dwFlags = VIDCF_TEMPORAL;
    SetName(info.szName, "lavc");
    SetName(info.szDescription, "libavcodec video decoders");
}
