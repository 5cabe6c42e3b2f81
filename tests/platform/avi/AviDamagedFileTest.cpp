// Damaged and hostile files: each is built here, small, and must give either
// a usable file (index rebuilt where needed) or an error code, never a crash,
// a read outside the file or an allocation the file cannot justify. Files
// made by ffmpeg lose their index here too, to be rebuilt from the bitstream.
#include "AviTestUtil.h"

#include "platform/avi/AviRiff.h"
#include "support/Process.h"
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

TestAviSpec WithoutIdx1(TestAviSpec spec) {
    spec.options.writeIdx1 = false;
    return spec;
}

using Damage = std::function<void(std::vector<BYTE>&)>;

// Writes `value` at `offset` past the n-th `id` in the file.
Damage Put(FOURCC id, int nth, std::size_t offset, DWORD value) {
    return [=](std::vector<BYTE>& b) { Put32(b, Find(b, id, nth) + offset, value); };
}
// Copies `size` bytes between two offsets past the first `id`.
Damage Copy(FOURCC id, std::size_t from, std::size_t to, std::size_t size) {
    return [=](std::vector<BYTE>& b) { std::memcpy(&b[Find(b, id) + to], &b[Find(b, id) + from], size); };
}
Damage All(const std::vector<Damage>& all) {
    return [=](std::vector<BYTE>& b) {
        for (const Damage& d : all)
            d(b);
    };
}
Damage PutStrh(std::size_t field, DWORD value) {
    return Put(avi::kStrh, 0, 8 + field, value);
}
const FOURCC kDb = avi::StreamChunkId(0, 'd', 'b'), kIx00 = mmioFOURCC('i', 'x', '0', '0');
// The data of idx1 entry n, and of the super index's entry n.
constexpr std::size_t Idx1Entry(int n) {
    return 8 + 16 * static_cast<std::size_t>(n);
}
constexpr std::size_t SuperEntry(int n) {
    return 8 + avi::kSuperIndexHeaderSize + 16 * static_cast<std::size_t>(n);
}

// What a damaged file must give: a rebuilt index holding between `fewest`
// and `most` frames, every one readable as written; or (kRefused) the video
// stream refused while the sound still plays; or (kUnusable) an error.
constexpr LONG kRefused = -1, kUnusable = -2;
struct DamageCase {
    const char* what;
    TestAviSpec spec;
    Damage damage;
    LONG fewest;
    LONG most;
};
void PrintTo(const DamageCase& c, std::ostream* out) {
    *out << c.what;
}

const DamageCase kDamage[] = {
    {"idx1 entry far past the end", kSmall, Put(avi::kIdx1, 0, Idx1Entry(5) + 8, 0x7ffffff0), 10, 10},
    {"two idx1 entries for one chunk, one size negative", kSmall,
     All({Copy(avi::kIdx1, Idx1Entry(4) + 8, Idx1Entry(5) + 8, 4),
          Put(avi::kIdx1, 0, Idx1Entry(3) + 12, 0xfffffff0)}),
     10, 10},
    // The scan stops at the bad chunk and keeps everything before it.
    {"chunk larger than the file, no idx1", WithoutIdx1(kSmall), Put(kDb, 6, 4, 0xfffffff8), 6, 6},
    {"file cut inside the last frame", kSmall, [](auto& b) { b.resize(Find(b, kDb, 9) + 8 + 20); }, 9, 9},
    // No frame rate (the player would divide by zero), or a start so large
    // that the samples cannot be numbered in 32 bits.
    {"rate 0", kSmall, PutStrh(offsetof(AVIStreamHeader, dwRate), 0), kRefused, kRefused},
    {"scale 0", kSmall, PutStrh(offsetof(AVIStreamHeader, dwScale), 0), kRefused, kRefused},
    {"start past 32 bits", kSmall, PutStrh(offsetof(AVIStreamHeader, dwStart), 0x7ffffffa), kRefused,
     kRefused},
    {"bitmap header larger than its format", kSmall, Put(avi::kStrf, 0, 8, 4000), kRefused, kRefused},
    {"strf running past its strl list", kSmall, Put(avi::kStrf, 0, 4, 0x10000000), kUnusable, kUnusable},
    {"super index count larger than its chunk", OpenDmlSpec(), Put(avi::kIndx, 0, 12, 0x7fffffff), 200, 200},
    {"two super index entries naming one ix##", OpenDmlSpec(),
     Copy(avi::kIndx, SuperEntry(0), SuperEntry(1), 16), 200, 200},
    {"super index entry of size 0", OpenDmlSpec(),
     All({Put(avi::kIndx, 0, SuperEntry(0), 0), Put(avi::kIndx, 0, SuperEntry(0) + 4, 0),
          Put(avi::kIndx, 0, SuperEntry(0) + 8, 0)}),
     200, 200},
    {"ix## count larger than its chunk", OpenDmlSpec(), Put(kIx00, 0, 12, 0x10000000), 200, 200},
    {"ix## base offset far outside the file", OpenDmlSpec(),
     All({Put(kIx00, 0, 20, 0xfffffff0), Put(kIx00, 0, 24, 0x7fffffff)}), 200, 200},
    // The last ix## chunks and a frame or so are lost; the data is rescanned.
    {"OpenDML file cut short", OpenDmlSpec(), [](auto& b) { b.resize(b.size() - 20000); }, 191, 199},
};

