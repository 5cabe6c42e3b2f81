// Damaged and hostile files: each is built here, small, and must give either
// a usable file (index rebuilt where needed) or an error code, never a crash,
// a read outside the file or an allocation the file cannot justify.
#include "platform/avi/AviFile.h"
#include "platform/avi/AviRiff.h"
#include "support/RiffBuilder.h"
#include "support/TempDir.h"
#include "support/TestAvi.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
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
DWORD Get32(const std::vector<BYTE>& b, std::size_t at) {
    DWORD v;
    std::memcpy(&v, &b[at], 4);
    return v;
}

// The file opened with its streams, and what the reader made of it.
struct Result {
    HRESULT hr = AVIERR_ERROR;
    PAVIFILE file = nullptr;
    PAVISTREAM video = nullptr;
    PAVISTREAM audio = nullptr;
    AVIFILEDETAILS details{};

    explicit Result(const std::string& path) {
        hr = AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr);
        if (hr != AVIERR_OK) {
            EXPECT_EQ(file, nullptr);
            return;
        }
        AVIFileGetDetails(file, &details);
        AVIFileGetStream(file, &video, streamtypeVIDEO, 0);
        AVIFileGetStream(file, &audio, streamtypeAUDIO, 0);
    }
    ~Result() {
        if (video)
            AVIStreamRelease(video);
        if (audio)
            AVIStreamRelease(audio);
        if (file)
            AVIFileRelease(file);
    }
    // Reads every sample of both streams and checks the content where known.
    bool ReadsBack(const TestAviSpec& spec) const {
        bool ok = true;
        std::vector<BYTE> buffer(1 << 20);
        for (LONG f = AVIStreamStart(video); video && f < AVIStreamEnd(video); ++f) {
            LONG bytes = 0;
            ok = ok && AVIStreamRead(video, f, 1, buffer.data(), 1 << 20, &bytes, nullptr) == AVIERR_OK;
            const std::vector<BYTE> want = TestFrameBytes(f, TestFrameSize(spec, f));
            ok = ok && bytes == static_cast<LONG>(want.size()) &&
                 std::equal(want.begin(), want.end(), buffer.begin());
        }
        if (audio) {
            LONG bytes = 0;
            const LONG n = AVIStreamLength(audio);
            ok = ok && AVIStreamRead(audio, 0, n, buffer.data(), 1 << 20, &bytes, nullptr) == AVIERR_OK;
            ok = ok && std::equal(buffer.begin(), buffer.begin() + bytes, TestAudioBytes(0, bytes).begin());
        }
        return ok;
    }
};

TestAviSpec SmallSpec() {
    TestAviSpec spec;
    spec.width = 8;
    spec.height = 4;
    spec.frames = 10;
    return spec;
}

class AviDamaged : public ::testing::Test {
protected:
    std::string Write(const TestAviSpec& spec, const char* name = "in.avi") {
        const std::string path = dir.File(name);
        EXPECT_EQ(WriteTestAvi(path, spec), AVIERR_OK);
        return path;
    }
    TempDir dir;
};

} // namespace

TEST_F(AviDamaged, MissingIndexIsRebuiltAndKeepsDeltaFramesDelta) {
    // Uncompressed frames are all key frames even without an index.
    TestAviSpec raw = SmallSpec();
    raw.options.writeIdx1 = false;
    {
        Result r(Write(raw));
        ASSERT_EQ(r.hr, AVIERR_OK);
        EXPECT_TRUE(r.details.fIndexRebuilt);
        EXPECT_EQ(AVIStreamLength(r.video), 10);
        EXPECT_TRUE(r.ReadsBack(raw));
        EXPECT_EQ(AVIStreamFindSample(r.video, 7, FIND_PREV | FIND_KEY), 7);
    }
    // A compressed stream: the file's own key flags are gone, so only the first
    // frame may be called key; an empty (dropped) frame never is.
    TestAviSpec coded = SmallSpec();
    coded.compression = coded.handler = mmioFOURCC('X', 'V', 'I', 'D');
    coded.frameSizes = {0, 50, 40, 30, 0, 60, 20, 20, 20, 20};
    coded.keys = {false, true, false, false, false, true, false, false, false, false};
    coded.options.writeIdx1 = false;
    Result r(Write(coded, "coded.avi"));
    ASSERT_EQ(r.hr, AVIERR_OK);
    EXPECT_TRUE(r.details.fIndexRebuilt);
    EXPECT_EQ(AVIStreamLength(r.video), 10);
    EXPECT_TRUE(r.ReadsBack(coded));
    EXPECT_EQ(AVIStreamFindSample(r.video, 9, FIND_PREV | FIND_KEY), 1);
    EXPECT_EQ(AVIStreamFindSample(r.video, 0, FIND_NEXT | FIND_KEY), 1);
    EXPECT_EQ(AVIStreamFindSample(r.video, 2, FIND_NEXT | FIND_KEY), -1);
    EXPECT_EQ(AVIStreamFindSample(r.video, 4, FIND_PREV | FIND_ANY), 3);
}

