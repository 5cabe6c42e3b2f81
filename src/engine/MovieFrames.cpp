// Frame scheduling: which frame belongs on the screen now, and getting it
// there through the decoder with as little work as possible.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "engine/Movie.h"
#include "engine/MovieClock.h"
#include "video/VideoDecoder.h"

namespace {

// The system clock is a 32-bit millisecond count that may already be past
// 2^31 (it counts from boot), while playStartTime is a signed field that uses
// -1 for "not drawing". Start times are therefore kept in 31 bits and
// differences taken modulo 2^31, which is exact for any play shorter than 24
// days.
constexpr DWORD kClockMask = 0x7fffffff;

// Compressed frames larger than this are treated as unreadable rather than
// grown into: no real frame comes near it, and it bounds what a damaged
// index can make the player allocate.
constexpr LONG kMaxFrameBuffer = 256 * 1024 * 1024;

// FeedFrame's answer when a frame could not be read; no codec answers it.
constexpr LONG kUnreadable = INT32_MIN;

// ReadFrame's answer when the frame could not be read into the buffer.
constexpr LONG kReadFailed = -1;

// PrepareFrame's answers: the decoder is up to the frame, which is drawn
// now; or the frame is skipped because the next key frame is nearer.
constexpr LONG kDrawNow = 1;
constexpr LONG kLeaveUndrawn = 0;

} // namespace

LONG Movie::BeginDrawing(HDC dc, LONG frame) {
    if (!decoder)
        return kNoDecoder;
    if (!dc)
        return kNoDrawContext;
    // A cycle still open would leave the decoder's drawing objects behind.
    if (drawDC)
        EndDrawing();
    drawDC = dc;
    if (frame >= 0)
        position = frame;
    if (decoder->BeginDraw(dc, frameRate) != 0) {
        EndDrawing();
        return kDecoderFailed;
    }
    if (playing)
        decoder->StartCodecClock(frameRate);
    framePending = false;
    playStartTime = static_cast<LONG>(SystemTime() & kClockMask);
    playStartStreamTime = FrameToTime(position);
    prevDrawnFrame = position;
    return kOk;
}

LONG Movie::EndDrawing() {
    if (!drawDC)
        return kNoDrawContext;
    // A picture decoded ahead is shown rather than dropped: `position`
    // already names it, and the screen should too when the play stops.
    PresentFrame();
    if (decoder) {
        decoder->StopCodecClock();
        decoder->EndDraw();
    }
    playStartTime = -1;
    drawDC = nullptr;
    return kOk;
}

LONG Movie::CurrentStreamTime() {
    LONG now = clock ? clock->AudioTime(*this) : AudioClock();
    if (now < 0) {
        const DWORD elapsed = ((SystemTime() & kClockMask) - static_cast<DWORD>(playStartTime)) & kClockMask;
        now = static_cast<LONG>(elapsed) + playStartStreamTime;
    }
    return now;
}

LONG Movie::NextFrameDueTime() const {
    return FrameDueTime(position + 1);
}

LONG Movie::FrameDueTime(LONG frame) const {
    // Start from the library's start time of the frame and settle on the
    // earliest millisecond that TimeToFrame maps to it, whatever rounding the
    // two conversions use.
    LONG t = FrameToTime(frame);
    for (int i = 0; i < 64 && TimeToFrame(t) < frame; ++i)
        ++t;
    for (int i = 0; i < 64 && t > 0 && TimeToFrame(t - 1) >= frame; ++i)
        --t;
    return t;
}

