// qx47 against ffmpeg's Cinepak on the same frames, in the same run:
// size, PSNR (over B, G, R), decode speed to 24 bits, and the time budget.
//
//   cadmo-bench-qx47 [--seconds S] [--scene testsrc2|landscape|both] [--work DIR]
//   cadmo-bench-qx47 --decode WORK/STREAM.qx47s   (decode speed of a saved stream only)
//   cadmo-bench-qx47 --scene S --quality Q        (one stream at quality Q, kept in WORK)
//
// qx47 is shown three ways: the best quality within Cinepak's size, the
// smallest stream that reaches Cinepak's PSNR (the one whose speed to compare),
// and the two-layer stream within Cinepak's size.
//
// Needs the ffmpeg and ffprobe programs. Cinepak's encoder is slow (minutes
// for 10 s of 640 x 480). Decode speed is CPU time: ours through the codec
// messages of the driver library into a 24-bit frame, ffmpeg's from its
// -benchmark figures (utime + stime) with -threads 1, everything included.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "SyntheticScene.h"
#include "codecs/qx47/Encoder.h"
#include "codecs/qx47/Qx47State.h"
#include "platform/vfw/Vfw.h"

namespace {

using namespace qx47;

constexpr int kW = 640, kH = 480, kFps = 30;
constexpr std::size_t kFrameBytes = static_cast<std::size_t>(kW) * kH * 3;

double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

std::string Run(const std::string& cmd) {
    std::string out;
    if (std::FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

// Frames are kept in memory: 10 s of 640 x 480 is 276 MB.
using Frames = std::vector<std::vector<std::uint8_t>>;

bool ReadRaw(const std::string& cmd, int count, Frames& frames) {
    std::FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return false;
    for (int i = 0; i < count; ++i) {
        std::vector<std::uint8_t> f(kFrameBytes);
        if (std::fread(f.data(), 1, f.size(), p) != f.size())
            break;
        frames.push_back(std::move(f));
    }
    pclose(p);
    return static_cast<int>(frames.size()) == count;
}

double Psnr(const Frames& a, const Frames& b) {
    double se = 0, n = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        for (std::size_t k = 0; k < a[i].size(); ++k) {
            double d = double(a[i][k]) - b[i][k];
            se += d * d;
        }
        n += static_cast<double>(a[i].size());
    }
    return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * n / se);
}

struct Encoded {
    std::vector<std::vector<std::uint8_t>> frames;
    std::size_t bytes = 0;
    int quality = 0;
    int width = kW, height = kH;
};

Encoded Encode(const Frames& src, int quality, bool refinement, int width = kW, int height = kH) {
    EncoderSettings s;
    s.width = width;
    s.height = height;
    s.quality = quality;
    s.refinement = refinement;
    s.keyInterval = 60;
    Encoder enc;
    enc.Configure(s);
    Encoded e;
    e.quality = quality;
    e.width = width;
    e.height = height;
    for (const auto& f : src) {
        e.frames.push_back(enc.EncodeFrame(f.data(), width * 3));
        e.bytes += e.frames.back().size();
    }
    return e;
}

// The best quality whose stream is no larger than `limit` bytes.
Encoded EncodeWithin(const Frames& src, std::size_t limit, bool refinement) {
    int lo = 1, hi = 100;
    Encoded best = Encode(src, lo, refinement);
    while (lo < hi) {
        int mid = (lo + hi + 1) / 2;
        Encoded e = Encode(src, mid, refinement);
        if (e.bytes <= limit) {
            lo = mid;
            best = std::move(e);
        } else {
            hi = mid - 1;
        }
    }
    return best;
}

// The chosen streams are kept in the work directory (the quality search
// encodes the scene several times), so that decoder work can be re-measured
// quickly. Only decoder changes may reuse them: delete them after changing
// the encoder.
bool LoadEncoded(const std::string& path, Encoded& e) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::uint32_t head[2];
    bool ok = std::fread(head, sizeof(head), 1, f) == 1;
    e.quality = static_cast<int>(head[0]);
    for (std::uint32_t i = 0; ok && i < head[1]; ++i) {
        std::uint32_t n = 0;
        ok = std::fread(&n, sizeof(n), 1, f) == 1;
        std::vector<std::uint8_t> frame(n);
        ok = ok && std::fread(frame.data(), 1, n, f) == n;
        e.bytes += n;
        e.frames.push_back(std::move(frame));
    }
    std::fclose(f);
    return ok;
}

