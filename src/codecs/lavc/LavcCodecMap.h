// Which libavcodec decoder handles a video FourCC from an AVI file.
//
// Our own table of the tags that AVI files in circulation carry (the codec
// library's demuxer has the same knowledge, but it is not a dependency of
// ours). Matching ignores the case of letters, since writers disagree on it
// ("cvid" / "CVID", "xvid" / "XVID"). The numeric compression codes 1 and 2
// (BI_RLE8, BI_RLE4) map to the Microsoft RLE decoder.
#pragma once

#include "platform/win32/Types.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

class LavcCodecMap {
public:
    // AV_CODEC_ID_NONE when the tag is not in the table.
    static AVCodecID Lookup(FOURCC tag);

    // Number of entries, and entry i's tag; for tests and listings.
    static int Count();
    static FOURCC TagAt(int index);
};
