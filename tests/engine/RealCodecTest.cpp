// Pictures through the real drivers: palettised frames through the DIB
// driver, and a temporally compressed movie made by the ffmpeg tool through
// the libavcodec driver, where reaching a frame by seeking must give exactly
// the picture that stepping to it gives; and Tavro movies through their own
// codec, alone and over a background.

#include <filesystem>
#include <numeric>

#include "CodecTestUtil.h"
#include "EngineTestSupport.h"
#include "codecs/builtin/BuiltinCodecs.h"
#include "engine/Player.h"
#include "support/Process.h"
#include "support/TestBmp.h"
#include "video/VideoDecoder.h"

using namespace enginetest;
using namespace cadmo::test;

namespace {

// The w x h area at (x, y) of a 24-bit window, top-down BGR rows.
std::vector<BYTE> Area(const WindowSurface& s, int x, int y, int w, int h) {
    WindowSurface::View v = s.Lock();
    std::vector<BYTE> area;
    for (int row = y; row < y + h; ++row) {
        const BYTE* b = v.Bits() + static_cast<std::ptrdiff_t>(row) * v.Stride() + x * 3;
        area.insert(area.end(), b, b + w * 3);
    }
    return area;
}

class RealCodecTest : public ::testing::Test, protected PlayerOnWindow {
protected:
    RealCodecTest() : PlayerOnWindow(24, 64, 48) {}
    void SetUp() override { RegisterBuiltinCodecs(); }
    // The w x h picture at the window's corner, painted afresh.
    std::string Shown(int w, int h) {
        HDC dc = window.GetDC();
        PaintMovie(dc);
        window.ReleaseDC(dc);
        return Md5Hex(Area(*window.surface, 0, 0, w, h));
    }
    // The pictures of frames 0 .. count-1, stepped through from frame 0.
    std::vector<std::string> Stepped(std::size_t count, int w, int h) {
        SeekToFrame(&window, 0);
        std::vector<std::string> shown{Shown(w, h)};
        while (shown.size() < count) {
            StepPlayback(&window, 1);
            shown.push_back(Shown(w, h));
        }
        return shown;
    }
    // Each of `seeks`, reached by seeking, shows the picture `expected` has for it.
    void ExpectSought(const std::vector<std::string>& expected, int w, int h, const std::vector<int>& seeks) {
        for (int f : seeks) {
            SeekToFrame(&window, f);
            EXPECT_EQ(Shown(w, h), expected[static_cast<std::size_t>(f)]) << "sought " << f;
        }
    }
    // Frames 0 .. count-1 drawn in one drawing cycle, as a play draws them;
    // of each, the 320 x 240 area at (x, y) of the window.
    std::vector<std::vector<BYTE>> DrawInOneCycle(int count, int x, int y) {
        std::vector<std::vector<BYTE>> shown;
        HDC dc = window.GetDC();
        EXPECT_EQ(theMovie->BeginDrawing(dc, 0), 0);
        for (int f = 0; f < count; ++f) {
            theMovie->position = f;
            EXPECT_EQ(theMovie->ShowFrame(), 0) << "frame " << f;
            shown.push_back(Area(*window.surface, x, y, 320, 240));
        }
        theMovie->EndDrawing();
        window.ReleaseDC(dc);
        return shown;
    }

    TempDir dir;
};

} // namespace