void SaveEncoded(const std::string& path, const Encoded& e) {
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        const std::uint32_t head[2] = {static_cast<std::uint32_t>(e.quality),
                                       static_cast<std::uint32_t>(e.frames.size())};
        std::fwrite(head, sizeof(head), 1, f);
        for (const auto& frame : e.frames) {
            const std::uint32_t n = static_cast<std::uint32_t>(frame.size());
            std::fwrite(&n, sizeof(n), 1, f);
            std::fwrite(frame.data(), 1, n, f);
        }
        std::fclose(f);
    }
}

Encoded EncodeWithinCached(const std::string& path, const Frames& src, std::size_t limit, bool refinement) {
    Encoded e;
    if (LoadEncoded(path, e) && e.frames.size() == src.size())
        return e;
    e = EncodeWithin(src, limit, refinement);
    SaveEncoded(path, e);
    return e;
}

struct DecodeRun {
    Frames pictures;
    double cpuSeconds = 0;
    std::vector<double> frameMs;
    DWORD dropped = 0;
};

// Decodes every frame through the driver into a bottom-up 24-bit frame.
DecodeRun DecodeAll(const Encoded& e, LONG budgetMs, bool keep) {
    DecodeRun run;
    HIC hic = ICOpen(ICTYPE_VIDEO, kHandler, ICMODE_DECOMPRESS);
    if (!hic) {
        std::fprintf(stderr, "cadmo-bench-qx47: the qx47 driver library was not found\n");
        std::exit(1);
    }
    BITMAPINFOHEADER in{}, out{};
    in.biSize = out.biSize = sizeof(BITMAPINFOHEADER);
    const int w = e.width, h = e.height;
    const std::size_t frameBytes = static_cast<std::size_t>(w) * h * 3;
    in.biWidth = out.biWidth = w;
    in.biHeight = out.biHeight = h;
    in.biPlanes = out.biPlanes = 1;
    in.biBitCount = out.biBitCount = 24;
    in.biCompression = kHandler;
    out.biCompression = BI_RGB;
    LongStateRecord lr = MakeStateRecord<LongStateRecord>(kLongKindCurrent, kLongMaskTimeBudget);
    lr.timeBudget = budgetMs;
    ICSendMessage(hic, ICM_SETSTATE, reinterpret_cast<DWORD_PTR>(&lr), sizeof(lr));
    std::vector<std::uint8_t> dib(frameBytes);
    ICDECOMPRESSEX ic{};
    ic.lpbiSrc = &in;
    ic.lpbiDst = &out;
    ic.dxDst = ic.dxSrc = w;
    ic.dyDst = ic.dySrc = h;
    ICSendMessage(hic, ICM_DECOMPRESSEX_BEGIN, reinterpret_cast<DWORD_PTR>(&ic), sizeof(ic));
    ic.lpDst = dib.data();
    const double t0 = CpuSeconds();
    for (const auto& f : e.frames) {
        in.biSizeImage = static_cast<DWORD>(f.size());
        ic.lpSrc = const_cast<std::uint8_t*>(f.data());
        const auto s = std::chrono::steady_clock::now();
        ICSendMessage(hic, ICM_DECOMPRESSEX, reinterpret_cast<DWORD_PTR>(&ic), sizeof(ic));
        run.frameMs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - s).count());
        if (keep) {
            std::vector<std::uint8_t> top(frameBytes);
            for (int y = 0; y < h; ++y)
                std::memcpy(top.data() + static_cast<std::size_t>(y) * w * 3,
                            dib.data() + static_cast<std::size_t>(h - 1 - y) * w * 3,
                            static_cast<std::size_t>(w) * 3);
            run.pictures.push_back(std::move(top));
        }
    }
    run.cpuSeconds = CpuSeconds() - t0;
    lr.mask = kLongMaskLayerStats;
    ICSendMessage(hic, ICM_GETSTATE, reinterpret_cast<DWORD_PTR>(&lr), sizeof(lr));
    run.dropped = lr.refinementsDropped;
    ICClose(hic);
    return run;
}

