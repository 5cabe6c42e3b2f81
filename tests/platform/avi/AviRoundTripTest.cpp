// Files written by AviWriter read back through the AVIFile API with every
// field, sample and key flag intact.
#include "AviTestUtil.h"

#include "support/Process.h"

#include <cstring>
#include <thread>
#include <tuple>

using namespace cadmo::test;

using AviRoundTrip = AviTest;

TEST_F(AviRoundTrip, HeadersAndFormatsSurvive) {
    TestAviSpec spec{.width = 33, .height = 7, .rate = 30000, .scale = 1001, .start = 5, .frames = 100};
    spec.handler = mmioFOURCC('D', 'I', 'B', ' ');
    spec.initialFrames = 2;
    spec.suggestedBufferSize = 4096;
    spec.audioInitialFrames = 3;
    spec.sampleRate = 11025;
    spec.channels = 1;
    spec.bitsPerSample = 8;
    OpenedAvi o(Write(spec));
    AVISTREAMINFOA v{}, a{};
    ASSERT_EQ(AVIStreamInfoA(o.video, &v, sizeof v), AVIERR_OK);
    EXPECT_EQ(std::tuple(v.fccType, v.fccHandler, v.dwRate, v.dwScale, v.dwStart, v.dwLength,
                         v.dwInitialFrames, v.dwSuggestedBufferSize, v.dwSampleSize, v.rcFrame.right,
                         v.rcFrame.bottom),
              std::tuple(streamtypeVIDEO, spec.handler, 30000u, 1001u, 5u, 100u, 2u, 4096u, 0u, 33, 7));
    ASSERT_EQ(AVIStreamInfoA(o.audio, &a, sizeof a), AVIERR_OK);
    EXPECT_EQ(
        std::tuple(a.fccType, a.dwSampleSize, a.dwScale, a.dwRate, a.dwInitialFrames, DWORD{a.dwLength}),
        std::tuple(streamtypeAUDIO, 1u, 1u, 11025u, 3u, DWORD(TestAudioBytesBefore(spec, spec.frames))));

    // The format: size query with no buffer, then the read, never past the
    // caller's size.
    LONG size = 0;
    ASSERT_EQ(AVIStreamReadFormat(o.video, 0, nullptr, &size), AVIERR_OK);
    ASSERT_EQ(size, 40);
    std::vector<BYTE> format(64, 0xee);
    LONG small = 20;
    const HRESULT tooSmall = AVIStreamReadFormat(o.video, 0, format.data(), &small);
    EXPECT_EQ(std::tuple(tooSmall, small, format[20]), std::tuple(AVIERR_BUFFERTOOSMALL, 40, 0xee));
    ASSERT_EQ(AVIStreamReadFormat(o.video, 0, format.data(), &size), AVIERR_OK);
    const BITMAPINFOHEADER expected = TestBitmapHeader(spec);
    EXPECT_EQ(std::memcmp(format.data(), &expected, sizeof expected), 0);

    AVIFILEINFOA fi{};
    ASSERT_EQ(AVIFileInfoA(o.file, &fi, sizeof fi), AVIERR_OK);
    EXPECT_EQ(std::tuple(fi.dwStreams, fi.dwWidth, fi.dwHeight, fi.dwRate, fi.dwScale, fi.dwLength),
              std::tuple(2u, 33u, 7u, 30000u, 1001u, 100u));
}

