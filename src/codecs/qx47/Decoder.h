// The qx47 frame decoder: bit stream in, YCbCr picture out. Pure C++, no
// codec-message machinery; the driver (Qx47Driver) wraps it.
//
// The decoder keeps the reference picture, built from the base layer only
// and used to predict the next frame, and a display picture, which is the
// reference plus whatever refinement was decoded (for streams without
// refinement the reference is shown directly). Dropping a refinement
// layer therefore makes the shown picture coarser for the macroblocks that
// frame touched, and never disturbs later frames.
//
// A frame is decoded in two steps, DecodeBase and then (optionally)
// DecodeRefinement, so that a caller with a time budget can decide between
// them. Not thread-safe; one decoder per stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codecs/qx47/FrameFormat.h"
#include "codecs/qx47/Picture.h"

namespace qx47 {

class Decoder {
public:
    enum class Status {
        Ok,
        Locked,      // keyed frame without the right key: the display is neutral grey
        BadFrame,    // malformed, truncated or the wrong size; nothing valid to show
        NoReference, // a delta frame with no decoded key frame before it
    };

    // Sets the picture size and forgets any reference.
    bool Configure(int width, int height);
    int Width() const { return width_; }
    int Height() const { return height_; }

    // `key` is used only when `keyGiven`.
    Status DecodeBase(const std::uint8_t* data, std::size_t size, bool keyGiven, std::int32_t key);
    // Bytes of refinement that the last successful DecodeBase left pending.
    std::size_t PendingRefinementBytes() const { return refineSize_; }
    Status DecodeRefinement();

    const Picture& Display() const { return displayIsRef_ ? ref_ : display_; }
    bool HasReference() const { return hasReference_; }

    // Transparency of the last frame. Cover() has one kCover* per macroblock;
    // MaskRow() one byte per pixel (1 opaque) for mixed macroblocks.
    bool Transparent() const { return transparent_; }
    const std::vector<std::uint8_t>& Cover() const { return cover_; }
    const std::uint8_t* MaskRow(int y) const {
        return mask_.data() + static_cast<std::size_t>(y) * mbCols_ * 16;
    }
    const std::uint8_t* KeyColor() const { return keyColor_; }
    // Smallest rectangle holding every opaque pixel of the last frame, in
    // picture pixels; empty (w = h = 0) when nothing is opaque.
    void OpaqueBounds(int& x, int& y, int& w, int& h) const;

    int MacroblockColumnCount() const { return mbCols_; }

    // Change tracking, for callers that keep an output picture up to date:
    // Serial() grows with every picture change, and ChangedAt()[mb] is the
    // serial at which macroblock mb's shown pixels last changed.
    std::uint32_t Serial() const { return serial_; }
    const std::uint32_t* ChangedAt() const { return changedAt_.data(); }

private:
    bool DecodeMask(const std::uint8_t* data, std::size_t size);
    void MarkAllChanged();
    bool DecodeBaseLayer(const std::uint8_t* data, std::size_t size, bool keyFrame);
    // The macroblock loop of DecodeBaseLayer; `filled` is how many leading
    // macroblocks of the reference are complete.
    bool DecodeMacroblocks(const std::uint8_t* data, std::size_t size, bool keyFrame, int& filled);
    // Copies the skipped macroblocks [first, last) from prev_ to ref_, those
    // that differ only.
    void CopySkipped(int first, int last);

    int width_ = 0, height_ = 0, mbCols_ = 0, mbRows_ = 0;
    Picture ref_;  // decoded in place, macroblock by macroblock
    Picture prev_; // the reference as the frame before left it: what motion predicts from
                   // (swapped with ref_ at each delta frame)
    Picture display_;
    bool displayIsRef_ = true; // no refinement in the last frame: show the reference itself
    bool hasReference_ = false;
    FrameHeader header_;
    std::vector<std::uint8_t> scratch_; // descrambled payload of a keyed frame
    std::vector<int> coded_;            // macroblocks the base layer coded this frame
    // Per macroblock, 1 when ref_ and prev_ may differ there; with
    // allStale_, all of them. Only the last frame's coded macroblocks do
    // after a delta frame, so a skipped macroblock is otherwise already in
    // place in the picture the swap brings back.
    std::vector<std::uint8_t> stale_;
    bool allStale_ = true;
    const std::uint8_t* refineData_ = nullptr;
    std::size_t refineSize_ = 0;
    bool transparent_ = false;
    std::vector<std::uint8_t> cover_;
    std::vector<std::uint8_t> mask_;
    std::uint8_t keyColor_[3] = {0, 0, 0};
    std::uint32_t serial_ = 0;
    std::vector<std::uint32_t> changedAt_;
};

} // namespace qx47
