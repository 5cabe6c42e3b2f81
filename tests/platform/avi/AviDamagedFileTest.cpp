// Damaged and hostile files: each is built here, small, and must give either
// a usable file (index rebuilt where needed) or an error code, never a crash,
// a read outside the file or an allocation the file cannot justify. Files
// made by the ffmpeg tool meet ffprobe here, and then lose their index to be
// rebuilt from the bitstream. (Files from our writer meet ffprobe in the
// round-trip tests.)
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

// The default test file (with sound) made small, the same without its idx1,
// and 200 frames of 12 KB in RIFF lists of 1 MB: an OpenDML file.
const TestAviSpec kSmall{.width = 8, .height = 4};
const TestAviSpec kNoIdx1{.width = 8, .height = 4, .options = {.writeIdx1 = false}};
const TestAviSpec kDml{.width = 64, .height = 64, .frames = 200, .options = {.riffLimit = 1 << 20}};

using Damage = std::function<void(std::vector<BYTE>&)>;

// Writes `value` at `offset` past the n-th `id` in the file.
Damage Put(FOURCC id, int nth, std::size_t offset, DWORD value) {
    return [=](std::vector<BYTE>& b) { std::memcpy(&b[Find(b, id, nth) + offset], &value, 4); };
}
// Copies `size` bytes between two offsets past the first `id`.
Damage Copy(FOURCC id, std::size_t from, std::size_t to, std::size_t size) {
    return [=](std::vector<BYTE>& b) { std::memcpy(&b[Find(b, id) + to], &b[Find(b, id) + from], size); };
}
// Applies the damage to the file at `path`.
void Rewrite(const std::string& path, const Damage& damage) {
    std::ifstream in(path, std::ios::binary);
    std::vector<BYTE> b(std::istreambuf_iterator<char>(in), {});
    in.close();
    damage(b);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::ssize(b));
}
const FOURCC kDb = avi::StreamChunkId(0, 'd', 'b'), kIx00 = mmioFOURCC('i', 'x', '0', '0');
// The data of the super index's entry n.
const auto SuperEntry = [](std::size_t n) { return 8 + avi::kSuperIndexHeaderSize + 16 * n; };

// What a damaged file must give: a rebuilt index holding between `fewest`
// and `most` frames (exactly `fewest` when `most` is 0), every one readable
// as written; or (kRefused) the video stream refused while the sound still
// plays; or (kUnusable) an error.
constexpr LONG kRefused = -1, kUnusable = -2;
struct DamageCase {
    const char* what;
    TestAviSpec spec;
    Damage damage;
    LONG fewest;
    LONG most = 0;
};
void PrintTo(const DamageCase& c, std::ostream* out) {
    *out << c.what;
}

const DamageCase kDamage[] = {
    // An idx1 entry (the sixth's offset) that points outside the file: the
    // index is rebuilt.
    {"idx1 entry far past the end", kSmall, Put(avi::kIdx1, 0, 8 + 16 * 5 + 8, 0x7ffffff0), 10},
    // The scan stops at the bad chunk and keeps everything before it.
    {"chunk larger than the file, no idx1", kNoIdx1, Put(kDb, 6, 4, 0xfffffff8), 6},
    {"file cut inside the last frame", kSmall, [](auto& b) { b.resize(Find(b, kDb, 9) + 8 + 20); }, 9},
    // No frame rate (the player would divide by zero), or a start so large
    // that the samples cannot be numbered in 32 bits.
    {"rate 0", kSmall, Put(avi::kStrh, 0, 8 + offsetof(AVIStreamHeader, dwRate), 0), kRefused},
    {"scale 0", kSmall, Put(avi::kStrh, 0, 8 + offsetof(AVIStreamHeader, dwScale), 0), kRefused},
    {"start past 32 bits", kSmall, Put(avi::kStrh, 0, 8 + offsetof(AVIStreamHeader, dwStart), 0x7ffffffa),
     kRefused},
    {"bitmap header larger than its format", kSmall, Put(avi::kStrf, 0, 8, 4000), kRefused},
    {"strf running past its strl list", kSmall, Put(avi::kStrf, 0, 4, 0x10000000), kUnusable},
    // Not an AVI file, an AVI without a header list, and one whose header
    // list ends after its main header, before any stream. (An empty file is
    // the first cut of the cut-anywhere test.)
    {"a WAVE file", kSmall, Put(avi::kAvi, 0, 0, mmioFOURCC('W', 'A', 'V', 'E')), kUnusable},
    {"no hdrl", kSmall, Put(avi::kHdrl, 0, 0, avi::kJunk), kUnusable},
    {"hdrl without streams", kSmall, Put(avi::kList, 0, 4, 4 + 8 + sizeof(MainAVIHeader)), kUnusable},
    // Each damaged OpenDML index is given up for a scan of the data.
    {"super index count larger than its chunk", kDml, Put(avi::kIndx, 0, 12, 0x7fffffff), 200},
    {"two super index entries naming one ix##", kDml, Copy(avi::kIndx, SuperEntry(0), SuperEntry(1), 16),
     200},
    {"super index entry pointing at the file's start", kDml, Put(avi::kIndx, 0, SuperEntry(0), 0), 200},
    {"ix## count larger than its chunk", kDml, Put(kIx00, 0, 12, 0x10000000), 200},
    {"ix## base offset far outside the file", kDml, Put(kIx00, 0, 24, 0x7fffffff), 200},
    // The last ix## chunks and a frame or so are lost; the data is rescanned.
    {"OpenDML file cut short", kDml, [](auto& b) { b.resize(b.size() - 20000); }, 191, 199},
};

