#include "AviTestUtil.h"

#include "support/Process.h"

#include <cstring>
#include <numeric>
#include <vector>

using namespace cadmo::test;

bool ReadsBack(const OpenedAvi& avi, const TestAviSpec& spec) {
    bool ok = true;
    std::vector<BYTE> buffer(1 << 20);
    for (LONG f = AVIStreamStart(avi.video); avi.video && f < AVIStreamEnd(avi.video); ++f) {
        LONG bytes = 0;
        ok = ok && AVIStreamRead(avi.video, f, 1, buffer.data(), 1 << 20, &bytes, nullptr) == AVIERR_OK;
        const std::vector<BYTE> want = TestFrameBytes(f, TestFrameSize(spec, f));
        ok = ok && bytes == static_cast<LONG>(want.size()) &&
             std::equal(want.begin(), want.end(), buffer.begin());
    }
    if (avi.audio) {
        LONG bytes = 0;
        const LONG n = AVIStreamLength(avi.audio);
        ok = ok && AVIStreamRead(avi.audio, 0, n, buffer.data(), 1 << 20, &bytes, nullptr) == AVIERR_OK;
        ok = ok && std::equal(buffer.begin(), buffer.begin() + bytes, TestAudioBytes(0, bytes).begin());
    }
    return ok;
}

namespace {

struct Packet {
    long long pos;
    long long size;
    bool key;
};

std::vector<Packet> PacketsOf(const std::vector<FfprobeRecord>& records, long long streamIndex) {
    std::vector<Packet> out;
    for (const FfprobeRecord& p : records)
        if (p.section == "packet" && p.Int("stream_index") == streamIndex)
            out.push_back({p.Int("pos"), p.Int("size"), p.Str("flags").find('K') != std::string::npos});
    return out;
}

void CompareStream(PAVISTREAM s, const FfprobeRecord& info, const std::vector<Packet>& packets, bool video) {
    AVISTREAMINFOA si{};
    ASSERT_EQ(AVIStreamInfoA(s, &si, sizeof si), AVIERR_OK);
    LONG formatSize = 0;
    ASSERT_EQ(AVIStreamReadFormat(s, 0, nullptr, &formatSize), AVIERR_OK);
    std::vector<BYTE> format(static_cast<std::size_t>(formatSize));
    ASSERT_EQ(AVIStreamReadFormat(s, 0, format.data(), &formatSize), AVIERR_OK);

    // Video packets are chunks. ffprobe may split a large PCM chunk into
    // several packets; each must then lie within one of our chunks, in order,
    // and together fill it.
    const LONG chunks = AVIStreamChunkCount(s);
    if (video) {
        ASSERT_EQ(chunks, static_cast<LONG>(packets.size()));
    }
    std::size_t next = 0;
    for (LONG i = 0; i < chunks; ++i) {
        AVICHUNKINFO ci{};
        ASSERT_EQ(AVIStreamChunkInfo(s, i, &ci), AVIERR_OK);
        const long long begin = static_cast<long long>(ci.qwOffset), end = begin + ci.dwSize;
        long long at = begin;
        while (next < packets.size() && packets[next].pos == at && at < end) {
            if (video) {
                EXPECT_EQ(ci.fKeyFrame != 0, packets[next].key) << "chunk " << i;
            }
            at += packets[next++].size;
            if (video)
                break;
        }
        ASSERT_EQ(at, end) << "chunk " << i;
    }
    EXPECT_EQ(next, packets.size());

    if (video) {
        ASSERT_GE(format.size(), sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER bi;
        std::memcpy(&bi, format.data(), sizeof bi);
        EXPECT_EQ(bi.biWidth, info.Int("width"));
        EXPECT_EQ(std::abs(bi.biHeight), info.Int("height"));
        EXPECT_EQ(bi.biCompression, static_cast<DWORD>(std::stoul(info.Str("codec_tag"), nullptr, 16)));
        const DWORD common = std::gcd(si.dwRate, si.dwScale); // ffprobe prints the fraction reduced
        EXPECT_EQ(info.Str("r_frame_rate"),
                  std::to_string(si.dwRate / common) + "/" + std::to_string(si.dwScale / common));
        if (info.Int("nb_frames") >= 0) {
            EXPECT_EQ(static_cast<long long>(si.dwLength), info.Int("nb_frames"));
        }
        EXPECT_EQ(static_cast<long long>(si.dwLength), static_cast<long long>(packets.size()));
    } else {
        ASSERT_GE(format.size(), sizeof(PCMWAVEFORMAT));
        WAVEFORMATEX wf{};
        std::memcpy(&wf, format.data(), std::min(format.size(), sizeof wf));
        EXPECT_EQ(static_cast<long long>(wf.nSamplesPerSec), info.Int("sample_rate"));
        EXPECT_EQ(static_cast<long long>(wf.nChannels), info.Int("channels"));
        EXPECT_EQ(static_cast<long long>(wf.wBitsPerSample), info.Int("bits_per_sample"));
        const long long bytes = std::accumulate(packets.begin(), packets.end(), 0LL,
                                                [](long long sum, const Packet& p) { return sum + p.size; });
        ASSERT_NE(si.dwSampleSize, 0u);
        EXPECT_EQ(static_cast<long long>(si.dwLength), bytes / si.dwSampleSize);
    }
}

} // namespace

void CompareWithFfprobe(const std::string& path, LONG frames) {
    const std::vector<FfprobeRecord> records = RunFfprobe(path);
    ASSERT_FALSE(records.empty()) << path;
    OpenedAvi avi(path);
    ASSERT_EQ(avi.hr, AVIERR_OK);
    EXPECT_FALSE(avi.details.fIndexRebuilt);
    AVIFILEINFOA fi{};
    AVIFileInfoA(avi.file, &fi, sizeof fi);
    EXPECT_EQ(fi.dwStreams, 2u);

    int videos = 0, audios = 0;
    for (const FfprobeRecord& st : records) {
        if (st.section != "stream")
            continue;
        const bool video = st.Str("codec_type") == "video";
        ++(video ? videos : audios);
        SCOPED_TRACE(st.Str("codec_type") + " stream " + std::to_string(st.Int("index")));
        ASSERT_NE(video ? avi.video : avi.audio, nullptr);
        CompareStream(video ? avi.video : avi.audio, st, PacketsOf(records, st.Int("index")), video);
    }
    EXPECT_EQ(videos, 1);
    EXPECT_EQ(audios, 1);
    EXPECT_EQ(AVIStreamLength(avi.video), frames);
}