TEST_F(AviDamaged, IndexPointingPastTheEndIsRebuilt) {
    const TestAviSpec spec = SmallSpec();
    const std::string path = Write(spec);
    std::vector<BYTE> b = Load(path);
    const std::size_t idx1 = Find(b, avi::kIdx1);
    Put32(b, idx1 + 8 + 5 * 16 + 8, 0x7ffffff0); // an entry's offset far past the end
    Save(path, b);
    Result r(path);
    ASSERT_EQ(r.hr, AVIERR_OK);
    EXPECT_TRUE(r.details.fIndexRebuilt);
    EXPECT_EQ(AVIStreamLength(r.video), 10);
    EXPECT_TRUE(r.ReadsBack(spec));

    // An entry whose size is "negative" is no better.
    b = Load(path);
    Put32(b, idx1 + 8 + 5 * 16 + 8, Get32(b, idx1 + 8 + 4 * 16 + 8));
    Put32(b, idx1 + 8 + 3 * 16 + 12, 0xfffffff0);
    Save(path, b);
    Result r2(path);
    ASSERT_EQ(r2.hr, AVIERR_OK);
    EXPECT_TRUE(r2.details.fIndexRebuilt);
    EXPECT_TRUE(r2.ReadsBack(spec));
}

TEST_F(AviDamaged, FileCutInsideAChunkLosesOnlyThatChunk) {
    const TestAviSpec spec = SmallSpec();
    const std::string path = Write(spec);
    std::vector<BYTE> b = Load(path);
    // Cut in the middle of the last video frame's data.
    const std::size_t lastFrame = Find(b, avi::StreamChunkId(0, 'd', 'b'), 9);
    b.resize(lastFrame + 8 + 20);
    Save(path, b);
    Result r(path);
    ASSERT_EQ(r.hr, AVIERR_OK);
    EXPECT_TRUE(r.details.fIndexRebuilt);
    EXPECT_EQ(AVIStreamLength(r.video), 9);
    EXPECT_EQ(AVIStreamLength(r.audio), static_cast<LONG>(TestAudioBytesBefore(spec, 9) / 4));
    EXPECT_TRUE(r.ReadsBack(spec));

    // Cut anywhere at all: never a crash, and what opens reads back. (In
    // memory-backed storage where there is one: rewriting a file thousands of
    // times is slow on a journaling disk.)
    const std::vector<BYTE> whole = Load(Write(spec, "whole.avi"));
    const TempDir fast(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : dir.Path());
    const std::string cutPath = fast.File("cut.avi");
    for (std::size_t size = 0; size < whole.size(); size += 11) {
        Save(cutPath, std::vector<BYTE>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size)));
        Result cut(cutPath);
        if (cut.hr == AVIERR_OK) {
            EXPECT_TRUE(cut.ReadsBack(spec)) << size;
        }
    }
}

TEST_F(AviDamaged, CutOpenDmlFileIsRescanned) {
    TestAviSpec spec = SmallSpec();
    spec.width = spec.height = 64;
    spec.frames = 200;
    spec.options.riffLimit = 1 << 20;
    const std::string path = Write(spec);
    std::vector<BYTE> b = Load(path);
    b.resize(b.size() - 20000); // loses the last ix## chunks and a frame or so
    Save(path, b);
    Result r(path);
    ASSERT_EQ(r.hr, AVIERR_OK);
    EXPECT_TRUE(r.details.fIndexRebuilt);
    EXPECT_GT(AVIStreamLength(r.video), 190);
    EXPECT_LT(AVIStreamLength(r.video), 200);
    EXPECT_TRUE(r.ReadsBack(spec));
}

