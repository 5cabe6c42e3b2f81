#include "codecs/lavc/LavcCodecMap.h"

#include "platform/vfw/Vfw.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <map>

namespace {

// A tag listed twice must not lead to two decoders depending on the order,
// and every listed decoder should exist in the library we build against.
// Plain bitmaps and our own codec are left to their own drivers.
TEST(LavcCodecMap, TagsAreUniqueDecodersMostlyPresentAndBitmapsLeftAlone) {
    std::map<DWORD, int> seen;
    int missing = 0;
    for (int i = 0; i < LavcCodecMap::Count(); ++i) {
        FOURCC tag = LavcCodecMap::TagAt(i);
        DWORD lower = tag | 0x20202020u;
        EXPECT_EQ(seen.count(lower), 0u) << "tag listed twice at " << i;
        seen[lower] = i;
        missing += avcodec_find_decoder(LavcCodecMap::Lookup(tag)) == nullptr;
    }
    EXPECT_LE(missing, LavcCodecMap::Count() / 10);
    EXPECT_EQ(LavcCodecMap::Lookup(BI_RGB), AV_CODEC_ID_NONE);
    EXPECT_EQ(LavcCodecMap::Lookup(mmioFOURCC('q', 'x', '4', '7')), AV_CODEC_ID_NONE);
}

} // namespace