LONG Movie::ReadFrame(LONG frame) {
    LONG bytes = 0;
    LONG samples = 0;
    HRESULT hr = AVIStreamRead(videoStream, frame, 1, frameBuffer.get(), frameBufferSize, &bytes, &samples);
    if (hr == AVIERR_BUFFERTOOSMALL) {
        // A compressed frame may exceed the size of the decoded picture (noise
        // compresses badly); grow once to its size instead of never showing it.
        LONG needed = 0;
        if (AVIStreamRead(videoStream, frame, 1, nullptr, 0, &needed, nullptr) != AVIERR_OK ||
            needed <= frameBufferSize || needed > kMaxFrameBuffer)
            return kReadFailed;
        std::unique_ptr<BYTE[]> grown(new (std::nothrow) BYTE[static_cast<std::size_t>(needed)]);
        if (!grown)
            return kReadFailed;
        frameBuffer = std::move(grown);
        frameBufferSize = needed;
        hr = AVIStreamRead(videoStream, frame, 1, frameBuffer.get(), frameBufferSize, &bytes, &samples);
    }
    if (hr != AVIERR_OK || samples != 1)
        return kReadFailed;
    return bytes;
}

void Movie::ApplyFormatAt(LONG frame) {
    if (formatFrame == kNoFormatChanges)
        return;
    // Palette changes are few: the table is read again only when the frame
    // lies under another change than the one applied, which also brings the
    // earlier palette back after a seek backwards.
    const LONG from = AVIStreamFindSample(videoStream, frame, FIND_PREV | FIND_FORMAT);
    if (from < 0 || from == formatFrame)
        return;
    FormatBlock block{};
    LONG size = sizeof block;
    if (AVIStreamReadFormat(videoStream, frame, &block, &size) != AVIERR_OK)
        return;
    const DWORD colors = PaletteColors(block.header, size);
    if (colors != 0)
        decoder->SetInputColors(block.colors, colors);
    formatFrame = from;
}

LONG Movie::ShowFrame(LONG leadMs) {
    if (!decoder)
        return kNoDecoder;
    if (playStartTime < 0)
        return kNotDrawing;
    LONG now = 0;
    if (playing) {
        now = CurrentStreamTime();
        LONG frame = TimeToFrame(now + std::max<LONG>(leadMs, 0));
        if (frame > lastFrame)
            frame = lastFrame;
        if (frame < firstFrame)
            frame = firstFrame;
        position = frame;
        if (position == decodedFrame)
            return kOk;
    } else {
        if (position > lastFrame)
            position = lastFrame;
        if (position == decodedFrame)
            decodedFrame = -1;
    }
    // A newer frame replaces one still held back.
    framePending = false;
    decoder->runStart = -1;
    if (PrepareFrame() == kLeaveUndrawn)
        return kOk;
    const bool held = playing && leadMs > 0;
    const Picture picture = held ? Picture::kHeld : Picture::kDrawn;
    LONG r = FeedFrame(position, picture, 0);
    // The B-frames that an open group stores after its key frame show before
    // it and need the group before: decoded from that key frame, they do not
    // come out. They are reached again from the key frame before.
    const LONG runStart = decoder->runStart;
    if (r != 0 && r != kUnreadable && decoder->reorderDelay > 0 && runStart > firstFrame) {
        const LONG key = AVIStreamFindSample(videoStream, runStart - 1, FIND_PREV | FIND_KEY);
        if (key >= firstFrame && key < runStart) {
            const DWORD flags = playing ? ICDECOMPRESS_HURRYUP : 0;
            decoder->fedChunk = -1;
            LONG i = key;
            while (i < position && FeedFrame(i, Picture::kUndrawn, flags) != kUnreadable)
                ++i;
            r = FeedFrame(position, picture, 0);
        }
    }
    if (r == kUnreadable)
        return kFrameUnreadable;
    if (r != 0)
        return kDecoderFailed;
    decodedFrame = position.load();
    if (playing) {
        skippedFrames += position - prevDrawnFrame - 1;
        prevDrawnFrame = position;
    }
    if (held) {
        framePending = true;
        pendingDue = FrameDueTime(position);
        if (pendingDue <= now)
            return PresentFrame();
    }
    return kOk;
}

LONG Movie::PresentFrame() {
    if (!framePending)
        return kOk;
    framePending = false;
    if (!decoder || !drawDC)
        return kNotDrawing;
    return decoder->PresentFrame() == 0 ? kOk : kDecoderFailed;
}

