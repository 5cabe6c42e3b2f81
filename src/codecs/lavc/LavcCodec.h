// The libavcodec driver: every video FourCC of LavcCodecMap, decoded by
// libavcodec and turned into BGR with the flags and colour matrix the ffmpeg
// command line uses (bicubic; the frame's own matrix and range). So 24-bit
// output is the same picture "ffmpeg -pix_fmt bgr24" gives, row for row.
//
// State between frames. The decoder lives from the first begin to the end
// of the instance (or to a begin with another input format), so a delta
// frame builds on the frame fed before it, across drawing cycles. Until the
// decoder has produced a key frame (after it is created, or after any
// failed frame), a frame that is not a key frame answers ICERR_ERROR and the
// destination is left alone: fed from the middle of a group of frames, the
// driver reports failure instead of showing a picture built on missing
// references. A frame the decoder flags as damaged also answers ICERR_ERROR.
//
// ICDECOMPRESS_HURRYUP decodes (keeping the state) but skips the colour
// conversion. A 0-byte frame shows the last picture again (ICERR_DONTDRAW
// when there is none yet). A frame after which a decoder without a delay has
// no picture to give (the frame was an empty placeholder) answers
// ICERR_DONTDRAW and leaves the destination alone; so do the first frames of
// a run of a reordering decoder, below.
//
// Reordering (B-frames). A decoder that holds pictures back (MPEG-4 part 2
// and H.264 with B-frames; libavcodec's has_b_frames) reports that number
// through ICM_DECOMPRESS_GET_DELAY, as Vfw.h describes, and the driver keeps
// to it exactly: pictures the decoder gives early wait in a queue, and from
// the delay's frame of a run on every frame takes the oldest picture. A
// picture that does not come when due (a frame the encoder dropped, or a
// B-frame before its key frame that cannot be decoded) shows the last one
// again (ICERR_DONTDRAW when the run has none yet), so the pictures that
// follow stay at their frames. 0-byte frames
// flagged ICDECOMPRESS_ENDOFSTREAM drain the decoder; a real frame after a
// drain, or ICM_DECOMPRESS_FLUSH, starts a new run. A decoder without a delay
// is not affected: its frame shows the newest picture it gave, as before.
//
// Pictures in packed RGB or palette formats (Cinepak, MS Video 1, RLE...)
// are converted by the shared code directly. Planar 4:2:0 and 4:2:2
// pictures of an even number of rows, the common output of the YUV decoders,
// go through our own converter (YuvToBgr), which repeats the arithmetic of
// the scaler's path for them and writes only the picture's pixels, straight
// into any 24-bit frame the whole picture fits. Other YUV pictures, and all
// of them on a processor without AVX2, go through libswscale, straight into
// a 24-bit frame whose rows hold the picture alone and leave room for the
// scaler's steps of 16 pixels, else into a private picture first (the scaler
// may write past the end of a row, which must not land in the rest of the
// caller's frame).
//
// Codec data and palette: whatever the stream format carries after the
// 40-byte header (extradata) and its colour table (palette codecs) are
// taken from ICM_DECOMPRESS_QUERY, which sees the whole format (Vfw.h), and
// used by the decoder created at the next begin for the same format. A
// decode message whose header carries a colour table (biClrUsed entries)
// gives the palette in effect for its frame; when it differs from the one
// the decoder has, it goes to the decoder with that frame (libavcodec's
// palette side data), so a palette change of the movie takes effect there.
//
// Decoding uses one thread, so frames come out in step with the messages.
#pragma once

#include "codecs/common/DecoderInstance.h"
#include "pixel/YuvToBgr.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

constexpr FOURCC kLavcHandler = mmioFOURCC('L', 'A', 'V', 'C');

class LavcCodec : public DecoderInstance {
public:
    explicit LavcCodec(DWORD openHandler);
    ~LavcCodec() override;
    LavcCodec(const LavcCodec&) = delete;
    LavcCodec& operator=(const LavcCodec&) = delete;

    static LRESULT DriverProc(DWORD_PTR id, HDRVR hdrvr, UINT msg, LPARAM lParam1, LPARAM lParam2) {
        return DecoderInstance::DriverProc<LavcCodec>(id, hdrvr, msg, lParam1, lParam2);
    }

protected:
    LRESULT CheckInput(const BITMAPINFOHEADER& in) override;
    void NoteStreamFormat(const BITMAPINFOHEADER& in) override;
    LRESULT Begin(const BITMAPINFOHEADER& in) override;
    LRESULT Decode(const BITMAPINFOHEADER& in, const DecodeRequest& request) override;
    void Describe(ICINFO& info) override;
    LRESULT ReorderDelay() override;
    void Flush() override;

private:
    int CodecIdFor(const BITMAPINFOHEADER& in) const;
    void CloseDecoder();
    LRESULT ShowLast(const DecodeRequest& request);
    LRESULT Receive(bool* got);
    void ClearHeld();
    LRESULT Convert(const AVFrame& frame, const DecodeRequest& request);
    // Makes the scratch picture hold at least `size` bytes.
    bool Scratch(std::size_t size);

    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVFrame* last_ = nullptr;   // the last good picture, for repeats
    SwsContext* sws_ = nullptr; // for the picture size, format and matrix below
    int swsWidth_ = 0;
    int swsHeight_ = 0;
    int swsFormat_ = -1;
    int swsColorspace_ = -1;
    int swsRange_ = -1;
    std::optional<YuvToBgr> yuv_; // takes the scaler's place where it gives the same bytes
    bool keySeen_ = false;
    bool paletteSent_ = false;

    int delay_ = 0;             // the largest reorder delay seen, capped
    long long runFrames_ = 0;   // frames fed since the run began
    bool draining_ = false;     // the decoder has been told the stream ended
    std::deque<AVFrame*> held_; // pictures given before they are due

    BITMAPINFOHEADER noted_{}; // the stream format last seen whole
    std::vector<std::uint8_t> extradata_;
    std::vector<std::uint32_t> streamPalette_; // ARGB, empty when none
    AVBufferRef* input_ = nullptr;             // the frame, with the decoder's zero padding
    std::uint8_t* bgr_ = nullptr;              // aligned scratch picture
    std::size_t bgrSize_ = 0;
};
