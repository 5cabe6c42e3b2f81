#include "AviTestUtil.h"

#include "support/Process.h"

#include <cstdlib>
#include <numeric>
#include <sstream>
#include <tuple>

using namespace cadmo::test;

bool ReadsBack(PAVISTREAM video, PAVISTREAM audio, const TestAviSpec& spec) {
    bool ok = video != nullptr; // a file that did not open does not read back
    std::vector<BYTE> buffer(1 << 20);
    for (LONG f = AVIStreamStart(video); ok && f < AVIStreamEnd(video); ++f) {
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

std::vector<FfprobeSection> Ffprobe(const std::string& path) {
    // One line per section: "packet|stream_index=0|size=3176|pos=9990|flags=K_".
    const ProcessResult r = RunCommand("ffprobe -v error -of compact -show_entries stream=index,codec_type,"
                                       "codec_tag,width,height,r_frame_rate,sample_rate,channels,"
                                       "bits_per_sample:packet=stream_index,pos,size,flags " +
                                       ShellQuote(path));
    std::vector<FfprobeSection> out;
    std::istringstream lines(r.exitCode == 0 ? r.out : std::string());
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string field;
        std::getline(fields, field, '|');
        FfprobeSection& section = out.emplace_back(FfprobeSection{{"", field}});
        while (std::getline(fields, field, '|'))
            section[field.substr(0, field.find('='))] = field.substr(field.find('=') + 1);
    }
    return out;
}

namespace {

long long Num(const FfprobeSection& s, const std::string& key) {
    const auto it = s.find(key);
    return it == s.end() ? -1 : std::strtoll(it->second.c_str(), nullptr, 0); // codec_tag is hex
}

void CompareStream(PAVISTREAM s, const FfprobeSection& info, const std::vector<FfprobeSection>& packets) {
    const bool video = info.at("codec_type") == "video";
    AVISTREAMINFOA si{};
    ASSERT_EQ(AVIStreamInfoA(s, &si, sizeof si), AVIERR_OK);
    std::vector<BYTE> format(4096);
    LONG formatSize = static_cast<LONG>(format.size());
    ASSERT_EQ(AVIStreamReadFormat(s, 0, format.data(), &formatSize), AVIERR_OK);

    // Our chunks and ffprobe's packets as (position, size, key). ffprobe may
    // split a large PCM chunk into several packets: back to back, they are
    // joined again (chunk headers keep two chunks apart). Sound is all key.
    using Chunks = std::vector<std::tuple<long long, long long, bool>>;
    Chunks ours, theirs;
    for (LONG i = 0; i < AVIStreamChunkCount(s); ++i) {
        AVICHUNKINFO ci{};
        ASSERT_EQ(AVIStreamChunkInfo(s, i, &ci), AVIERR_OK);
        ours.emplace_back(ci.qwOffset, ci.dwSize, !video || ci.fKeyFrame);
    }
    for (const FfprobeSection& p : packets) {
        const long long pos = Num(p, "pos"), size = Num(p, "size");
        if (!video && !theirs.empty() && std::get<0>(theirs.back()) + std::get<1>(theirs.back()) == pos)
            std::get<1>(theirs.back()) += size;
        else
            theirs.emplace_back(pos, size, !video || p.at("flags")[0] == 'K');
    }
    EXPECT_EQ(ours, theirs);

    if (video) {
        const auto& bi = *reinterpret_cast<const BITMAPINFOHEADER*>(format.data());
        const DWORD common = std::gcd(si.dwRate, si.dwScale); // ffprobe prints the fraction reduced
        const std::string rate =
            std::to_string(si.dwRate / common) + "/" + std::to_string(si.dwScale / common);
        using Facts = std::tuple<long long, long long, long long, std::string, long long>;
        EXPECT_EQ(Facts(bi.biWidth, std::abs(bi.biHeight), bi.biCompression, rate, si.dwLength),
                  Facts(Num(info, "width"), Num(info, "height"), Num(info, "codec_tag"),
                        info.at("r_frame_rate"), static_cast<long long>(packets.size())));
    } else {
        const auto& wf = *reinterpret_cast<const WAVEFORMATEX*>(format.data()); // zeros past what was read
        long long bytes = 0;
        for (const FfprobeSection& p : packets)
            bytes += Num(p, "size");
        ASSERT_NE(si.dwSampleSize, 0u);
        using Facts = std::tuple<long long, long long, long long, long long>;
        EXPECT_EQ(Facts(wf.nSamplesPerSec, wf.nChannels, wf.wBitsPerSample, si.dwLength),
                  Facts(Num(info, "sample_rate"), Num(info, "channels"), Num(info, "bits_per_sample"),
                        bytes / si.dwSampleSize));
    }
}

} // namespace

void CompareWithFfprobe(const std::string& path, LONG frames) {
    const std::vector<FfprobeSection> sections = Ffprobe(path);
    OpenedAvi avi(path);
    EXPECT_FALSE(avi.details.fIndexRebuilt);
    EXPECT_EQ(AVIStreamLength(avi.video), frames);
    std::vector<std::string> kinds;
    for (const FfprobeSection& st : sections) {
        if (st.at("") != "stream")
            continue;
        kinds.push_back(st.at("codec_type"));
        SCOPED_TRACE(kinds.back() + " stream");
        std::vector<FfprobeSection> packets;
        for (const FfprobeSection& p : sections)
            if (p.at("") == "packet" && p.at("stream_index") == st.at("index"))
                packets.push_back(p);
        CompareStream(kinds.back() == "video" ? avi.video : avi.audio, st, packets);
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"video", "audio"}));
}