class AviDamage : public AviTest, public ::testing::WithParamInterface<DamageCase> {};

using AviDamaged = AviTest;
using AviFfmpeg = AviTest;

} // namespace

TEST_P(AviDamage, GivesAnErrorARefusedStreamOrARebuiltIndex) {
    const DamageCase& c = GetParam();
    const std::string path = Write(c.spec);
    Rewrite(path, c.damage);
    OpenedAvi r(path);
    ASSERT_EQ(r.hr != AVIERR_OK, c.fewest == kUnusable) << r.hr;
    if (c.fewest == kUnusable)
        return;
    if (c.fewest == kRefused) {
        EXPECT_EQ(r.video, nullptr);
        AVIFILEINFOA fi{};
        AVIFileInfoA(r.file, &fi, sizeof fi);
        EXPECT_EQ(fi.dwStreams, 1u) << "the sound plays on";
        EXPECT_TRUE(fi.dwRate != 0 && fi.dwScale != 0);
        return;
    }
    EXPECT_TRUE(r.details.fIndexRebuilt);
    const LONG most = c.most ? c.most : c.fewest;
    EXPECT_GE(AVIStreamLength(r.video), c.fewest);
    EXPECT_LE(AVIStreamLength(r.video), most);
    // Only the sound of the lost frames is lost with them (4-byte blocks).
    if (c.fewest == most) {
        EXPECT_EQ(AVIStreamLength(r.audio), static_cast<LONG>(TestAudioBytesBefore(c.spec, c.fewest) / 4));
    }
    EXPECT_TRUE(ReadsBack(r, c.spec));
}

INSTANTIATE_TEST_SUITE_P(Files, AviDamage, ::testing::ValuesIn(kDamage));

