#include "platform/avi/AviKeyFrameSniffer.h"

#include <initializer_list>

namespace {

FOURCC Lower(FOURCC f) {
    FOURCC out = 0;
    for (int i = 0; i < 4; ++i) {
        BYTE c = static_cast<BYTE>(f >> (8 * i));
        if (c >= 'A' && c <= 'Z')
            c = static_cast<BYTE>(c - 'A' + 'a');
        out |= static_cast<FOURCC>(c) << (8 * i);
    }
    return out;
}

bool OneOf(FOURCC f, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (Lower(f) == mmioFOURCC(n[0], n[1], n[2], n[3]))
            return true;
    return false;
}

// Next 00 00 01 start code at or after i; returns the index of the byte after
// it, or size when there is none.
std::size_t NextStartCode(const BYTE* d, std::size_t size, std::size_t i) {
    for (; i + 3 <= size; ++i)
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1)
            return i + 3;
    return size;
}

} // namespace

AviKeyFrameSniffer::Kind AviKeyFrameSniffer::KindOf(FOURCC handler, DWORD compression) {
    const FOURCC f = compression > 0xff ? compression : handler;
    if (OneOf(f, {"xvid", "divx", "dx50", "fmp4", "mp4v", "3iv2", "dxgm", "m4s2"}))
        return Kind::Mpeg4;
    if (OneOf(f, {"h264", "x264", "avc1", "davc", "vssh"}))
        return Kind::H264;
    return Kind::None;
}

AviKeyFrameSniffer::Answer AviKeyFrameSniffer::Sniff(Kind kind, const BYTE* d, std::size_t size) {
    if (kind == Kind::Mpeg4) {
        // The first VOP decides: vop_coding_type is the top two bits after
        // the 00 00 01 B6 start code (0 = intra).
        for (std::size_t i = NextStartCode(d, size, 0); i < size; i = NextStartCode(d, size, i)) {
            if (d[i] == 0xb6) {
                if (i + 1 >= size)
                    return Answer::Unknown;
                return (d[i + 1] >> 6) == 0 ? Answer::Key : Answer::Delta;
            }
        }
        return Answer::Unknown;
    }
    if (kind == Kind::H264) {
        // Parameter sets and SEI may come first; the first slice decides.
        for (std::size_t i = NextStartCode(d, size, 0); i < size; i = NextStartCode(d, size, i)) {
            const int type = d[i] & 0x1f;
            if (type == 5)
                return Answer::Key;
            if (type >= 1 && type <= 4)
                return Answer::Delta;
        }
        return Answer::Unknown;
    }
    return Answer::Unknown;
}