LONG Movie::PrepareFrame() {
    const LONG target = position;
    if (decodedFrame > target)
        decodedFrame = -1;
    if (target - decodedFrame == 1)
        return kDrawNow;
    if (AVIStreamFindSample(videoStream, target, FIND_PREV | FIND_KEY) == target) {
        prevKeyFrame = target;
        nextKeyFrame = AVIStreamFindSample(videoStream, target + 1, FIND_NEXT | FIND_KEY);
        return kDrawNow;
    }
    if (target - decodedFrame == 2) {
        CatchUp();
        return kDrawNow;
    }
    if (nextKeyFrame < target || prevKeyFrame > target) {
        prevKeyFrame = AVIStreamFindSample(videoStream, target - 1, FIND_PREV | FIND_KEY);
        nextKeyFrame = AVIStreamFindSample(videoStream, target + 1, FIND_NEXT | FIND_KEY);
    }
    const long long back = std::llabs(static_cast<long long>(target) - prevKeyFrame);
    const long long ahead = std::llabs(static_cast<long long>(target) - nextKeyFrame);
    if (back <= ahead || !playing) {
        CatchUp();
        return kDrawNow;
    }
    return kLeaveUndrawn;
}

void Movie::CatchUp() {
    // Start at the key frame when it lies between the decoded frame and the
    // target. A cached key frame beyond the target is stale (the position went
    // back without passing the first frame) and must not skip the frames
    // that the target depends on.
    if (decodedFrame < prevKeyFrame && prevKeyFrame <= position)
        decodedFrame = prevKeyFrame - 1;
    const DWORD flags = playing ? ICDECOMPRESS_HURRYUP : 0;
    for (LONG i = decodedFrame + 1; i < position; ++i) {
        if (FeedFrame(i, Picture::kUndrawn, flags) == kUnreadable)
            break;
        decodedFrame = i;
    }
}

LONG Movie::FeedFrame(LONG frame, Picture picture, DWORD flags) {
    // A codec with a reorder delay gives the picture of a frame when it is
    // fed the chunk `delay` frames on (Vfw.h), so that is the chunk fed for
    // the frame; past the last chunk, empty frames drain the pictures it
    // holds back. A chunk that does not follow the one fed last starts a
    // new run at `frame` (the callers pick a key frame) with the chunks up to
    // the frame's own fed first, undrawn. The delay is learnt from the first
    // chunks, so it is asked again after each one, and a larger answer means
    // more chunks for the same frame. Without a delay this is one chunk read
    // and decoded, as it always was.
    VideoDecoder& d = *decoder;
    if (d.fedChunk != static_cast<long long>(frame) + d.reorderDelay - 1) {
        if (d.reorderDelay > 0)
            d.FlushCodec();
        d.runStart = frame;
        d.fedChunk = frame - 1;
    }
    for (;;) {
        const long long chunk = d.fedChunk + 1;
        const bool own = chunk >= static_cast<long long>(frame) + d.reorderDelay;
        DWORD chunkFlags = own ? flags : ICDECOMPRESS_HURRYUP;
        LONG bytes = 0;
        if (chunk > lastFrame) {
            chunkFlags |= ICDECOMPRESS_ENDOFSTREAM;
        } else {
            bytes = ReadFrame(static_cast<LONG>(chunk));
            if (bytes < 0)
                return kUnreadable;
            // The colour table in effect for the chunk decoded now.
            ApplyFormatAt(static_cast<LONG>(chunk));
        }
        const auto data = frameBuffer.get();
        const auto size = static_cast<DWORD>(bytes);
        LONG r;
        if (!own || picture == Picture::kUndrawn)
            r = d.DecodeWithoutDraw(data, size, chunkFlags);
        else if (picture == Picture::kHeld)
            r = d.DecodeFrame(data, size, chunkFlags);
        else
            r = d.DrawFrame(data, size, chunkFlags);
        d.fedChunk = chunk;
        d.UpdateReorderDelay();
        if (chunk >= static_cast<long long>(frame) + d.reorderDelay)
            return r;
    }
}
