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
// with the source header's biSizeImage set to the frame's size.
LRESULT DecodeFrame(HIC hic, const AviVideo& video, std::size_t index, OutputFrame& out, DWORD flags = 0);

// Rows of a bottom-up padded frame turned top-down and unpadded.
std::vector<BYTE> TopDownRows(const OutputFrame& frame);

std::string Md5Hex(const std::vector<BYTE>& bytes);

// The md5 column of `ffmpeg -i path -f framemd5 -pix_fmt <pixfmt>`, one per
// frame; empty when ffmpeg fails.
std::vector<std::string> FfmpegFrameHashes(const std::string& path, const std::string& pixfmt);

// Runs ffmpeg with the given arguments after "-y -v error"; true on success.
bool Ffmpeg(const std::string& arguments);

} // namespace cadmo::test
