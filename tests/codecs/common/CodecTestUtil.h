// What the codec tests share: reading an AVI's video frames, decoding them
// through the codec layer at a chosen depth, hashing frames, and asking the
// ffmpeg command line for its own per-frame hashes.
#pragma once

#include "platform/vfw/Vfw.h"

#include <string>
#include <vector>

namespace cadmo::test {

struct AviVideo {
    std::vector<BYTE> format; // the whole stream format
    FOURCC handler = 0;       // the stream header's handler
    std::vector<std::vector<BYTE>> frames;
    std::vector<bool> keys;

    const BITMAPINFOHEADER& Header() const {
        return *reinterpret_cast<const BITMAPINFOHEADER*>(format.data());
    }
};

// The first video stream of an AVI file; false when it cannot be read.
bool ReadAviVideo(const std::string& path, AviVideo& out);

// An output frame: header, colour table, pixels (bottom-up, padded rows).
struct OutputFrame {
    std::vector<BYTE> header; // BITMAPINFOHEADER + 256 RGBQUAD
    std::vector<BYTE> bits;

    BITMAPINFOHEADER& Header() { return *reinterpret_cast<BITMAPINFOHEADER*>(header.data()); }
    const RGBQUAD* Colors() const { return reinterpret_cast<const RGBQUAD*>(header.data() + 40); }
};
OutputFrame MakeOutputFrame(LONG width, LONG height, WORD bitCount);

// Sends one ICM_DECOMPRESSEX of the whole picture to the frame's corner,
// with the source header's biSizeImage set to the frame's size. An index
// past the last frame sends an empty frame flagged ICDECOMPRESS_ENDOFSTREAM.
LRESULT DecodeFrame(HIC hic, const AviVideo& video, std::size_t index, OutputFrame& out, DWORD flags = 0);

// Rows of a bottom-up padded frame turned top-down and unpadded.
std::vector<BYTE> TopDownRows(const OutputFrame& frame);

// The md5 column of `ffmpeg -i path -f framemd5 -pix_fmt <pixfmt>`, one per
// frame; empty when ffmpeg fails. Frame n is the picture numbered n more
// than ffmpeg's first; a number ffmpeg skips repeats the picture before.
std::vector<std::string> FfmpegFrameHashes(const std::string& path, const std::string& pixfmt);

// Rewrites an MPEG-4 part 2 stream with single B-frames in the packed layout
// of older encoders: a reference frame's chunk also carries the B-frame
// stored after it, whose own chunk keeps a not-coded placeholder, and the
// first chunk says so in the user data decoders look for. Key flags, format
// and handler are kept. False when the file cannot be written.
bool WritePackedBFrames(const AviVideo& video, const std::string& path);

// Runs ffmpeg with the given arguments after "-y -v error"; true on success.
bool Ffmpeg(const std::string& arguments);

} // namespace cadmo::test