// A compressed stream without an index: the file's own key flags are gone,
// so only the first frame may be called key; an empty (dropped) frame never
// is. (That uncompressed frames are all key is the ffmpeg test's part.)
TEST_F(AviDamaged, MissingIndexIsRebuiltAndKeepsDeltaFramesDelta) {
    TestAviSpec coded = kNoIdx1;
    coded.compression = coded.handler = mmioFOURCC('X', 'V', 'I', 'D');
    coded.frameSizes = {0, 50, 40, 30, 0, 60, 20, 20, 20, 20};
    coded.keys = {false, true, false, false, false, true, false, false, false, false};
    OpenedAvi r(Write(coded));
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
    const TempDir fast(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : dir.Path());
    const std::string whole = Write(kSmall, "whole.avi"), path = fast.File("cut.avi");
    for (std::uintmax_t size = 0; size < std::filesystem::file_size(whole); size += 11) {
        std::filesystem::copy_file(whole, path, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::resize_file(path, size);
        OpenedAvi cut(path);
        if (cut.hr == AVIERR_OK) {
            EXPECT_TRUE(ReadsBack(cut, kSmall)) << size;
        }
    }
}

// A wave format whose extra size runs past the record is cut to what is there.
TEST_F(AviDamaged, WaveFormatClaimingMoreThanItHoldsIsCut) {
    const std::string path = Write(kSmall);
    Rewrite(path, [](auto& b) { b[Find(b, avi::kStrf, 1) + 8 + 17] = 0x7f; }); // cbSize 0x7f00
    WAVEFORMATEX wf{};
    LONG size = sizeof wf;
    ASSERT_EQ(AVIStreamReadFormat(OpenedAvi(path).audio, 0, &wf, &size), AVIERR_OK);
    EXPECT_EQ(std::pair(size, wf.cbSize), std::pair(LONG{18}, WORD{0}));
}

TEST_F(AviDamaged, NotAnAviFile) {
    EXPECT_EQ(OpenedAvi(dir.File("missing.avi")).hr, AVIERR_FILEOPEN);
    EXPECT_EQ(OpenedAvi(dir.Path()).hr, AVIERR_FILEOPEN);
}

// A hand-laid file as capture programs write them: JUNK padding, 'rec '
// groups, a LIST of size 0, and idx1 entries for the groups themselves.
TEST_F(AviDamaged, RecListsJunkAndEmptyLists) {
    const BITMAPINFOHEADER bi = TestBitmapHeader(kSmall);
    const DWORD frameSize = bi.biSizeImage;
    AVIStreamHeader sh{};
    sh.fccType = streamtypeVIDEO;
    sh.dwScale = 1;
    sh.dwRate = 10;
    for (bool withIndex : {true, false}) {
        RiffBuilder rb;
        rb.BeginRiff(avi::kAvi);
        rb.BeginList(avi::kHdrl);
        rb.Chunk(avi::kAvih, MainAVIHeader{});
        rb.BeginList(avi::kStrl);
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
            const std::size_t at = rb.Chunk(kDb, TestFrameBytes(f, frameSize).data(), frameSize);
            idx1.push_back({kDb, AVIIF_KEYFRAME, static_cast<DWORD>(at - movi), frameSize});
            rb.Chunk(avi::kJunk, junk.data(), 3);
            rb.End();
        }
        rb.End();
        if (withIndex)
            rb.Chunk(avi::kIdx1, idx1.data(), idx1.size() * sizeof(AVIINDEXENTRY));
        rb.End();
        ASSERT_TRUE(rb.Save(dir.File("rec.avi")));
        OpenedAvi r(dir.File("rec.avi"));
        EXPECT_EQ(r.details.fIndexRebuilt != 0, !withIndex);
        EXPECT_EQ(AVIStreamLength(r.video), 4);
        EXPECT_TRUE(ReadsBack(r, kSmall));
        // The header suggests no buffer size: the largest chunk is suggested.
        AVISTREAMINFOA info{};
        AVIStreamInfoA(r.video, &info, sizeof info);
        EXPECT_EQ(info.dwSuggestedBufferSize, frameSize);
    }
}

// To the container a codec is chunk sizes and key flags: stream facts, frame
// count and every packet's position, size and key flag agree with ffprobe
// for raw frames (all key) and for MPEG-4 and H.264 (a key frame in 12). With
// the index gone, those key frames are found again from the frames themselves.
TEST_F(AviFfmpeg, FfmpegFilesAgreeWithFfprobe) {
    if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe"))
        GTEST_SKIP() << "ffmpeg is not installed";
    std::vector<std::string> codecs = {"-c:v rawvideo -pix_fmt bgr24", "-c:v mpeg4 -g 12 -bf 0"};
    if (RunCommand("ffmpeg -hide_banner -encoders").out.find("libx264") != std::string::npos)
        codecs.push_back("-c:v libx264 -g 12 -bf 0 -pix_fmt yuv420p");
    for (const std::string& args : codecs) {
        SCOPED_TRACE(args);
        const std::string path = dir.File("ffmpeg.avi");
        ASSERT_EQ(
            RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=96x72:rate=15:duration=4 -f lavfi -i "
                       "sine=frequency=440:sample_rate=22050:duration=4 " +
                       args + " -c:a pcm_s16le " + ShellQuote(path))
                .exitCode,
            0);
        CompareWithFfprobe(path, 60);
        std::vector<bool> keys, found;
        for (const FfprobeSection& p : Ffprobe(path))
            if (p.at("") == "packet" && p.at("stream_index") == "0")
                keys.push_back(p.at("flags")[0] == 'K');

        Rewrite(path, Put(avi::kIdx1, 0, 0, avi::kJunk)); // idx1 becomes JUNK: no index
        OpenedAvi avi(path);
        EXPECT_TRUE(avi.details.fIndexRebuilt);
        for (LONG i = 0; i < AVIStreamChunkCount(avi.video); ++i) {
            AVICHUNKINFO ci{};
            AVIStreamChunkInfo(avi.video, i, &ci);
            found.push_back(ci.fKeyFrame != 0);
        }
        EXPECT_EQ(found, keys);
    }
}
