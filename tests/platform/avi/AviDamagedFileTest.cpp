// Damaged and hostile files: each is built here, small, and must give either
// a usable file (index rebuilt where needed) or an error code, never a crash,
// a read outside the file or an allocation the file cannot justify.
#include "AviTestUtil.h"

#include "platform/avi/AviRiff.h"
#include "support/RiffBuilder.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

using namespace cadmo::test;

namespace {

std::vector<BYTE> Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

void Save(const std::string& path, const std::vector<BYTE>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Offset of the n-th occurrence of a FOURCC in the file image.
std::size_t Find(const std::vector<BYTE>& b, FOURCC id, int nth = 0) {
    for (std::size_t i = 0; i + 4 <= b.size(); ++i) {
        DWORD v;
        std::memcpy(&v, &b[i], 4);
        if (v == id && nth-- == 0)
            return i;
    }
    ADD_FAILURE() << "FOURCC not found";
    return 0;
}

void Put32(std::vector<BYTE>& b, std::size_t at, DWORD v) {
    std::memcpy(&b[at], &v, 4);
}

const TestAviSpec kSmall = SizedSpec(8, 4, 10);

// 200 frames of 12 KB in RIFF lists of 1 MB: an OpenDML file.
TestAviSpec OpenDmlSpec() {
    TestAviSpec spec = SizedSpec(64, 64, 200);
    spec.options.riffLimit = 1 << 20;
    return spec;
}

using Damage = std::function<void(std::vector<BYTE>&)>;

class AviDamaged : public AviTest {
protected:
    // The file of `spec` with `damage` done to its bytes.
    std::string WriteDamaged(const TestAviSpec& spec, const Damage& damage) {
        const std::string path = Write(spec);
        std::vector<BYTE> b = Load(path);
        damage(b);
        Save(path, b);
        return path;
    }
    // The file opens with a rebuilt index holding `frames` frames, all readable.
    void ExpectRescued(const std::string& path, const TestAviSpec& spec, LONG frames) {
        OpenedAvi r(path);
        ASSERT_EQ(r.hr, AVIERR_OK);
        EXPECT_TRUE(r.details.fIndexRebuilt);
        EXPECT_EQ(AVIStreamLength(r.video), frames);
        EXPECT_TRUE(ReadsBack(r, spec));
    }
};

} // namespace

TEST_F(AviDamaged, MissingIndexIsRebuiltAndKeepsDeltaFramesDelta) {
    // Uncompressed frames are all key frames even without an index.
    TestAviSpec raw = kSmall;
    raw.options.writeIdx1 = false;
    const std::string rawPath = Write(raw, "raw.avi");
    ExpectRescued(rawPath, raw, 10);
    EXPECT_EQ(AVIStreamFindSample(OpenedAvi(rawPath).video, 7, FIND_PREV | FIND_KEY), 7);

    // A compressed stream: the file's own key flags are gone, so only the first
    // frame may be called key; an empty (dropped) frame never is.
    TestAviSpec coded = kSmall;
    coded.compression = coded.handler = mmioFOURCC('X', 'V', 'I', 'D');
    coded.frameSizes = {0, 50, 40, 30, 0, 60, 20, 20, 20, 20};
    coded.keys = {false, true, false, false, false, true, false, false, false, false};
    coded.options.writeIdx1 = false;
    const std::string codedPath = Write(coded, "coded.avi");
    ExpectRescued(codedPath, coded, 10);
    OpenedAvi r(codedPath);
    EXPECT_EQ(AVIStreamFindSample(r.video, 9, FIND_PREV | FIND_KEY), 1);
    EXPECT_EQ(AVIStreamFindSample(r.video, 0, FIND_NEXT | FIND_KEY), 1);
    EXPECT_EQ(AVIStreamFindSample(r.video, 2, FIND_NEXT | FIND_KEY), -1);
    EXPECT_EQ(AVIStreamFindSample(r.video, 4, FIND_PREV | FIND_ANY), 3);
}

// Index entries and chunk headers that cannot be right: the index is rebuilt
// from the chunks, and a chunk too large for the file ends the scan.
TEST_F(AviDamaged, LyingIndexEntriesAndChunkSizes) {
    const auto entry = [](const std::vector<BYTE>& b, int n) { return Find(b, avi::kIdx1) + 8 + 16 * n; };
    // An entry's offset far past the end.
    ExpectRescued(WriteDamaged(kSmall, [&](auto& b) { Put32(b, entry(b, 5) + 8, 0x7ffffff0); }), kSmall, 10);
    // Two entries for one chunk, and an entry whose size is "negative".
    ExpectRescued(WriteDamaged(kSmall,
                               [&](auto& b) {
                                   std::memcpy(&b[entry(b, 5) + 8], &b[entry(b, 4) + 8], 4);
                                   Put32(b, entry(b, 3) + 12, 0xfffffff0);
                               }),
                  kSmall, 10);

    TestAviSpec noIndex = kSmall;
    noIndex.options.writeIdx1 = false;
    ExpectRescued(
        WriteDamaged(noIndex,
                     [](auto& b) { Put32(b, Find(b, avi::StreamChunkId(0, 'd', 'b'), 6) + 4, 0xfffffff8); }),
        kSmall, 6); // everything before the bad chunk
}

TEST_F(AviDamaged, FileCutInsideAChunkLosesOnlyThatChunk) {
    // Cut in the middle of the last video frame's data.
    const std::string path =
        WriteDamaged(kSmall, [](auto& b) { b.resize(Find(b, avi::StreamChunkId(0, 'd', 'b'), 9) + 8 + 20); });
    ExpectRescued(path, kSmall, 9);
    EXPECT_EQ(AVIStreamLength(OpenedAvi(path).audio), static_cast<LONG>(TestAudioBytesBefore(kSmall, 9) / 4));

    // Cut anywhere at all: never a crash, and what opens reads back. (In
    // memory-backed storage where there is one: rewriting a file thousands of
    // times is slow on a journaling disk.)
    const std::vector<BYTE> whole = Load(Write(kSmall, "whole.avi"));
    const TempDir fast(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : dir.Path());
    const std::string cutPath = fast.File("cut.avi");
    for (std::size_t size = 0; size < whole.size(); size += 11) {
        Save(cutPath, std::vector<BYTE>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size)));
        OpenedAvi cut(cutPath);
        if (cut.hr == AVIERR_OK) {
            EXPECT_TRUE(ReadsBack(cut, kSmall)) << size;
        }
    }
}

