// Decodes files made by the ffmpeg command line through the codec layer and
// compares every frame with ffmpeg's own decoding of the same file.
#include "CodecTestUtil.h"

#include "codecs/builtin/BuiltinCodecs.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/TestAvi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <span>
#include <thread>

namespace cadmo::test {
namespace {

struct Sample {
    const char* name;
    const char* options; // ffmpeg output options; none: written here (RLE)
};

// 176 x 144 keeps the tests quick; the moving test pattern makes every delta
// frame depend on the one before it.
const Sample kSamples[] = {
    {"cinepak", "-c:v cinepak"},
    {"msvideo1", "-c:v msvideo1"},
    {"mjpeg", "-c:v mjpeg -q:v 4"},
    {"mpeg4", "-c:v mpeg4 -g 6 -q:v 4"},
    {"huffyuv", "-c:v huffyuv"},
    {"ffvhuff", "-c:v ffvhuff"},
    {"h264", "-c:v libx264 -bf 0 -g 6 -pix_fmt yuv420p"},
    // A width the scaler's steps of 16 pixels do not fill.
    {"mpeg4_narrow", "-vf crop=170:144:0:0 -c:v mpeg4 -g 6 -q:v 4"},
    // Planes the raw decoder hands over as they are, with an odd number of
    // rows, which the scaler converts on another path: the driver must leave
    // the picture to it rather than take it over.
    {"i420_odd", "-s 34x7 -c:v rawvideo -pix_fmt yuv420p"},
    // The ffmpeg tool has no RLE encoder: these are written here.
    {"rle8", nullptr},
    {"rle4", nullptr},
};

// Video with B-frames, whose decoders hold pictures back: MPEG-4 part 2 with
// two B-frames in a row (open groups, as ffmpeg makes them), and H.264 (a
// delay of two) in a stream shorter than its delay. The packed layout of
// older encoders, and reaching frames by seeking and playing, go through the
// player in the engine's codec tests.
const Sample kReordered[] = {
    {"mpeg4_bf", "-c:v mpeg4 -bf 2 -g 9 -q:v 4"},
    {"h264_short", "-c:v libx264 -bf 3 -frames:v 2 -pix_fmt yuv420p"},
};

// MS RLE at 8 or 4 bits, 32 x 16, one run per pixel; how a changed table
// reaches the picture is checked through the player in the engine's tests.
bool WriteRunLengths(const std::string& path, WORD bits) {
    TestAviSpec spec;
    spec.bitCount = bits;
    spec.compression = bits == 8 ? BI_RLE8 : BI_RLE4;
    spec.handler = mmioFOURCC('m', 'r', 'l', 'e');
    spec.frames = 3;
    spec.audio = false;
    spec.clrUsed = 1u << bits;
    for (DWORD i = 0; i < spec.clrUsed; ++i)
        spec.colors.push_back(RGBQUAD{BYTE(i * 3), BYTE(255 - i), BYTE(i * 7), 0});
    spec.frameData = [&](int f) {
        std::vector<BYTE> rle;
        for (int row = 0; row < spec.height; ++row) { // bottom row first
            for (int x = 0; x < spec.width; ++x) {
                const BYTE i = BYTE((x * 7 + (spec.height - 1 - row) * 3 + f * 11) & ((1 << bits) - 1));
                rle.insert(rle.end(), {1, BYTE(bits == 8 ? i : i << 4)});
            }
            rle.insert(rle.end(), {0, BYTE(row == spec.height - 1 ? 1 : 0)});
        }
        return rle;
    };
    return WriteTestAvi(path, spec) == AVIERR_OK;
}

// A sample file, made when a test asks for it (each test runs in its own
// process under CTest, so only what a test needs is made) in a folder that
// lasts as long as the process; empty when the file cannot be made.
std::string SamplePath(const std::string& name) {
    static TempDir dir;
    const std::string path = dir.File(name + ".avi");
    for (std::span<const Sample> list :
         {std::span<const Sample>(kSamples), std::span<const Sample>(kReordered)})
        for (const Sample& s : list)
            if (name == s.name && HaveProgram("ffmpeg") &&
                (s.options ? Ffmpeg("-f lavfi -i testsrc2=size=176x144:rate=15 -frames:v 20 " +
                                    std::string(s.options) + " " + ShellQuote(path))
                           : WriteRunLengths(path, name == "rle8" ? 8 : 4)))
                return path;
    return "";
}

// An open decompressor for a sample, with ffmpeg's hashes of its frames and
// a 24-bit frame to decode into.
struct Decoder {
    std::string name;
    AviVideo video;
    std::vector<std::string> expected;
    HIC hic = nullptr;
    OutputFrame out;