class AviDamage : public AviTest, public ::testing::WithParamInterface<DamageCase> {};

using AviDamaged = AviTest;
using AviFfmpeg = AviTest;

} // namespace

TEST_P(AviDamage, GivesAnErrorARefusedStreamOrARebuiltIndex) {
    const DamageCase& c = GetParam();
    const std::string path = Write(c.spec);
    std::vector<BYTE> b = Load(path);
    c.damage(b);
    Save(path, b);
    OpenedAvi r(path);
    ASSERT_EQ(r.hr, c.fewest == kUnusable ? AVIERR_BADFORMAT : AVIERR_OK);
    if (c.fewest == kUnusable)
        return;
    if (c.fewest == kRefused) {
        EXPECT_EQ(r.video, nullptr);
        ASSERT_NE(r.audio, nullptr);
        AVIFILEINFOA fi{};
        AVIFileInfoA(r.file, &fi, sizeof fi);
        EXPECT_EQ(fi.dwStreams, 1u);
        EXPECT_NE(fi.dwRate, 0u);
        EXPECT_NE(fi.dwScale, 0u);
        return;
    }
    EXPECT_TRUE(r.details.fIndexRebuilt);
    EXPECT_GE(AVIStreamLength(r.video), c.fewest);
    EXPECT_LE(AVIStreamLength(r.video), c.most);
    // Only the sound of the lost frames is lost with them (4-byte blocks).
    if (c.fewest == c.most) {
        EXPECT_EQ(AVIStreamLength(r.audio), static_cast<LONG>(TestAudioBytesBefore(c.spec, c.fewest) / 4));
    }
    EXPECT_TRUE(ReadsBack(r, c.spec));
}

INSTANTIATE_TEST_SUITE_P(Files, AviDamage, ::testing::ValuesIn(kDamage));

TEST_F(AviDamaged, MissingIndexIsRebuiltAndKeepsDeltaFramesDelta) {
    // Uncompressed frames are all key frames even without an index.
    const TestAviSpec raw = WithoutIdx1(kSmall);
    EXPECT_EQ(AVIStreamFindSample(OpenedAvi(Write(raw, "raw.avi")).video, 7, FIND_PREV | FIND_KEY), 7);

    // A compressed stream: the file's own key flags are gone, so only the first
    // frame may be called key; an empty (dropped) frame never is.
    TestAviSpec coded = WithoutIdx1(kSmall);
    coded.compression = coded.handler = mmioFOURCC('X', 'V', 'I', 'D');
    coded.frameSizes = {0, 50, 40, 30, 0, 60, 20, 20, 20, 20};
    coded.keys = {false, true, false, false, false, true, false, false, false, false};
    OpenedAvi r(Write(coded, "coded.avi"));
    EXPECT_TRUE(r.details.fIndexRebuilt);
    EXPECT_TRUE(ReadsBack(r, coded));
    EXPECT_EQ(AVIStreamFindSample(r.video, 9, FIND_PREV | FIND_KEY), 1);
    EXPECT_EQ(AVIStreamFindSample(r.video, 0, FIND_NEXT | FIND_KEY), 1);
    EXPECT_EQ(AVIStreamFindSample(r.video, 2, FIND_NEXT | FIND_KEY), -1);
    EXPECT_EQ(AVIStreamFindSample(r.video, 4, FIND_PREV | FIND_ANY), 3);
}

