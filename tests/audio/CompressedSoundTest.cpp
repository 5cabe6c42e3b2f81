// Compressed sound made by the ffmpeg command line, decoded the way the movie
// plays it (CompressedSound, through the Audio Compression Manager and the
// ring) and compared with ffmpeg's own decoding of the same file.
#include "audio/CompressedSound.h"

#include "CodecTestUtil.h"
#include "EngineTestSupport.h"
#include "Tones.h"
#include "support/OpenedAvi.h"
#include "support/Process.h"

#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <tuple>

namespace cadmo::test {
namespace {

struct Kind {
    const char* name;
    const char* options; // ffmpeg's audio encoding options
    // The largest difference from the continuous decode after a seek. MPEG
    // layer 2's fixed-point synthesis carries its rounding error from sample
    // to sample (1 LSB); AC-3 fills zero-bit mantissas with dither and
    // ffmpeg's AAC encoder uses noise substitution, and a seek cannot replay
    // their decoders' random generators (noise 40 dB below full scale). A
    // half-decoded first frame would be far louder than either.
    int seekTolerance;
};

// Two seconds of a rising tone on the left and a steady one on the right, so
// that a lost, doubled or swapped stretch shows.
const Kind kKinds[] = {
    {"mp3", "-c:a libmp3lame -b:a 128k", 0},
    {"mp3vbr", "-c:a libmp3lame -q:a 4", 0},
    {"mp2", "-c:a mp2", 1},
    {"ima", "-c:a adpcm_ima_wav", 0},
    {"msadpcm", "-c:a adpcm_ms", 0},
    {"mulaw", "-c:a pcm_mulaw", 0},
    {"alaw", "-c:a pcm_alaw", 0},
    {"ac3", "-c:a ac3", 300},
    {"aac", "-c:a aac", 300},
};
constexpr DWORD kRate = 44100;

struct SoundFile {
    std::string path;
    std::vector<std::int16_t> reference; // ffmpeg's decoding, interleaved stereo
};

// The file of a kind with its reference PCM, made on first use and kept for
// the other tests; null without ffmpeg.
const SoundFile* MakeFile(const Kind& kind) {
    static TempDir dir;
    static std::map<std::string, SoundFile> made;
    if (auto it = made.find(kind.name); it != made.end())
        return &it->second;
    const std::string path = dir.File(std::string(kind.name) + ".avi");
    if (!HaveProgram("ffmpeg") ||
        !Ffmpeg("-f lavfi -i 'aevalsrc=sin(2*PI*(200+300*t)*t)|0.5*sin(2*PI*330*t):s=44100:d=2' " +
                std::string(kind.options) + " " + ShellQuote(path)) ||
        !Ffmpeg("-i " + ShellQuote(path) + " -f s16le " + ShellQuote(path + ".pcm")))
        return nullptr;
    return &(made[kind.name] = SoundFile{path, ReadRawFile(path + ".pcm")});
}

// An open audio stream and its decoder.
struct Sound : OpenedAvi {
    AVISTREAMINFOA info{};
    WAVEFORMATEX pcm{};
    CompressedSound sound;
    bool open = false;

