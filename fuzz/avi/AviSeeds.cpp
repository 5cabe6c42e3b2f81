// Writes the seed inputs of the AVI fuzz target into a folder: small files of
// each layout the reader handles (idx1, OpenDML, no index, 'rec ' groups),
// and compressed sound for the decoder behind it (MP3 frames, IMA ADPCM
// blocks).
#include "platform/avi/AviRiff.h"
#include "support/RiffBuilder.h"
#include "support/TestAvi.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace cadmo::test;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: cadmo-fuzz-avi-seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;

    TestAviSpec plain;
    plain.width = 4;
    plain.height = 2;
    plain.frames = 6;
    plain.sampleRate = 300;
    plain.keys = {true, false, false, true, false, false};
    plain.start = 2;
    ok = ok && WriteTestAvi(dir + "/plain.avi", plain) == AVIERR_OK;

    // A stream that ends on the last frame number there is.
    TestAviSpec lastNumber = plain;
    lastNumber.start = 0x7fffffff - 6;
    ok = ok && WriteTestAvi(dir + "/lastnumber.avi", lastNumber) == AVIERR_OK;

    TestAviSpec noIndex = plain;
    noIndex.options.writeIdx1 = false;
    noIndex.compression = noIndex.handler = mmioFOURCC('X', 'V', 'I', 'D');
    noIndex.frameSizes = {9, 0, 3, 7, 0, 5};
    ok = ok && WriteTestAvi(dir + "/noindex.avi", noIndex) == AVIERR_OK;

    TestAviSpec absolute = plain;
    absolute.options.idx1RelativeToFile = true;
    absolute.audio = false;
    ok = ok && WriteTestAvi(dir + "/absolute.avi", absolute) == AVIERR_OK;

    // An 8-bit stream with palette changes, good and damaged, read through
    // idx1 and by a scan.
    TestAviSpec palette = plain;
    palette.bitCount = 8;
    palette.audio = false;
    palette.colors.assign(16, RGBQUAD{1, 2, 3, 0});
    palette.clrUsed = 16;
    palette.paletteChange = [](int f) {
        if (f == 5)
            return PaletteChangeRecord(2, 9, {RGBQUAD{4, 5, 6, 0}}); // count past its chunk
        return f % 2 ? PaletteChangeRecord(BYTE(f), 2, {RGBQUAD{7, 8, 9, 0}, RGBQUAD{1, 1, 1, 0}})
                     : std::vector<BYTE>{};
    };
    ok = ok && WriteTestAvi(dir + "/palette.avi", palette) == AVIERR_OK;
    palette.options.writeIdx1 = false;
    ok = ok && WriteTestAvi(dir + "/palette-noindex.avi", palette) == AVIERR_OK;

    TestAviSpec odml = plain;
    odml.width = 64;
    odml.height = 40;
    odml.frames = 12;
    odml.options.riffLimit = 65536;
    ok = ok && WriteTestAvi(dir + "/opendml.avi", odml) == AVIERR_OK;

    // 'rec ' groups with JUNK, indexed by idx1 including the group entries.
    RiffBuilder rb;
    rb.BeginRiff(avi::kAvi);
    rb.BeginList(avi::kHdrl);
    MainAVIHeader mh{};
    mh.dwStreams = 1;
    rb.Chunk(avi::kAvih, mh);
    rb.BeginList(avi::kStrl);
    AVIStreamHeader sh{};
    sh.fccType = streamtypeVIDEO;
    sh.dwScale = 1;
    sh.dwRate = 10;
    rb.Chunk(avi::kStrh, sh);
    const BITMAPINFOHEADER bi = TestBitmapHeader(plain);
    rb.Chunk(avi::kStrf, bi);
    rb.End();
    rb.End();
    const std::size_t movi = rb.BeginList(avi::kMovi) + 8;
    std::vector<AVIINDEXENTRY> idx1;
    for (int f = 0; f < 3; ++f) {
        const std::size_t rec = rb.BeginList(avi::kRec);
        idx1.push_back({avi::kRec, AVIIF_LIST, static_cast<DWORD>(rec - movi), 0});
        const std::vector<BYTE> frame = TestFrameBytes(f, bi.biSizeImage);
        const std::size_t at = rb.Chunk(avi::StreamChunkId(0, 'd', 'b'), frame.data(), frame.size());
        idx1.push_back(
            {avi::StreamChunkId(0, 'd', 'b'), AVIIF_KEYFRAME, static_cast<DWORD>(at - movi), bi.biSizeImage});
        rb.Chunk(avi::kJunk, "pad", 3);
        rb.End();
    }
    rb.End();
    rb.Chunk(avi::kIdx1, idx1.data(), idx1.size() * sizeof(AVIINDEXENTRY));
    rb.End();
    ok = ok && rb.Save(dir + "/rec.avi");

    // Silent MPEG-1 layer 3 frames (128 kbit/s, 44.1 kHz, stereo: 417 bytes
    // each, a header and zeros) counted one frame a sample, as MP3 is stored.
    TestAviSpec mp3 = plain;
    mp3.formatTag = 0x0055;
    mp3.sampleRate = 44100;
    mp3.bitsPerSample = 0;
    mp3.blockAlign = 1;
    mp3.extraFormatBytes = 12;
    std::vector<BYTE> frames(417 * 8, 0);
    for (std::size_t at = 0; at < frames.size(); at += 417) {
        frames[at] = 0xFF;
        frames[at + 1] = 0xFB;
        frames[at + 2] = 0x90;
    }
    mp3.audioContent.resize(frames.size() / 2);
    std::memcpy(mp3.audioContent.data(), frames.data(), frames.size());
    mp3.audioSamples = static_cast<DWORD>(frames.size());
    ok = ok && WriteTestAvi(dir + "/mp3.avi", mp3) == AVIERR_OK;

    TestAviSpec ima = plain;
    ima.formatTag = 0x0011;
    ima.sampleRate = 22050;
    ima.bitsPerSample = 4;
    ima.blockAlign = 256;
    ima.extraFormatBytes = 2;
    ima.audioSamples = 8;
    ok = ok && WriteTestAvi(dir + "/ima.avi", ima) == AVIERR_OK;

    if (!ok)
        std::fprintf(stderr, "cadmo-fuzz-avi-seeds: cannot write the seeds in %s\n", dir.c_str());
    return ok ? 0 : 1;
}
