// The frame layout of a qx47 stream (docs/qx47.md describes it in full).
//
// Every frame starts with a 32-byte header, little-endian:
//    0 u8  version (1 or 2)     1 u8  flags (kFlag*)
//    2 u8  base quantiser       3 u8  refinement quantiser
//    4 u16 width                6 u16 height
//    8 u32 key check (0 unless keyed)
//   12 u32 nonce (frame counter; seeds the scrambler)
//   16 u32 mask bytes          20 u32 base bytes       24 u32 refinement bytes
//   28 u8[3] key colour (R, G, B)   31 u8 reserved (0)
// followed by the mask section, the base layer and the refinement layer, in
// that order and of the sizes given. A keyed frame has all three scrambled.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qx47 {

// Version 2 added sample-coded blocks (a flag bit at the start of every intra
// macroblock); version 1 frames, without them, are still read.
constexpr std::uint8_t kBitstreamVersion = 2;
constexpr std::uint8_t kOldestBitstreamVersion = 1;
constexpr std::size_t kFrameHeaderSize = 32;
constexpr int kMaxDimension = 4096;

enum FrameFlags : std::uint8_t {
    kFlagKeyFrame = 0x01,   // intra only; resets the reference picture
    kFlagMask = 0x02,       // a transparency mask section is present
    kFlagKeyed = 0x04,      // payload scrambled with an access key
    kFlagRefinement = 0x08, // a refinement layer is present
};
constexpr std::uint8_t kKnownFlags = 0x0f;

struct FrameHeader {
    std::uint8_t version = kBitstreamVersion;
    std::uint8_t flags = 0;
    std::uint8_t baseQuant = 0;
    std::uint8_t refineQuant = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint32_t keyCheck = 0;
    std::uint32_t nonce = 0;
    std::uint32_t maskBytes = 0;
    std::uint32_t baseBytes = 0;
    std::uint32_t refineBytes = 0;
    std::uint8_t keyColor[3] = {0, 0, 0};
};

void WriteFrameHeader(const FrameHeader& h, std::uint8_t out[kFrameHeaderSize]);
// Reads the header and checks that it is self-consistent and that the three
// sections fit in `size` bytes. Does not check the dimensions against a stream.
bool ReadFrameHeader(const std::uint8_t* data, std::size_t size, FrameHeader& h);

// The value a keyed frame carries so that a decoder can tell the right key
// from a wrong one without trying to decode. Never 0.
std::uint32_t KeyCheck(std::int32_t key);
// XORs `size` bytes with a keystream derived from the key and the nonce; its
// own inverse. This hides the picture from a player without the key; it is
// not encryption and protects nothing against a determined reader.
void Scramble(std::uint8_t* data, std::size_t size, std::int32_t key, std::uint32_t nonce);

// Macroblock grid of a picture: 16x16 luma with two 8x8 chroma blocks.
inline int MacroblockColumns(int width) {
    return (width + 15) / 16;
}
inline int MacroblockRows(int height) {
    return (height + 15) / 16;
}

// Sample-coded blocks of intra macroblocks: an 8-bit base, a 3-bit index
// width n, and when n > 0 the step minus one (8 bits) and 64 n-bit indices
// in raster order; sample = min(base + index x step, 255).
constexpr int kSampleMaxWidth = 7;

// Mask section: two bits per macroblock (raster order), then 32 bytes (one bit
// per pixel, rows top-down, most significant bit first) for every mixed one.
enum MacroblockCover : std::uint8_t { kCoverOpaque = 0, kCoverTransparent = 1, kCoverMixed = 2 };

} // namespace qx47