// A palettised movie whose palette changes twice (at frame 3 entries 0..99,
// at frame 6 entries 50..59), through the DIB driver: every frame, reached
// forwards and by seeking back over the changes, is the picture ffmpeg
// decodes, at 24 bits, and at 8 bits, where the output palette is the
// movie's palette in effect and the colours come out exact.
TEST_F(RealCodecTest, EveryFrameWithThePaletteInEffect) {
    if (!HaveProgram("ffmpeg"))
        GTEST_SKIP() << "the ffmpeg tool is not installed";
    TestAviSpec spec;
    spec.bitCount = 8;
    spec.frames = 8;
    spec.audio = false;
    spec.clrUsed = 256;
    for (int i = 0; i < 256; ++i)
        spec.colors.push_back(RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i * 5), 0});
    spec.paletteChange = [](int f) {
        std::vector<RGBQUAD> colors(f == 6 ? 10 : 0, RGBQUAD{10, 20, 30, 0});
        for (int i = 0; f == 3 && i < 100; ++i)
            colors.push_back(RGBQUAD{BYTE(200 - i), BYTE(i * 2), 77, 0});
        return colors.empty() ? std::vector<BYTE>{}
                              : PaletteChangeRecord(f == 3 ? 0 : 50, BYTE(colors.size()), colors);
    };
    const std::string path = dir.File("palette.avi");
    ASSERT_EQ(WriteTestAvi(path, spec), AVIERR_OK);
    const std::vector<std::string> expected = FfmpegFrameHashes(path, "bgr24");
    ASSERT_EQ(expected.size(), 8u);
    ASSERT_EQ(OpenMovie(&window, path.c_str()), 1);
    for (int bits : {24, 8}) {
        ASSERT_EQ(theMovie->SetDisplayFormat(1.0f, bits, 0, 0, 0), 0) << bits;
        SCOPED_TRACE(bits);
        EXPECT_EQ(Stepped(8, spec.width, spec.height), expected);
        ExpectSought(expected, spec.width, spec.height, {2, 5, 0, 6, 3, 1, 7, 4});
    }
}

// Video with B-frames through the libavcodec driver: stepping to, seeking to
// and playing through any frame shows the picture that ffmpeg numbers for
// it, from the first picture to the last. The MPEG-4 groups are open (their
// first B-frames show before the key frame and need the group before), and
// the plays jump, so catching up from a key frame, the hurry-up decodes and
// the skipping all meet the decoder's delay.
TEST_F(RealCodecTest, FramesWithBFramesShowTheirPictureHoweverReached) {
    if (!HaveProgram("ffmpeg"))
        GTEST_SKIP() << "the ffmpeg tool is not installed";
    struct Sample {
        const char* name;
        const char* options;
        bool packed;
    };
    const Sample samples[] = {
        {"mpeg4", "-c:v mpeg4 -bf 2 -g 8 -q:v 4", false},
        {"mpeg4-no-bframes", "-c:v mpeg4 -bf 0 -g 12 -q:v 4", false},
        {"packed", "-c:v mpeg4 -bf 1 -g 8 -q:v 4", true},
        {"h264", "-c:v libx264 -bf 3 -g 8 -pix_fmt yuv420p", false},
    };
    constexpr LONG kFrames = 30;
    for (const Sample& sample : samples) {
        SCOPED_TRACE(sample.name);
        const std::string path = dir.File(std::string(sample.name) + ".avi");
        ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc=size=64x48:rate=15 -frames:v 30 " +
                           std::string(sample.options) + " " + ShellQuote(path)));
        AviVideo plain;
        if (sample.packed) {
            ASSERT_TRUE(ReadAviVideo(path, plain) && WritePackedBFrames(plain, path));
        }
        const std::vector<std::string> expected = FfmpegFrameHashes(path, "bgr24");
        ASSERT_EQ(expected.size(), static_cast<std::size_t>(kFrames));
        ASSERT_EQ(OpenMovie(&window, path.c_str()), 1);
        ASSERT_EQ(theMovie->SetDisplayFormat(1.0f, 24, 0, 0, 0), 0);

        std::vector<int> seeks;
        for (int i = 0; i < kFrames; ++i)
            seeks.push_back((i * 7 + 3) % kFrames);
        EXPECT_EQ(Stepped(kFrames, 64, 48), expected);
        ExpectSought(expected, 64, 48, seeks);

        // Played by a clock the test sets: once through every frame, then
        // with jumps that catch up from a key frame or skip to the next one.
        FakeClock clock;
        theMovie->SetClock(&clock);
        std::vector<LONG> every(kFrames);
        std::iota(every.begin(), every.end(), 0);
        for (const std::vector<LONG>& frames :
             {every, std::vector<LONG>{0, 1, 3, 4, 6, 11, 12, 15, 22, 23, 26, 29}}) {
            SeekToFrame(&window, 0);
            HDC dc = window.GetDC();
            const DWORD start = clock.system;
            ASSERT_EQ(theMovie->Play(dc), 0);
            for (LONG f : frames) {
                clock.system = start + static_cast<DWORD>(theMovie->FrameToTime(f));
                ASSERT_EQ(theMovie->ShowFrame(), 0) << "due " << f;
                if (theMovie->decodedFrame == f)
                    EXPECT_EQ(Md5Hex(Area(*window.surface, 0, 0, 64, 48)), expected[f]) << "played " << f;
                else
                    EXPECT_NE(frames, every) << "a play frame by frame draws every frame";
            }
            theMovie->Stop();
            window.ReleaseDC(dc);
        }
        theMovie->SetClock(nullptr);
        CloseMovie(&window);
    }
}