    explicit Sound(const std::string& path) : OpenedAvi(path) {
        open =
            audio && AVIStreamInfoA(audio, &info, sizeof info) == AVIERR_OK && sound.Open(audio, info, pcm);
    }
    // Everything from `sample` on, a quarter second at a time as the ring asks.
    std::vector<std::int16_t> DecodeFrom(LONG sample, LONG* time = nullptr) {
        const LONG start = sound.Start(sample);
        if (time)
            *time = start;
        std::vector<std::int16_t> all;
        std::vector<std::int16_t> block(kRate / 4 * pcm.nChannels);
        for (int i = 0; i < 1000; ++i) {
            const LONG got =
                sound.Fill(reinterpret_cast<BYTE*>(block.data()), static_cast<LONG>(block.size() * 2));
            all.insert(all.end(), block.begin(), block.begin() + got / 2);
            if (got < static_cast<LONG>(block.size() * 2))
                break;
        }
        return all;
    }
};

class CompressedSoundTest : public ::testing::TestWithParam<Kind> {};

// The whole stream, and the stream from a seek, are ffmpeg's samples exactly:
// the seek starts at the sample of its time, built on a decoder fed from
// before it (no half-decoded first frame), as a continuous decode has them.
TEST_P(CompressedSoundTest, DecodesAsFfmpegDoesFromTheStartAndFromASeek) {
    const Kind& kind = GetParam();
    const SoundFile* file = MakeFile(kind);
    if (file == nullptr)
        GTEST_SKIP() << "ffmpeg cannot make " << kind.name;
    const std::vector<std::int16_t>& expected = file->reference;
    Sound s(file->path);
    ASSERT_TRUE(s.open);
    EXPECT_EQ(std::tuple(s.pcm.wFormatTag, s.pcm.nChannels, s.pcm.nSamplesPerSec, s.pcm.wBitsPerSample),
              std::tuple(WAVE_FORMAT_PCM, 2, kRate, 16));
    EXPECT_TRUE(s.DecodeFrom(0) == expected) << "the decoded sound differs from ffmpeg's";

    for (LONG ms : {1000, 1337, 77}) {
        SCOPED_TRACE(ms);
        LONG time = -1;
        const std::vector<std::int16_t> seeked = s.DecodeFrom(AVIStreamTimeToSample(s.audio, ms), &time);
        // Within one codec frame (at most 2048 samples here) before the time asked.
        EXPECT_LE(time, ms);
        EXPECT_GE(time, ms - 2048 * 1000 / static_cast<LONG>(kRate) - 1);
        const std::size_t at = (static_cast<std::size_t>(time) * kRate + 500) / 1000 * 2;
        ASSERT_EQ(seeked.size(), expected.size() - at);
        int worst = 0;
        for (std::size_t i = 0; i < seeked.size(); ++i)
            worst = std::max(worst, std::abs(seeked[i] - expected[at + i]));
        EXPECT_LE(worst, kind.seekTolerance) << "the sound after a seek differs from the continuous decode";
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, CompressedSoundTest, ::testing::ValuesIn(kKinds),
                         [](const auto& p) { return std::string(p.param.name); });

// Garbage where MPEG audio or ADPCM should be, and headers that lie: either
// refused at open or played to its end as silence or noise of the stream's
// length, quickly, without a crash. One garbage stream for each way the
// converter frames its input: parsed (MPEG audio) and in blocks (ADPCM).
TEST(CompressedSoundHostileTest, GarbageDataEndsAndLyingHeadersAreRefused) {
    TempDir dir;
    std::mt19937 random(13);
    std::vector<std::int16_t> noise(2 * kRate * 2);
    for (auto& v : noise)
        v = static_cast<std::int16_t>(random());
    TestAviSpec base;
    base.video = false;
    base.frames = 0;
    base.sampleRate = kRate;
    base.audioContent = noise;
    // A time base that puts the stream's first sample ages away (found by
    // fuzzing): the run-in dropped before a start must not overflow.
    const std::vector<std::pair<std::size_t, DWORD>> farAway = {
        {offsetof(AVIStreamHeader, dwStart), 671088640},
        {offsetof(AVIStreamHeader, dwScale), 2316632063u},
        {offsetof(AVIStreamHeader, dwRate), 125}};
    struct Case {
        const char* what;
        WORD tag, bits, blockAlign, channels;
        int extra;
        bool opens;
        std::vector<std::pair<std::size_t, DWORD>> patches = {};
    } cases[] = {
        {"MP3 in blocks of 1152", 0x0055, 0, 1152, 2, 12, true},
        {"IMA ADPCM of random bytes", 0x0011, 4, 1024, 2, 2, true},
        {"MP3 whose start lies ages away", 0x0055, 0, 1152, 2, 12, true, farAway},
        {"IMA ADPCM with no channels", 0x0011, 4, 1024, 0, 2, false},
        {"IMA ADPCM of 60 bits a sample", 0x0011, 60, 1024, 2, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestAviSpec spec = base;
        spec.formatTag = c.tag;
        spec.bitsPerSample = c.bits;
        spec.blockAlign = c.blockAlign;
        spec.channels = c.channels;
        spec.extraFormatBytes = c.extra;
        spec.audioSamples = static_cast<DWORD>(noise.size() * 2 / c.blockAlign);
        spec.audioHeaderPatches = c.patches;
        const std::string path = dir.File("garbage.avi");
        ASSERT_EQ(WriteTestAvi(path, spec), AVIERR_OK);
        Sound s(path);
        ASSERT_NE(s.audio, nullptr);
        EXPECT_EQ(s.open, c.opens);
        if (!s.open)
            continue;
        const auto begin = std::chrono::steady_clock::now();
        const std::vector<std::int16_t> heard = s.DecodeFrom(static_cast<LONG>(s.info.dwStart));
        EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
        // At most the stream's length in time, and a block of silence more.
        const double seconds = static_cast<double>(s.info.dwLength) * s.info.dwScale / s.info.dwRate;
        EXPECT_LE(heard.size() / 2, static_cast<std::size_t>(seconds * kRate) + kRate);
    }
}

// The converter itself, fed the way a caller with other buffers would: IMA
// ADPCM (which the ring reads in whole blocks) in pieces that cut blocks
// anywhere (what is left unused comes again with the next piece), into a
// destination smaller than a block. Not a sample may be lost or doubled, and a
// length beyond what was prepared, which would read past the caller's
// buffer, is refused.
TEST(AcmStreamTest, SourceCutAnywhereAndSmallDestinationsLoseNothing) {
    const SoundFile* file = MakeFile(kKinds[3]);
    if (file == nullptr)
        GTEST_SKIP() << "no ffmpeg";
    Sound s(file->path);
    ASSERT_TRUE(s.open);
    // The whole stream in one read (its samples are whole blocks), and its format.
    std::vector<BYTE> data(std::size_t{s.info.dwLength} * s.info.dwSampleSize), format(4096);
    LONG bytes = 0, size = static_cast<LONG>(format.size());
    ASSERT_EQ(AVIStreamRead(s.audio, 0, static_cast<LONG>(s.info.dwLength), data.data(),
                            static_cast<LONG>(data.size()), &bytes, nullptr),
              AVIERR_OK);
    ASSERT_EQ(bytes, static_cast<LONG>(data.size()));
    ASSERT_EQ(AVIStreamReadFormat(s.audio, 0, format.data(), &size), AVIERR_OK);
    const auto* source = reinterpret_cast<const WAVEFORMATEX*>(format.data());
    HACMSTREAM acm = nullptr;
    ASSERT_EQ(acmStreamOpen(&acm, nullptr, source, &s.pcm, nullptr, 0, 0, 0), MMSYSERR_NOERROR);

    std::vector<BYTE> src(1000 + source->nBlockAlign), dst(332);
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = src.data();
    h.cbSrcLength = static_cast<DWORD>(src.size());
    h.pbDst = dst.data();
    h.cbDstLength = static_cast<DWORD>(dst.size());
    ASSERT_EQ(acmStreamPrepareHeader(acm, &h, 0), MMSYSERR_NOERROR);
    std::vector<std::int16_t> out;
    std::size_t taken = 0, have = 0;
    for (int guard = 0; guard < 1000000; ++guard) {
        const std::size_t piece = std::min({std::size_t{1000}, data.size() - taken, src.size() - have});
        std::memcpy(src.data() + have, data.data() + taken, piece);
        taken += piece;
        have += piece;
        const bool last = taken == data.size();
        h.cbSrcLength = static_cast<DWORD>(have);
        ASSERT_EQ(acmStreamConvert(acm, &h, last ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN),
                  MMSYSERR_NOERROR);
        std::memmove(src.data(), src.data() + h.cbSrcLengthUsed, have - h.cbSrcLengthUsed);
        have -= h.cbSrcLengthUsed;
        const auto* pcm = reinterpret_cast<const std::int16_t*>(dst.data());
        out.insert(out.end(), pcm, pcm + h.cbDstLengthUsed / 2);
        if (last && have == 0 && h.cbDstLengthUsed == 0)
            break;
    }
    EXPECT_TRUE(out == file->reference) << out.size() << " samples";
    h.cbSrcLength = static_cast<DWORD>(src.size()) + 1;
    EXPECT_EQ(acmStreamConvert(acm, &h, 0), MMSYSERR_INVALPARAM) << "more than was prepared";
    h.cbSrcLength = static_cast<DWORD>(src.size());
    acmStreamUnprepareHeader(acm, &h, 0);
    acmStreamClose(acm, 0);
}

// The ring plays decoded MP3: the movie opens its device on the PCM format,
// the audio clock starts at the time of the sample asked for, and the first
// block queued is ffmpeg's sound from there. Initial frames count MPEG frames
// here, not ring blocks: 40 of them (about a second, as interleaving tools
// write) neither refuse the sound nor stretch the prefill.
class CompressedRingTest : public ::testing::Test, protected enginetest::MovieSound {
protected:
    void SetUp() override { WaveSetBackend(WaveBackend::Null); }
    void TearDown() override { movie.Stop(); }
};

TEST_F(CompressedRingTest, TheRingQueuesDecodedSoundFromTheSeekTime) {
    const SoundFile* mp3 = MakeFile(kKinds[0]);
    if (mp3 == nullptr)
        GTEST_SKIP() << "no ffmpeg";
    TempDir dir;
    const std::string initial = dir.File("initial.avi");
    std::filesystem::copy_file(mp3->path, initial);
    ASSERT_TRUE(PatchStreamHeader(initial, streamtypeAUDIO, offsetof(AVIStreamHeader, dwInitialFrames), 40));
    // The file holds sound alone, no video to play from: the sound is started
    // directly.
    OpenSound(initial);
    const LONG sample = AVIStreamTimeToSample(movie.audioStream, 200);
    ASSERT_EQ(movie.StartAudio(sample), 0);
    EXPECT_EQ(std::pair(movie.samplesPerSecond, movie.bytesPerSecond),
              std::pair(LONG{kRate}, LONG{kRate * 4}));
    EXPECT_EQ(movie.audioBaseTime, AVIStreamSampleToTime(movie.audioStream, sample));
    EXPECT_EQ(movie.ringQueued, 7);
    const auto* first = reinterpret_cast<const WAVEHDR*>(movie.waveBuffers[0].get());
    ASSERT_EQ(first->dwBufferLength, kRate / 4 * 4);
    const std::size_t at = (static_cast<std::size_t>(movie.audioBaseTime) * kRate + 500) / 1000 * 2;
    EXPECT_EQ(std::memcmp(first->lpData, mp3->reference.data() + at, first->dwBufferLength), 0);
    movie.Stop();
    EXPECT_EQ(movie.compressedSound, nullptr);
}

} // namespace
} // namespace cadmo::test