// Start 5, length 100, key frames every 10th frame (5, 15, ... 95) and the
// conversions at both ends of the stream.
TEST_F(AviRoundTrip, FindSampleAndTimeAtBothEnds) {
    const TestAviSpec spec{.start = 5, .frames = 100, .keyEvery = 10};
    OpenedAvi o(Write(spec));
    EXPECT_EQ(std::tuple(AVIStreamStart(o.video), AVIStreamLength(o.video), AVIStreamEnd(o.video)),
              std::tuple(5, 100, 105));

    // (from, flags, found)
    const LONG prev = FIND_PREV | FIND_KEY, next = FIND_NEXT | FIND_KEY;
    const std::tuple<LONG, LONG, LONG> finds[] = {
        {5, prev, 5},    {14, prev, 5},       {15, prev, 15}, {4, prev, -1},
        {104, prev, 95}, {1 << 30, prev, 95}, {6, next, 15},  {15, next, 15},
        {96, next, -1},  {105, next, -1},     {-7, next, 5},  {50, FIND_NEXT | FIND_ANY, 50}};
    for (const auto& [from, flags, found] : finds)
        EXPECT_EQ(AVIStreamFindSample(o.video, from, flags), found) << from << " " << flags;

    // 15 fps: frame n starts at n * 66.67 ms, rounded up to the first whole
    // ms. No overflow where sample x scale x 1000 passes 32 bits, and
    // saturation past the range.
    const std::pair<LONG, LONG> times[] = {
        {5, 334}, {104, 6934}, {3000000, 200000000}, {0x7fffffff, 0x7fffffff}};
    for (const auto& [sample, ms] : times)
        EXPECT_EQ(AVIStreamSampleToTime(o.video, sample), ms) << sample;
    const std::pair<LONG, LONG> samples[] = {{334, 5}, {333, 4}, {6999, 104}, {7000, 105}};
    for (const auto& [ms, sample] : samples)
        EXPECT_EQ(AVIStreamTimeToSample(o.video, ms), sample) << ms;
    for (LONG n = -3; n < 110; ++n)
        EXPECT_EQ(AVIStreamTimeToSample(o.video, AVIStreamSampleToTime(o.video, n)), n);
    EXPECT_EQ(AVIStreamSampleToTime(nullptr, 1), -1);
}

// Every frame and every byte of audio reads back, across chunk boundaries,
// with the buffer rules of AVIStreamRead.
TEST_F(AviRoundTrip, ReadsEverySampleAndHonoursBufferSizes) {
    TestAviSpec spec{.frames = 20};
    for (int i = 0; i < 20; ++i)
        spec.frameSizes.push_back(i == 7 ? 0 : static_cast<DWORD>(100 + i * 37)); // 7: a dropped frame
    OpenedAvi o(Write(spec));
    EXPECT_TRUE(ReadsBack(o, spec));

    // A read's result, bytes and samples.
    std::vector<BYTE> tiny(10);
    const auto read = [&](PAVISTREAM s, LONG start, LONG n, void* buffer, LONG size) {
        LONG bytes = -1, samples = -1;
        const HRESULT hr = AVIStreamRead(s, start, n, buffer, size, &bytes, &samples);
        return std::tuple(hr, bytes, samples);
    };
    // Too small a buffer, or none, is told the size that is needed.
    EXPECT_EQ(read(o.video, 3, 1, tiny.data(), 10), std::tuple(AVIERR_BUFFERTOOSMALL, 211, 0));
    EXPECT_EQ(read(o.video, 3, 1, nullptr, 0), std::tuple(AVIERR_OK, 211, 1));
    // Outside the stream: nothing read, no error.
    EXPECT_EQ(read(o.video, 20, 1, tiny.data(), 10), std::tuple(AVIERR_OK, 0, 0));
    EXPECT_EQ(read(o.video, -1, 1, tiny.data(), 10), std::tuple(AVIERR_OK, 0, 0));
    EXPECT_EQ(std::get<0>(read(o.video, 0, -5, tiny.data(), 10)), AVIERR_BADPARAM);

    // Audio: 4-byte samples, read in odd-sized pieces that straddle chunks.
    const LONG total = AVIStreamLength(o.audio);
    ASSERT_EQ(total, static_cast<LONG>(TestAudioBytesBefore(spec, 20) / 4));
    std::vector<BYTE> all;
    for (LONG pos = 0; pos < total;) {
        std::vector<BYTE> piece(4 * 333 + 3); // room for 333 whole samples
        const auto [hr, bytes, samples] =
            read(o.audio, pos, 1000, piece.data(), static_cast<LONG>(piece.size()));
        ASSERT_TRUE(hr == AVIERR_OK && samples > 0 && samples <= 333 && bytes == samples * 4)
            << hr << " " << samples << " " << bytes;
        all.insert(all.end(), piece.begin(), piece.begin() + bytes);
        pos += samples;
    }
    EXPECT_EQ(all, TestAudioBytes(0, all.size()));
    EXPECT_EQ(std::get<0>(read(o.audio, 0, 1, tiny.data(), 3)), AVIERR_BUFFERTOOSMALL);
    // A read of a whole block at the very end delivers only what is left.
    EXPECT_EQ(read(o.audio, total - 10, 100, nullptr, 0), std::tuple(AVIERR_OK, 40, 10));
}