// Zero rate or scale (no frame rate: the player would divide by zero), or a
// start so large that the samples cannot be numbered in 32 bits.
TEST_F(AviDamaged, UnusableStreamHeadersRefuseTheStream) {
    const std::pair<std::size_t, DWORD> patches[] = {{offsetof(AVIStreamHeader, dwRate), 0},
                                                     {offsetof(AVIStreamHeader, dwScale), 0},
                                                     {offsetof(AVIStreamHeader, dwStart), 0x7ffffffa}};
    for (const auto& [field, value] : patches) {
        OpenedAvi r(WriteDamaged(kSmall, [&](auto& b) { Put32(b, Find(b, avi::kStrh) + 8 + field, value); }));
        ASSERT_EQ(r.hr, AVIERR_OK);
        EXPECT_EQ(r.video, nullptr);
        ASSERT_NE(r.audio, nullptr); // the other stream still plays
        AVIFILEINFOA fi{};
        AVIFileInfoA(r.file, &fi, sizeof fi);
        EXPECT_EQ(fi.dwStreams, 1u);
        EXPECT_NE(fi.dwRate, 0u);
        EXPECT_NE(fi.dwScale, 0u);
    }
}

TEST_F(AviDamaged, FormatsThatClaimMoreThanTheyHold) {
    // strf chunk running past its strl list: the headers are unusable.
    EXPECT_EQ(
        OpenedAvi(WriteDamaged(kSmall, [](auto& b) { Put32(b, Find(b, avi::kStrf) + 4, 0x10000000); })).hr,
        AVIERR_BADFORMAT);
    {
        // A bitmap header whose biSize is larger than the format: stream refused.
        OpenedAvi r(WriteDamaged(kSmall, [](auto& b) { Put32(b, Find(b, avi::kStrf) + 8, 4000); }));
        ASSERT_EQ(r.hr, AVIERR_OK);
        EXPECT_EQ(r.video, nullptr);
        EXPECT_NE(r.audio, nullptr);
    }
    // A wave format whose extra size runs past the record: cut to what is there.
    OpenedAvi r(WriteDamaged(kSmall, [](auto& b) {
        const std::size_t cbSize = Find(b, avi::kStrf, 1) + 8 + 16;
        b[cbSize] = 0xff;
        b[cbSize + 1] = 0x7f;
    }));
    ASSERT_NE(r.audio, nullptr);
    LONG size = 0;
    AVIStreamReadFormat(r.audio, 0, nullptr, &size);
    ASSERT_EQ(size, 18);
    WAVEFORMATEX wf{};
    AVIStreamReadFormat(r.audio, 0, &wf, &size);
    EXPECT_EQ(wf.cbSize, 0);
}