// A Tavro movie made by our encoder, 320 x 240, opaque, key frames every
// 12, through its own codec: a frame reached from its key frame gives what
// stepping gives. Over a background the player puts the background back under
// the last frame before each decode, yet within one drawing cycle every frame
// must show just what it shows without a background. A bitmap that declares
// fewer than 256 colours must not shorten the 8-bit output's colour table:
// the codec draws with all of its palette.
TEST_F(RealCodecTest, TavroMovieThroughItsOwnCodec) {
    const std::string encoder = BinDir() + "cadmo-qx47enc";
    if (BinDir().empty() || !std::filesystem::exists(encoder) ||
        !std::filesystem::exists(BinDir() + "libcadmo-codec-qx47.so"))
        GTEST_SKIP() << "the Tavro codec and its encoder are not built";
    const std::string movie = dir.File("qx47.avi");
    ASSERT_EQ(RunCommand(ShellQuote(encoder) +
                         " --quiet --keyint 12 --frames 40 --no-sound --synthetic sprite " +
                         ShellQuote(movie))
                  .exitCode,
              0);
    ASSERT_EQ(OpenMovie(&window, movie.c_str()), 1);
    ASSERT_TRUE(theMovie->decoder->IsTavro());
    ASSERT_TRUE(window.surface->Resize(640, 480, 24));
    ASSERT_EQ(theMovie->SetDisplayFormat(1.0f, 24, 0, 0, 0), 0);
    const std::vector<std::string> stepped = Stepped(30, 640, 480);
    EXPECT_NE(stepped[5], stepped[6]) << "the pictures move";
    ExpectSought(stepped, 640, 480, {17, 5, 29, 12});

    const struct {
        int bits;
        int colors; // declared by the bitmap file
    } cases[] = {{24, 256}, {8, 256}, {8, 16}};
    for (const auto& c : cases) {
        BmpFile bmp(640, 480, c.colors);
        for (std::size_t i = 0; i < bmp.pixels.size(); ++i)
            bmp.pixels[i] = static_cast<BYTE>(i / 7 % c.colors);
        const std::string image = dir.File("back" + std::to_string(c.colors) + ".bmp");
        ASSERT_TRUE(bmp.Save(image));
        ASSERT_EQ(OpenMovie(&window, movie.c_str()), 1);
        ASSERT_EQ(theMovie->SetDisplayFormat(1.0f, c.bits, 0, 0, 0), 0);
        const auto plain = DrawInOneCycle(6, 0, 0);
        ASSERT_EQ(theMovie->SetBackgroundImage(image.c_str()), 0);
        const auto over = DrawInOneCycle(6, 160, 120);
        for (std::size_t f = 0; f < plain.size(); ++f)
            EXPECT_TRUE(over[f] == plain[f]) << c.bits << " bits, " << c.colors << " colours, frame " << f;
    }
}
