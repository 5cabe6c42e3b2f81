// Tells key frames from delta frames by looking at the start of a compressed
// frame, for formats where that is cheap and certain: MPEG-4 part 2 (the
// coding type of the first VOP) and H.264 in Annex B form (an IDR slice).
// Used only when an index has to be rebuilt and the file's own key flags are
// lost.
#pragma once

#include "platform/win32/Types.h"

#include <cstddef>

class AviKeyFrameSniffer {
public:
    enum class Kind { None, Mpeg4, H264 };
    enum class Answer { Key, Delta, Unknown };

    // The bitstream family of a stream, from its compression FOURCC (or its
    // handler when the compression says nothing); None when not sniffable.
    static Kind KindOf(FOURCC handler, DWORD compression);
    // Bytes of a frame's start that Sniff needs to decide.
    static constexpr std::size_t kPrefixBytes = 256;
    static Answer Sniff(Kind kind, const BYTE* data, std::size_t size);
};
