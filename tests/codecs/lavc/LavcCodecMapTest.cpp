#include "codecs/lavc/LavcCodecMap.h"

#include "platform/vfw/Vfw.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <map>

namespace {

// Tags not in the files the frame tests decode; what the library decoders
// must not take: plain bitmaps and our own codec.
TEST(LavcCodecMap, TagsInAnyCaseAndWhatIsLeftToOtherCodecs) {
    EXPECT_EQ(LavcCodecMap::Lookup(mmioFOURCC('C', 'V', 'I', 'D')), AV_CODEC_ID_CINEPAK);
    EXPECT_EQ(LavcCodecMap::Lookup(mmioFOURCC('a', 'v', 'c', '1')), AV_CODEC_ID_H264);
    EXPECT_EQ(LavcCodecMap::Lookup(mmioFOURCC('w', 'h', 'a', 'm')), AV_CODEC_ID_MSVIDEO1);
    EXPECT_EQ(LavcCodecMap::Lookup(BI_RGB), AV_CODEC_ID_NONE);
    EXPECT_EQ(LavcCodecMap::Lookup(mmioFOURCC('q', 'x', '4', '7')), AV_CODEC_ID_NONE);
}

// A tag listed twice must not lead to two decoders depending on the order,
// and every listed decoder should exist in the library we build against.
TEST(LavcCodecMap, TagsAreUniqueAndDecodersMostlyPresent) {
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
}

} // namespace