TEST_F(AviDamaged, OpenDmlIndexesThatLieOrAreCutOff) {
    const TestAviSpec spec = OpenDmlSpec();
    const auto entries = [](const std::vector<BYTE>& b) {
        return Find(b, avi::kIndx) + 8 + avi::kSuperIndexHeaderSize;
    };
    const auto ix = [](const std::vector<BYTE>& b) { return Find(b, mmioFOURCC('i', 'x', '0', '0')) + 8; };
    const std::pair<const char*, Damage> lies[] = {
        {"super index count larger than its chunk",
         [](auto& b) { Put32(b, Find(b, avi::kIndx) + 8 + 4, 0x7fffffff); }},
        {"two entries naming one ix##",
         [&](auto& b) { std::memcpy(&b[entries(b) + 16], &b[entries(b)], 16); }},
        {"an entry of size 0",
         [&](auto& b) {
             for (const int at : {8, 0, 4})
                 Put32(b, entries(b) + at, 0);
         }},
        {"ix## count larger than its chunk", [&](auto& b) { Put32(b, ix(b) + 4, 0x10000000); }},
        {"ix## base offset far outside the file",
         [&](auto& b) {
             Put32(b, ix(b) + 12, 0xfffffff0);
             Put32(b, ix(b) + 16, 0x7fffffff);
         }},
    };
    for (const auto& [what, damage] : lies) {
        SCOPED_TRACE(what);
        ExpectRescued(WriteDamaged(spec, damage), spec, 200);
    }

    // Cut: the last ix## chunks and a frame or so are lost; the data is rescanned.
    OpenedAvi r(WriteDamaged(spec, [](auto& b) { b.resize(b.size() - 20000); }));
    ASSERT_EQ(r.hr, AVIERR_OK);
    EXPECT_TRUE(r.details.fIndexRebuilt);
    EXPECT_GT(AVIStreamLength(r.video), 190);
    EXPECT_LT(AVIStreamLength(r.video), 200);
    EXPECT_TRUE(ReadsBack(r, spec));
}