// Cut anywhere at all: never a crash, and what opens reads back. (In
// memory-backed storage where there is one: rewriting a file thousands of
// times is slow on a journaling disk.)
TEST_F(AviDamaged, FileCutAnywhereOpensOrFailsCleanly) {
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

// A wave format whose extra size runs past the record is cut to what is there.
TEST_F(AviDamaged, WaveFormatClaimingMoreThanItHoldsIsCut) {
    const std::string path = Write(kSmall);
    std::vector<BYTE> b = Load(path);
    const std::size_t cbSize = Find(b, avi::kStrf, 1) + 8 + 16;
    b[cbSize] = 0xff;
    b[cbSize + 1] = 0x7f;
    Save(path, b);
    OpenedAvi r(path);
    ASSERT_NE(r.audio, nullptr);
    WAVEFORMATEX wf{};
    LONG size = sizeof wf;
    ASSERT_EQ(AVIStreamReadFormat(r.audio, 0, &wf, &size), AVIERR_OK);
    EXPECT_EQ(std::pair(size, wf.cbSize), std::pair(LONG{18}, WORD{0}));
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
        rb.Chunk(avi::kAvih, MainAVIHeader{});
        rb.BeginList(avi::kStrl);
        AVIStreamHeader sh{};
        sh.fccType = streamtypeVIDEO;
        sh.dwScale = 1;
        sh.dwRate = 10;
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

// With the index gone, the key frames of MPEG-4 and H.264 streams are found
// again from the frames themselves, and match what ffprobe reports with the
// index intact.
TEST_F(AviFfmpeg, RebuiltIndexFindsKeyFramesInTheBitstream) {
    if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe"))
        GTEST_SKIP() << "ffmpeg is not installed";
    std::vector<std::pair<std::string, std::string>> codecs = {{"mpeg4", "-c:v mpeg4 -g 12 -bf 0"}};
    if (RunCommand("ffmpeg -hide_banner -encoders").out.find("libx264") != std::string::npos)
        codecs.push_back({"h264", "-c:v libx264 -g 12 -bf 0 -pix_fmt yuv420p"});
    for (const auto& [name, args] : codecs) {
        SCOPED_TRACE(name);
        const std::string path = dir.File(name + ".avi");
        ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=96x72:rate=15:duration=3 " + args +
                             " " + ShellQuote(path))
                      .exitCode,
                  0);
        std::vector<bool> keys;
        for (const FfprobeSection& p : Ffprobe(path))
            if (p.at("") == "packet")
                keys.push_back(p.at("flags")[0] == 'K');

        // Rename idx1 to JUNK: the file now has no index.
        std::vector<BYTE> b = Load(path);
        Put(avi::kIdx1, 0, 0, avi::kJunk)(b);
        Save(path, b);

        OpenedAvi avi(path);
        ASSERT_NE(avi.video, nullptr);
        EXPECT_TRUE(avi.details.fIndexRebuilt);
        ASSERT_EQ(AVIStreamChunkCount(avi.video), static_cast<LONG>(keys.size()));
        for (LONG i = 0; i < AVIStreamChunkCount(avi.video); ++i) {
            AVICHUNKINFO ci{};
            AVIStreamChunkInfo(avi.video, i, &ci);
            EXPECT_EQ(ci.fKeyFrame != 0, keys[static_cast<std::size_t>(i)]) << "frame " << i;
        }
    }
}

TEST_F(AviDamaged, RebuildReportsProgressAndCanBeCancelled) {
    // 36 MB without an index: large enough to report progress.
    const std::string path = Write(WithoutIdx1(SizedSpec(640, 480, 40)));
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
    seen.cancel = true;
    EXPECT_EQ(OpenedAvi(path).hr, AVIERR_USERABORT);
    AVIFileSetIndexProgress(nullptr, nullptr);
}