// Zero rate or scale (no frame rate: the player would divide by zero), or a
// start so large that the samples cannot be numbered in 32 bits.
TEST_F(AviDamaged, UnusableStreamHeadersRefuseTheStream) {
    const TestAviSpec spec = SmallSpec();
    const std::pair<std::size_t, DWORD> patches[] = {{offsetof(AVIStreamHeader, dwRate), 0},
                                                     {offsetof(AVIStreamHeader, dwScale), 0},
                                                     {offsetof(AVIStreamHeader, dwStart), 0x7ffffffa}};
    for (const auto& [field, value] : patches) {
        const std::string path = Write(spec);
        std::vector<BYTE> b = Load(path);
        const std::size_t strh = Find(b, avi::kStrh) + 8;
        Put32(b, strh + field, value);
        Save(path, b);
        Result r(path);
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
    const TestAviSpec spec = SmallSpec();
    const std::string path = Write(spec);
    const std::vector<BYTE> good = Load(path);

    // strf chunk running past its strl list: the headers are unusable.
    std::vector<BYTE> b = good;
    Put32(b, Find(b, avi::kStrf) + 4, 0x10000000);
    Save(path, b);
    EXPECT_EQ(Result(path).hr, AVIERR_BADFORMAT);

    // A bitmap header whose biSize is larger than the format: stream refused.
    b = good;
    Put32(b, Find(b, avi::kStrf) + 8, 4000);
    Save(path, b);
    {
        Result r(path);
        ASSERT_EQ(r.hr, AVIERR_OK);
        EXPECT_EQ(r.video, nullptr);
        EXPECT_NE(r.audio, nullptr);
    }

    // A wave format whose extra size runs past the record: cut to what is there.
    b = good;
    const std::size_t wave = Find(b, avi::kStrf, 1) + 8;
    b[wave + 16] = 0xff;
    b[wave + 17] = 0x7f;
    Save(path, b);
    Result r(path);
    ASSERT_NE(r.audio, nullptr);
    LONG size = 0;
    AVIStreamReadFormat(r.audio, 0, nullptr, &size);
    ASSERT_EQ(size, 18);
    WAVEFORMATEX wf{};
    AVIStreamReadFormat(r.audio, 0, &wf, &size);
    EXPECT_EQ(wf.cbSize, 0);
}

TEST_F(AviDamaged, OpenDmlIndexesThatLie) {
    TestAviSpec spec = SmallSpec();
    spec.width = spec.height = 64;
    spec.frames = 200;
    spec.options.riffLimit = 1 << 20;
    const std::string path = Write(spec);
    const std::vector<BYTE> good = Load(path);
    const std::size_t indx = Find(good, avi::kIndx);
    const std::size_t entries = indx + 8 + avi::kSuperIndexHeaderSize;
    auto expectRescued = [&](const std::vector<BYTE>& b, const char* what) {
        Save(path, b);
        Result r(path);
        ASSERT_EQ(r.hr, AVIERR_OK) << what;
        EXPECT_TRUE(r.details.fIndexRebuilt) << what;
        EXPECT_EQ(AVIStreamLength(r.video), 200) << what;
        EXPECT_TRUE(r.ReadsBack(spec)) << what;
    };

    std::vector<BYTE> b = good;
    Put32(b, indx + 8 + 4, 0x7fffffff); // super index count larger than its chunk
    expectRescued(b, "super index count");

    b = good;
    std::memcpy(&b[entries + 16], &b[entries], 16); // two entries naming one ix## chunk
    expectRescued(b, "repeated ix##");

    b = good;
    Put32(b, entries + 8, 0); // an entry of size 0
    Put32(b, entries, 0);
    Put32(b, entries + 4, 0);
    expectRescued(b, "zero entry");

    b = good;
    const std::size_t ix = Find(b, mmioFOURCC('i', 'x', '0', '0'));
    Put32(b, ix + 8 + 4, 0x10000000); // standard index count larger than its chunk
    expectRescued(b, "ix## count");

    b = good;
    Put32(b, ix + 8 + 12, 0xfffffff0); // base offset far outside the file
    Put32(b, ix + 8 + 16, 0x7fffffff);
    expectRescued(b, "ix## base");
}

TEST_F(AviDamaged, HugeChunkSizesInTheData) {
    const TestAviSpec spec = SmallSpec();
    TestAviSpec noIndex = spec;
    noIndex.options.writeIdx1 = false;
    const std::string path = Write(noIndex);
    std::vector<BYTE> b = Load(path);
    Put32(b, Find(b, avi::StreamChunkId(0, 'd', 'b'), 6) + 4, 0xfffffff8);
    Save(path, b);
    Result r(path);
    ASSERT_EQ(r.hr, AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(r.video), 6); // everything before the bad chunk
    EXPECT_TRUE(r.ReadsBack(spec));
}

TEST_F(AviDamaged, NotAnAviFile) {
    const std::string path = dir.File("x.avi");
    EXPECT_EQ(Result(dir.File("missing.avi")).hr, AVIERR_FILEOPEN);
    EXPECT_EQ(Result(dir.Path()).hr, AVIERR_FILEOPEN);
    Save(path, {});
    EXPECT_NE(Result(path).hr, AVIERR_OK);
    Save(path, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'});
    EXPECT_EQ(Result(path).hr, AVIERR_BADFORMAT);
    // An AVI without a header list, and one with a hdrl that holds no stream.
    RiffBuilder rb;
    rb.BeginRiff(avi::kAvi);
    rb.BeginList(avi::kMovi);
    rb.End();
    rb.End();
    ASSERT_TRUE(rb.Save(path));
    EXPECT_EQ(Result(path).hr, AVIERR_BADFORMAT);
    RiffBuilder rb2;
    rb2.BeginRiff(avi::kAvi);
    rb2.BeginList(avi::kHdrl);
    rb2.Chunk(avi::kAvih, MainAVIHeader{});
    rb2.End();
    rb2.End();
    ASSERT_TRUE(rb2.Save(path));
    EXPECT_EQ(Result(path).hr, AVIERR_BADFORMAT);

    PAVIFILE f = reinterpret_cast<PAVIFILE>(1);
    EXPECT_EQ(AVIFileOpenA(&f, path.c_str(), OF_READWRITE, nullptr), AVIERR_READONLY);
    EXPECT_EQ(f, nullptr);
}

// A hand-laid file as capture programs write them: JUNK padding, 'rec '
// groups, a LIST of size 0, and idx1 entries for the groups themselves.
TEST_F(AviDamaged, RecListsJunkAndEmptyLists) {
    const TestAviSpec spec = SmallSpec();
    const BITMAPINFOHEADER bi = TestBitmapHeader(spec);
    const DWORD frameSize = bi.biSizeImage;
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
        std::vector<BYTE> junk(301);
        rb.Chunk(avi::kJunk, junk.data(), junk.size());
        const std::size_t movi = rb.BeginList(avi::kMovi) + 8;
        std::vector<AVIINDEXENTRY> idx1;
        rb.U32(avi::kList);
        rb.U32(0); // a list too small to hold its type
        for (int f = 0; f < 4; ++f) {
            const std::size_t rec = rb.BeginList(avi::kRec);
            idx1.push_back({avi::kRec, AVIIF_LIST, static_cast<DWORD>(rec - movi), 0});
            const std::vector<BYTE> data = TestFrameBytes(f, frameSize);
            const std::size_t at = rb.Chunk(avi::StreamChunkId(0, 'd', 'b'), data.data(), data.size());
            idx1.push_back(
                {avi::StreamChunkId(0, 'd', 'b'), AVIIF_KEYFRAME, static_cast<DWORD>(at - movi), frameSize});
            rb.Chunk(avi::kJunk, junk.data(), 3);
            rb.End();
        }
        rb.End();
        if (withIndex)
            rb.Chunk(avi::kIdx1, idx1.data(), idx1.size() * sizeof(AVIINDEXENTRY));
        rb.End();
        const std::string path = dir.File("rec.avi");
        ASSERT_TRUE(rb.Save(path));
        Result r(path);
        ASSERT_EQ(r.hr, AVIERR_OK);
        EXPECT_EQ(r.details.fIndexRebuilt != 0, !withIndex);
        EXPECT_EQ(AVIStreamLength(r.video), 4);
        EXPECT_TRUE(r.ReadsBack(spec));
        // The header suggests no buffer size: the largest chunk is suggested.
        AVISTREAMINFOA info{};
        AVIStreamInfoA(r.video, &info, sizeof info);
        EXPECT_EQ(info.dwSuggestedBufferSize, frameSize);
    }
}

TEST_F(AviDamaged, RebuildReportsProgressAndCanBeCancelled) {
    TestAviSpec spec = SmallSpec();
    spec.width = 640;
    spec.height = 480;
    spec.frames = 40; // 36 MB: large enough to report progress
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
    {
        Result r(path);
        ASSERT_EQ(r.hr, AVIERR_OK);
        ASSERT_FALSE(seen.percents.empty());
        EXPECT_TRUE(std::is_sorted(seen.percents.begin(), seen.percents.end()));
        EXPECT_EQ(seen.percents.back(), 100);
        EXPECT_LE(seen.percents.size(), 101u);
    }
    seen.percents.clear();
    seen.cancel = true;
    EXPECT_EQ(Result(path).hr, AVIERR_USERABORT);
    AVIFileSetIndexProgress(nullptr, nullptr);
}