TEST_F(AviDamaged, NotAnAviFile) {
    const std::string path = dir.File("x.avi");
    EXPECT_EQ(OpenedAvi(dir.File("missing.avi")).hr, AVIERR_FILEOPEN);
    EXPECT_EQ(OpenedAvi(dir.Path()).hr, AVIERR_FILEOPEN);
    Save(path, {});
    EXPECT_NE(OpenedAvi(path).hr, AVIERR_OK);
    Save(path, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'});
    EXPECT_EQ(OpenedAvi(path).hr, AVIERR_BADFORMAT);
    // An AVI without a header list, and one with a hdrl that holds no stream.
    for (const bool withHdrl : {false, true}) {
        RiffBuilder rb;
        rb.BeginRiff(avi::kAvi);
        rb.BeginList(withHdrl ? avi::kHdrl : avi::kMovi);
        if (withHdrl)
            rb.Chunk(avi::kAvih, MainAVIHeader{});
        rb.End();
        rb.End();
        ASSERT_TRUE(rb.Save(path));
        EXPECT_EQ(OpenedAvi(path).hr, AVIERR_BADFORMAT) << withHdrl;
    }

    PAVIFILE f = reinterpret_cast<PAVIFILE>(1);
    EXPECT_EQ(AVIFileOpenA(&f, path.c_str(), OF_READWRITE, nullptr), AVIERR_READONLY);
    EXPECT_EQ(f, nullptr);
}

// A hand-laid file as capture programs write them: JUNK padding, 'rec '
// groups, a LIST of size 0, and idx1 entries for the groups themselves.
TEST_F(AviDamaged, RecListsJunkAndEmptyLists) {
    const BITMAPINFOHEADER bi = TestBitmapHeader(kSmall);
    const DWORD frameSize = bi.biSizeImage;
    const FOURCC db = avi::StreamChunkId(0, 'd', 'b');
    for (bool withIndex : {true, false}) {
        RiffBuilder rb;
        rb.BeginRiff(avi::kAvi);
        rb.BeginList(avi::kHdrl);
        MainAVIHeader mh{};
        mh.dwStreams = 1;
        mh.dwWidth = 8;
        mh.dwHeight = 4;
        rb.Chunk(avi::kAvih, mh);
        rb.BeginList(avi::kStrl);
        AVIStreamHeader sh{};
        sh.fccType = streamtypeVIDEO;
        sh.dwScale = 1;
        sh.dwRate = 10;
        sh.dwLength = 4;
        rb.Chunk(avi::kStrh, sh);
        rb.Chunk(avi::kStrf, bi);
        rb.End();
        rb.End();
        const std::vector<BYTE> junk(301);
        rb.Chunk(avi::kJunk, junk.data(), junk.size());
        const std::size_t movi = rb.BeginList(avi::kMovi) + 8;
        std::vector<AVIINDEXENTRY> idx1;
        rb.U32(avi::kList);
        rb.U32(0); // a list too small to hold its type
        for (int f = 0; f < 4; ++f) {
            idx1.push_back({avi::kRec, AVIIF_LIST, static_cast<DWORD>(rb.BeginList(avi::kRec) - movi), 0});
            const std::vector<BYTE> data = TestFrameBytes(f, frameSize);
            const std::size_t at = rb.Chunk(db, data.data(), data.size());
            idx1.push_back({db, AVIIF_KEYFRAME, static_cast<DWORD>(at - movi), frameSize});
            rb.Chunk(avi::kJunk, junk.data(), 3);
            rb.End();
        }
        rb.End();
        if (withIndex)
            rb.Chunk(avi::kIdx1, idx1.data(), idx1.size() * sizeof(AVIINDEXENTRY));
        rb.End();
        const std::string path = dir.File("rec.avi");
        ASSERT_TRUE(rb.Save(path));
        OpenedAvi r(path);
        ASSERT_EQ(r.hr, AVIERR_OK);
        EXPECT_EQ(r.details.fIndexRebuilt != 0, !withIndex);
        EXPECT_EQ(AVIStreamLength(r.video), 4);
        EXPECT_TRUE(ReadsBack(r, kSmall));
        // The header suggests no buffer size: the largest chunk is suggested.
        AVISTREAMINFOA info{};
        AVIStreamInfoA(r.video, &info, sizeof info);
        EXPECT_EQ(info.dwSuggestedBufferSize, frameSize);
    }
}

TEST_F(AviDamaged, RebuildReportsProgressAndCanBeCancelled) {
    TestAviSpec spec = SizedSpec(640, 480, 40); // 36 MB: large enough to report progress
    spec.options.writeIdx1 = false;
    const std::string path = Write(spec);

    struct Seen {
        std::vector<LONG> percents;
        bool cancel = false;
    } seen;
    AVIFileSetIndexProgress(
        [](void* context, LONG percent) -> BOOL {
            auto* s = static_cast<Seen*>(context);
            s->percents.push_back(percent);
            return s->cancel && percent >= 50;
        },
        &seen);
    EXPECT_EQ(OpenedAvi(path).hr, AVIERR_OK);
    ASSERT_FALSE(seen.percents.empty());
    EXPECT_TRUE(std::is_sorted(seen.percents.begin(), seen.percents.end()));
    EXPECT_EQ(seen.percents.back(), 100);
    EXPECT_LE(seen.percents.size(), 101u);
    seen.percents.clear();
    seen.cancel = true;
    EXPECT_EQ(OpenedAvi(path).hr, AVIERR_USERABORT);
    AVIFileSetIndexProgress(nullptr, nullptr);
}