// Past the RIFF limit the file becomes OpenDML (AVIX lists, indx + ix##);
// the reader finds every chunk through those indexes, the data reads back,
// and ffprobe reads the file exactly as we do. idx1 offsets may also count
// from the start of the file instead of 'movi'.
TEST_F(AviRoundTrip, OpenDmlAndFileRelativeIdx1ReadBack) {
    TestAviSpec spec{.width = 64, .height = 64, .frames = 300, .keyEvery = 7, .audioFirst = true};
    // Key frames in a stream of a codec that ffprobe does not know: for raw
    // frames it calls every frame key.
    spec.compression = spec.handler = mmioFOURCC('c', 'a', 'd', 'o');
    spec.options.riffLimit = 1 << 20; // 12 KB frames: four RIFF lists or more
    const std::string path = Write(spec, "odml.avi");
    if (HaveProgram("ffprobe"))
        CompareWithFfprobe(path, 300);
    OpenedAvi o(path);
    EXPECT_TRUE(o.details.fOpenDml);
    EXPECT_FALSE(o.details.fIndexRebuilt);
    EXPECT_GE(o.details.dwRiffCount, 4u);
    EXPECT_LT(o.details.dwTotalFrames, 300u); // the first RIFF list's frames only
    EXPECT_EQ(AVIStreamLength(o.video), 300);
    EXPECT_EQ(AVIStreamLength(o.audio), static_cast<LONG>(TestAudioBytesBefore(spec, 300) / 4));
    EXPECT_TRUE(ReadsBack(o, spec));
    for (int f = 0; f < 300; ++f)
        EXPECT_EQ(AVIStreamFindSample(o.video, f, FIND_PREV | FIND_KEY), f / 7 * 7);
    // Index cost stays within 16 bytes per entry.
    EXPECT_LE(AVIStreamIndexBytes(o.video), 16u * 300);
    EXPECT_LE(AVIStreamIndexBytes(o.audio), 16u * 300);

    const TestAviSpec absolute{.options = {.idx1RelativeToFile = true}};
    OpenedAvi abs(Write(absolute, "abs.avi"));
    EXPECT_FALSE(abs.details.fIdx1RelativeToMovi);
    EXPECT_FALSE(abs.details.fIndexRebuilt);
    EXPECT_TRUE(ReadsBack(abs, absolute));
}

// A stream keeps its file alive after the file handle is released; the video
// and audio streams of one file read correctly from two threads at once (the
// playback and sound threads do so on every movie).
TEST_F(AviRoundTrip, StreamsOutliveFileAndReadConcurrently) {
    const TestAviSpec spec{.frames = 60};
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, Write(spec).c_str(), OF_SHARE_DENY_WRITE, nullptr), AVIERR_OK);
    PAVISTREAM video = nullptr, audio = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &video, streamtypeVIDEO, 0), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(file, &audio, 0, 1), AVIERR_OK);
    EXPECT_EQ(AVIFileRelease(file), 2u); // two streams still hold it

    // Each thread reads both streams whole, again and again.
    bool ok[2] = {true, true};
    const auto readAll = [&](bool& result) {
        for (int round = 0; round < 20; ++round)
            result = result && ReadsBack(video, audio, spec);
    };
    std::thread t([&] { readAll(ok[0]); });
    readAll(ok[1]);
    t.join();
    EXPECT_TRUE(ok[0] && ok[1]);
    EXPECT_EQ(AVIStreamRelease(video), 0u);
    EXPECT_EQ(AVIStreamRelease(audio), 0u);
}