double PsnrOf(const Frames& src, const Encoded& e) {
    return Psnr(src, DecodeAll(e, 0, true).pictures);
}

// The smallest stream (lowest quality, no higher than the `ceiling` stream's,
// whose PSNR is `ceilingPsnr`) whose pictures reach `target`: the fairest
// stream to time against the peer, since it is no larger and no worse, and
// fewer bits decode faster. Its PSNR goes to `psnr`; `found` is false when
// even the ceiling falls short.
Encoded EncodeMatching(const Frames& src, const Encoded& ceiling, double ceilingPsnr, double target,
                       double& psnr, bool& found) {
    found = ceilingPsnr >= target;
    psnr = ceilingPsnr;
    Encoded best = ceiling;
    if (!found)
        return best;
    int lo = 1, hi = ceiling.quality;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        Encoded e = Encode(src, mid, false);
        const double p = PsnrOf(src, e);
        if (p >= target) {
            hi = mid;
            best = std::move(e);
            psnr = p;
        } else {
            lo = mid + 1;
        }
    }
    return best;
}

double BestCpu(const Encoded& e) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i)
        best = std::min(best, DecodeAll(e, 0, false).cpuSeconds);
    return best;
}

// FNV-1a over every decoded picture: equal hashes before and after a decoder
// change show that it left the pixels alone.
std::uint64_t Hash(const Frames& pictures) {
    std::uint64_t h = 1469598103934665603ull;
    for (const auto& f : pictures)
        for (std::uint8_t b : f)
            h = (h ^ b) * 1099511628211ull;
    return h;
}