    explicit Decoder(const std::string& sample) : name(sample) {
        RegisterBuiltinCodecs();
        const std::string path = SamplePath(name);
        if (path.empty() || !ReadAviVideo(path, video))
            return;
        expected = FfmpegFrameHashes(path, "bgr24");
        hic = ICLocate(ICTYPE_VIDEO, video.handler, reinterpret_cast<BITMAPINFOHEADER*>(video.format.data()),
                       nullptr, ICMODE_DECOMPRESS);
        out = Frame(24);
    }
    ~Decoder() {
        if (hic)
            ICClose(hic);
    }
    LONG Width() const { return video.Header().biWidth; }
    LONG Height() const { return std::abs(video.Header().biHeight); }
    OutputFrame Frame(WORD bpp) const { return MakeOutputFrame(Width(), Height(), bpp); }
    LRESULT Begin(OutputFrame& frame) {
        auto* in = reinterpret_cast<BITMAPINFOHEADER*>(video.format.data());
        return ICDecompressExBegin(hic, 0, in, nullptr, 0, 0, Width(), Height(), &frame.Header(), nullptr, 0,
                                   0, Width(), Height());
    }
};

// Skips the test without the sample; otherwise the codec must be there,
// ffmpeg must give a hash per frame, and the 24-bit frame is begun.
#define REQUIRE_SAMPLE(d, name)                                                                              \
    if ((d).video.frames.empty())                                                                            \
        GTEST_SKIP() << "ffmpeg could not make the " << name << " sample";                                   \
    ASSERT_NE((d).hic, nullptr) << "no codec for " << name;                                                  \
    ASSERT_EQ((d).expected.size(), (d).video.frames.size());                                                 \
    ASSERT_EQ((d).Begin((d).out), ICERR_OK);

class LavcSample : public ::testing::TestWithParam<Sample> {};

// Every frame at 24 bits; the other depths come from the conversion the DIB
// driver shares, checked there. While the player plays, the window thread may
// ask whether a moved picture still fits: the query must not disturb the
// frames being decoded.
TEST_P(LavcSample, EveryFrameMatchesFfmpeg) {
    Decoder d(GetParam().name);
    REQUIRE_SAMPLE(d, d.name);
    OutputFrame& out = d.out;
    std::atomic<int> refusals{0};
    std::jthread window([&, in = d.video.Header(), frame = out.Header()](std::stop_token stop) mutable {
        while (!stop.stop_requested())
            refusals += ICDecompressExQuery(d.hic, 0, &in, nullptr, 0, 0, d.Width(), d.Height(), &frame,
                                            nullptr, 0, 0, d.Width(), d.Height()) != ICERR_OK;
    });
    for (std::size_t i = 0; i < d.video.frames.size(); ++i) {
        ASSERT_EQ(DecodeFrame(d.hic, d.video, i, out), ICERR_OK) << "frame " << i;
        EXPECT_EQ(Md5Hex(TopDownRows(out)), d.expected[i]) << d.name << " frame " << i;
    }
    window.request_stop();
    window.join();
    EXPECT_EQ(refusals, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, LavcSample, ::testing::ValuesIn(kSamples),
                         [](const auto& p) { return std::string(p.param.name); });

// The mpeg4 sample, with a key frame every six. After a seek the caller
// feeds the decoder from a key frame; fed a delta frame first, the driver
// must refuse rather than draw on missing pictures. Damaged frames must fail
// cleanly (the sanitizer run checks that nothing is read or written out of
// bounds) and leave the decoder usable. Catch-up decodes (HURRYUP) keep the
// state without touching the picture; every drawing cycle of the player
// sends a new begin, after which a paused movie resumes with the next delta
// frame, so the begin must keep the state too; an empty frame repeats the
// last picture, or is not drawn before there is one.
TEST(LavcState, DeltaFrameWithoutItsKeyFrameFailsAndLeavesTheFrameAlone) {
    Decoder d("mpeg4");
    REQUIRE_SAMPLE(d, d.name);
    OutputFrame& out = d.out;
    ASSERT_FALSE(d.video.keys[2]);
    ASSERT_TRUE(d.video.keys[6] && d.video.keys[12]);
    AviVideo bad = d.video;
    bad.frames[0].resize(bad.frames[0].size() / 3);
    unsigned seed = 1;
    for (auto& b : bad.frames[1])
        b = static_cast<BYTE>(seed = seed * 1103515245 + 12345) >> 3;
    bad.frames[7].clear();
    const auto decode = [&](const AviVideo& v, std::size_t i, DWORD flags = 0) {
        return DecodeFrame(d.hic, v, i, out, flags);
    };
    EXPECT_EQ(decode(bad, 7), ICERR_DONTDRAW) << "nothing to repeat yet";
    const std::vector<BYTE> untouched = out.bits;
    EXPECT_EQ(decode(d.video, 2), ICERR_ERROR);
    EXPECT_EQ(out.bits, untouched);
    EXPECT_EQ(decode(d.video, 3), ICERR_ERROR);
    decode(bad, 0);
    decode(bad, 1);

    ASSERT_EQ(decode(d.video, 6), ICERR_OK);
    EXPECT_EQ(Md5Hex(TopDownRows(out)), d.expected[6]);
    const std::vector<BYTE> shown = out.bits;
    ASSERT_EQ(decode(d.video, 7, ICDECOMPRESS_HURRYUP), ICERR_OK);
    ASSERT_EQ(decode(d.video, 8, ICDECOMPRESS_HURRYUP), ICERR_OK);
    EXPECT_EQ(out.bits, shown);
    OutputFrame out16 = d.Frame(16);
    ASSERT_EQ(d.Begin(out16), ICERR_OK);
    ASSERT_EQ(d.Begin(out), ICERR_OK);
    ASSERT_EQ(decode(d.video, 9), ICERR_OK);
    EXPECT_EQ(Md5Hex(TopDownRows(out)), d.expected[9]);
    out.bits.assign(out.bits.size(), 0);
    EXPECT_EQ(decode(bad, 7), ICERR_OK);
    EXPECT_EQ(Md5Hex(TopDownRows(out)), d.expected[9]) << "the empty frame repeats the last picture";
    ASSERT_EQ(decode(d.video, 12), ICERR_OK);
    EXPECT_EQ(Md5Hex(TopDownRows(out)), d.expected[12]) << "a later key frame works at once";
}

LONG Delay(HIC hic) {
    return std::max<LONG>(0, static_cast<LONG>(ICSendMessage(hic, ICM_DECOMPRESS_GET_DELAY, 0, 0)));
}

// Feeds the chunks as the player does for a reordering codec: frame n's
// picture comes with chunk n + delay, the delay asked again after each
// chunk, empty end-of-stream frames past the last. One hash (or the answer)
// per frame.
std::vector<std::string> DecodeReordered(const Decoder& d, OutputFrame& out) {
    std::vector<std::string> got;
    std::size_t fed = 0;
    LONG delay = Delay(d.hic);
    for (std::size_t n = 0; n < d.video.frames.size(); ++n) {
        LRESULT r = ICERR_OK;
        while (fed <= n + delay) {
            r = DecodeFrame(d.hic, d.video, fed, out, fed < n + delay ? ICDECOMPRESS_HURRYUP : 0);
            ++fed;
            delay = std::max(delay, Delay(d.hic));
        }
        got.push_back(r == ICERR_OK ? Md5Hex(TopDownRows(out)) : "answer " + std::to_string(r));
    }
    return got;
}

class LavcReordered : public ::testing::TestWithParam<Sample> {};

// Every frame shows the picture ffmpeg numbers for it, the first frame the
// first picture and the last the last. Draining more than the decoder holds,
// or before it has anything, shows the last picture or nothing, and damaged
// data in the middle of a run is refused and survived: after a flush the
// stream plays as before.
TEST_P(LavcReordered, EveryFrameMatchesFfmpegAndDamageIsSurvived) {
    Decoder d(GetParam().name);
    REQUIRE_SAMPLE(d, d.name);
    const std::size_t end = d.video.frames.size();
    OutputFrame& out = d.out;
    EXPECT_EQ(Delay(d.hic), 0) << "known only from the stream";
    EXPECT_EQ(DecodeFrame(d.hic, d.video, end, out), ICERR_DONTDRAW) << "nothing to drain yet";
    EXPECT_EQ(DecodeReordered(d, out), d.expected);
    EXPECT_EQ(Delay(d.hic), d.name.rfind("h264", 0) == 0 ? 2 : 1);
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(DecodeFrame(d.hic, d.video, end, out), ICERR_OK);
    EXPECT_EQ(Md5Hex(TopDownRows(out)), d.expected.back());

    AviVideo bad = d.video;
    unsigned seed = 7;
    for (std::size_t i = 1; i < std::min<std::size_t>(5, end); ++i)
        for (auto& b : bad.frames[i])
            b = static_cast<BYTE>((seed = seed * 1103515245 + 12345) >> 16);
    for (std::size_t i = 0; i < 8; ++i)
        DecodeFrame(d.hic, bad, i, out);
    for (int i = 0; i < 20; ++i)
        DecodeFrame(d.hic, bad, end, out);
    ASSERT_EQ(ICSendMessage(d.hic, ICM_DECOMPRESS_FLUSH, 0, 0), ICERR_OK);
    EXPECT_EQ(DecodeReordered(d, out), d.expected);
}

INSTANTIATE_TEST_SUITE_P(Files, LavcReordered, ::testing::ValuesIn(kReordered),
                         [](const auto& p) { return std::string(p.param.name); });

// The picture lands at the requested place of a larger frame, whatever the
// frame's layout (rows bottom-up or top-down, memory starting on 16 bytes or
// not), for planar pictures of every chroma layout and at a width the
// scaler's steps do not fill; no other byte of the frame, nor any outside
// it, changes.
TEST(LavcOutput, EveryPlacementAndLayoutGivesThePictureAndNothingElse) {
    for (const std::string name : {"h264", "huffyuv", "mjpeg", "mpeg4_narrow"}) {
        Decoder d(name); // every sample starts with a key frame, to start again from
        REQUIRE_SAMPLE(d, d.name);
        for (const LONG sign : {1, -1}) {
            for (const std::size_t misalign : {0, 4}) {
                SCOPED_TRACE(testing::Message()
                             << name << " height " << sign << " misaligned by " << misalign);
                const LONG w = d.Width(), h = d.Height(), x = 8, y = 4;
                OutputFrame big = MakeOutputFrame(w + 20, sign * (h + 10), 24);
                const std::size_t row = big.bits.size() / static_cast<std::size_t>(h + 10);
                std::vector<BYTE> memory(big.bits.size() + 128, 0xcd);
                BYTE* bits =
                    memory.data() + 64 - reinterpret_cast<std::uintptr_t>(memory.data()) % 16 + misalign;
                // Picture row r (from the top) in memory: y counts rows from
                // the bottom of a bottom-up frame, from the top of the other.
                const auto pictureRow = [&](LONG r) {
                    return bits + row * (sign > 0 ? y + h - 1 - r : y + r) + x * 3;
                };
                ASSERT_EQ(d.Begin(big), ICERR_OK);
                auto* in = reinterpret_cast<BITMAPINFOHEADER*>(d.video.format.data());
                for (std::size_t i = 0; i < d.video.frames.size(); ++i) {
                    in->biSizeImage = static_cast<DWORD>(d.video.frames[i].size());
                    ASSERT_EQ(ICDecompressEx(d.hic, 0, in, d.video.frames[i].data(), 0, 0, w, h,
                                             &big.Header(), bits, x, y, w, h),
                              ICERR_OK);
                    std::vector<BYTE> picture;
                    for (LONG r = 0; r < h; ++r)
                        picture.insert(picture.end(), pictureRow(r), pictureRow(r) + w * 3);
                    EXPECT_EQ(Md5Hex(picture), d.expected[i]) << "frame " << i;
                }
                for (LONG r = 0; r < h; ++r)
                    std::fill_n(pictureRow(r), w * 3, 0xcd);
                EXPECT_EQ(std::count(memory.begin(), memory.end(), 0xcd), std::ssize(memory));
            }
        }
    }
}

TEST(LavcLocate, FindsTheCodecByCompressionOrStreamHandlerInAnyCase) {
    RegisterBuiltinCodecs();
    BITMAPINFOHEADER in{40, 64, 48, 1, 24, mmioFOURCC('x', 'V', 'i', 'D'), 0, 0, 0, 0, 0};
    HIC hic = ICLocate(ICTYPE_VIDEO, 0, &in, nullptr, ICMODE_DECOMPRESS);
    EXPECT_NE(hic, nullptr);
    ICClose(hic);
    in.biCompression = mmioFOURCC('Z', 'Z', 'Z', 'Z');
    EXPECT_EQ(ICLocate(ICTYPE_VIDEO, 0, &in, nullptr, ICMODE_DECOMPRESS), nullptr);
    hic = ICLocate(ICTYPE_VIDEO, mmioFOURCC('d', 'i', 'v', 'x'), &in, nullptr, ICMODE_DECOMPRESS);
    EXPECT_NE(hic, nullptr);
    ICClose(hic);
    // Outputs the driver cannot produce are refused at the query.
    in.biCompression = mmioFOURCC('M', 'J', 'P', 'G');
    BITMAPINFOHEADER out{40, 64, 48, 1, 15, BI_RGB, 0, 0, 0, 0, 0};
    EXPECT_EQ(ICLocate(ICTYPE_VIDEO, 0, &in, &out, ICMODE_DECOMPRESS), nullptr);
    out.biBitCount = 32;
    hic = ICLocate(ICTYPE_VIDEO, 0, &in, &out, ICMODE_DECOMPRESS);
    EXPECT_NE(hic, nullptr);
    ICClose(hic);
}

} // namespace
} // namespace cadmo::test