double FfmpegCpu(const std::string& log) {
    double u = 0, s = 0;
    const char* p = std::strstr(log.c_str(), "bench: utime=");
    if (p)
        std::sscanf(p, "bench: utime=%lfs stime=%lfs", &u, &s);
    return u + s;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The time budget at work: a budget between the base layer's and the full
// decode time, against the same stream without one. Budgets are whole
// milliseconds, so a stream that decodes too fast cannot show it (false).
bool ShowBudget(const Frames& src, const Encoded& two, double twoPsnr) {
    const int frames = static_cast<int>(src.size());
    DecodeRun full = DecodeAll(two, 0, false);
    const double median = Median(full.frameMs);
    const double baseMedian = Median(DecodeAll(two, 1, false).frameMs); // 1 ms: refinement always late
    // Half above the base layer's time leaves room for the machine's jitter
    // (a quarter was not always enough); whole milliseconds, and below the
    // full decode time.
    const LONG budget = static_cast<LONG>(std::ceil(baseMedian * 1.5));
    if (budget >= median)
        return false;
    // Timed without keeping the pictures: copying 25 MB out after every frame
    // leaves the next one's caches cold. The picture quality comes from a
    // second run, which drops the same refinements give or take a frame.
    DecodeRun limited = DecodeAll(two, budget, false);
    const double limitedPsnr = Psnr(src, DecodeAll(two, budget, true).pictures);
    int within = 0, withinFull = 0;
    for (std::size_t i = 0; i < limited.frameMs.size(); ++i) {
        within += limited.frameMs[i] <= budget;
        withinFull += full.frameMs[i] <= budget;
    }
    std::printf("time budget %d ms: without it %d/%d frames within %d ms (median %.2f ms, base layer alone "
                "%.2f); with it %d/%d (refinement dropped on %u frames), PSNR %.2f dB instead of %.2f\n",
                static_cast<int>(budget), withinFull, frames, static_cast<int>(budget), median, baseMedian,
                within, frames, limited.dropped, limitedPsnr, twoPsnr);
    return true;
}

// The budget on a picture large enough for it: the landscape at 3840 x 2160,
// two layers at quality 96, whose refinement is large enough to drop.
void LargeBudget(int frames) {
    const int w = 3840, h = 2160;
    std::printf("\n== time budget, landscape %dx%d, %d frames, base + refinement ==\n", w, h, frames);
    std::fflush(stdout);
    SyntheticScene scene(SyntheticScene::Kind::Landscape, w, h);
    Frames src;
    for (int i = 0; i < frames; ++i) {
        src.emplace_back(static_cast<std::size_t>(w) * h * 3);
        scene.Render(i, src.back().data());
    }
    const Encoded two = Encode(src, 96, true, w, h);
    const double psnr = PsnrOf(src, two);
    if (!ShowBudget(src, two, psnr))
        std::printf("time budget: frames decode too fast for a budget in whole milliseconds even at this "
                    "size\n");
    std::fflush(stdout);
}

void Scene(const std::string& name, const std::string& work, int frames, int quality) {
    std::printf("\n== %s, %dx%d, %d fps, %d frames ==\n", name.c_str(), kW, kH, kFps, frames);
    std::fflush(stdout);
    const std::string raw = work + "/" + name + ".bgr",
                      cp = work + "/" + name + "-" + std::to_string(frames) + "-cinepak.avi";
    Frames src;
    if (name == "testsrc2") {
        char cmd[512];
        std::snprintf(cmd, sizeof(cmd),
                      "ffmpeg -v error -f lavfi -i testsrc2=size=%dx%d:rate=%d -frames:v %d -pix_fmt bgr24 "
                      "-f rawvideo -",
                      kW, kH, kFps, frames);
        if (!ReadRaw(cmd, frames, src)) {
            std::fprintf(stderr, "cadmo-bench-qx47: ffmpeg did not give the frames\n");
            std::exit(1);
        }
    } else {
        SyntheticScene scene(SyntheticScene::Kind::Landscape, kW, kH);
        for (int i = 0; i < frames; ++i) {
            src.emplace_back(kFrameBytes);
            scene.Render(i, src.back().data());
        }
    }
    if (std::FILE* f = std::fopen(raw.c_str(), "wb")) {
        for (const auto& fr : src)
            std::fwrite(fr.data(), 1, fr.size(), f);
        std::fclose(f);
    }
    if (quality > 0) {
        // One stream at a given quality, without the peer: for tuning.
        Encoded e = Encode(src, quality, false);
        const double psnr = PsnrOf(src, e);
        std::printf("qx47, one layer, quality %d: %zu bytes, %.2f dB, %.0f fps\n", quality, e.bytes, psnr,
                    static_cast<double>(e.frames.size()) / BestCpu(e));
        SaveEncoded(
            work + "/" + name + "-" + std::to_string(frames) + "-q" + std::to_string(quality) + ".qx47s", e);
        return;
    }
    char cmd[1024];
    struct stat st;
    if (stat(cp.c_str(), &st) != 0) {
        std::printf("encoding with ffmpeg cinepak (slow)...\n");
        std::fflush(stdout);
        std::snprintf(cmd, sizeof(cmd),
                      "ffmpeg -v error -y -f rawvideo -pix_fmt bgr24 -s %dx%d -r %d -i %s -c:v cinepak %s",
                      kW, kH, kFps, raw.c_str(), cp.c_str());
        if (std::system(cmd) != 0) {
            std::fprintf(stderr, "cadmo-bench-qx47: ffmpeg cinepak failed\n");
            std::exit(1);
        }
    }
    std::snprintf(cmd, sizeof(cmd),
                  "ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 %s",
                  cp.c_str());
    std::size_t cpBytes = 0;
    const std::string sizes = Run(cmd);
    for (const char* p = sizes.c_str(); *p;) {
        char* end = nullptr;
        cpBytes += std::strtoul(p, &end, 10);
        p = end != p ? end : p + 1; // skip anything that is not a number
    }
    Frames cpPictures;
    std::snprintf(cmd, sizeof(cmd),
                  "ffmpeg -v error -threads 1 -c:v cinepak -i %s -pix_fmt bgr24 -f rawvideo -", cp.c_str());
    ReadRaw(cmd, frames, cpPictures);
    const double cpPsnr = Psnr(src, cpPictures);
    cpPictures.clear();
    std::snprintf(cmd, sizeof(cmd), "ffmpeg -benchmark -threads 1 -c:v cinepak -i %s -f null - 2>&1",
                  cp.c_str());
    double cpCpu = 1e9;
    for (int i = 0; i < 3; ++i)
        cpCpu = std::min(cpCpu, FfmpegCpu(Run(cmd)));

    const std::string tag = work + "/" + name + "-" + std::to_string(frames) + "-" + std::to_string(cpBytes);
    Encoded one = EncodeWithinCached(tag + "-one.qx47s", src, cpBytes, false);
    DecodeRun oneRun = DecodeAll(one, 0, true);
    const double onePsnr = Psnr(src, oneRun.pictures);
    const std::uint64_t oneHash = Hash(oneRun.pictures);
    oneRun.pictures.clear();
    const double oneCpu = BestCpu(one);
    Encoded match;
    double matchPsnr = 0, matchCpu = 0;
    bool matched = LoadEncoded(tag + "-match.qx47s", match) && match.frames.size() == src.size();
    if (matched) {
        matchPsnr = PsnrOf(src, match);
    } else {
        match = EncodeMatching(src, one, onePsnr, cpPsnr, matchPsnr, matched);
        if (matched)
            SaveEncoded(tag + "-match.qx47s", match);
    }
    if (matched)
        matchCpu = BestCpu(match);
    Encoded two = EncodeWithinCached(tag + "-two.qx47s", src, cpBytes, true);
    DecodeRun twoRun = DecodeAll(two, 0, true);
    const double twoPsnr = Psnr(src, twoRun.pictures);
    const std::uint64_t twoHash = Hash(twoRun.pictures);
    twoRun.pictures.clear();
    const double twoCpu = BestCpu(two);

    std::printf("%-34s %10s %9s %12s\n", "", "bytes", "PSNR dB", "decode fps");
    std::printf("%-34s %10zu %9.2f %12.0f\n", "ffmpeg cinepak (-threads 1)", cpBytes, cpPsnr, frames / cpCpu);
    std::printf("%-34s %10zu %9.2f %12.0f   (quality %d, pixels %016llx)\n", "qx47, one layer", one.bytes,
                onePsnr, frames / oneCpu, one.quality, static_cast<unsigned long long>(oneHash));
    if (matched)
        std::printf("%-34s %10zu %9.2f %12.0f   (quality %d: the smallest at Cinepak's PSNR or above)\n",
                    "qx47, one layer, matching", match.bytes, matchPsnr, frames / matchCpu, match.quality);
    else
        std::printf("qx47, one layer, matching: no quality within Cinepak's size reaches its PSNR\n");
    std::printf("%-34s %10zu %9.2f %12.0f   (quality %d, pixels %016llx)\n", "qx47, base + refinement",
                two.bytes, twoPsnr, frames / twoCpu, two.quality, static_cast<unsigned long long>(twoHash));

    if (!ShowBudget(src, two, twoPsnr))
        std::printf("time budget: frames decode too fast for a budget in whole milliseconds; see the "
                    "large picture below\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 10;
    std::string scene = "both", work = "/tmp/qx47bench", decodeOnly;
    int quality = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--scene"))
            scene = argv[i + 1];
        else if (!std::strcmp(argv[i], "--work"))
            work = argv[i + 1];
        else if (!std::strcmp(argv[i], "--quality"))
            quality = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--decode"))
            decodeOnly = argv[i + 1];
    }
    if (!decodeOnly.empty()) {
        // Decoder work: time a stream an earlier run saved, alone, so that a
        // profiler sees nothing else.
        Encoded e;
        if (!LoadEncoded(decodeOnly, e) || e.frames.empty()) {
            std::fprintf(stderr, "cadmo-bench-qx47: %s is not a saved stream\n", decodeOnly.c_str());
            return 1;
        }
        const double cpu = BestCpu(e);
        std::printf("%s: %zu frames, %zu bytes, %.0f fps, pixels %016llx\n", decodeOnly.c_str(),
                    e.frames.size(), e.bytes, static_cast<double>(e.frames.size()) / cpu,
                    static_cast<unsigned long long>(Hash(DecodeAll(e, 0, true).pictures)));
        return 0;
    }
    mkdir(work.c_str(), 0755);
    const int frames = static_cast<int>(std::lround(seconds * kFps));
    if (scene == "testsrc2" || scene == "both")
        Scene("testsrc2", work, frames, quality);
    if (scene == "landscape" || scene == "both")
        Scene("landscape", work, frames, quality);
    if (quality > 0)
        return 0;
    LargeBudget(std::min(frames, 30));
    return 0;
}
