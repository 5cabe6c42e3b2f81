// cadmo-qx47enc: writes qx47 movies.
//
//   cadmo-qx47enc [options] INPUT.avi OUTPUT.avi
//   cadmo-qx47enc [options] --synthetic landscape|sprite OUTPUT.avi
//   cadmo-qx47enc --background WIDTHxHEIGHT OUTPUT.bmp
//
// The input is any AVI file whose video an installed codec decodes (the
// built-in ones, so ffmpeg-made files too, or qx47 itself); its first PCM
// audio stream is copied. See --help for the options.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SyntheticScene.h"
#include "codecs/builtin/BuiltinCodecs.h"
#include "codecs/qx47/Encoder.h"
#include "codecs/qx47/Qx47State.h"
#include "pixel/DibRules.h"
#include "platform/avi/AviFile.h"
#include "platform/avi/AviWriter.h"
#include "platform/vfw/Vfw.h"

namespace {

struct Options {
    qx47::EncoderSettings enc;
    std::string input, output;
    std::string synthetic;     // "landscape" or "sprite"; empty for an AVI input
    int width = 0, height = 0; // 0: the input's size (synthetic: 640 x 480)
    double fps = 25;
    double seconds = 8;
    int maxFrames = 0;
    bool sound = true;
    bool quiet = false;
    std::string background; // --background: write an 8-bit BMP instead
};

void Usage(std::FILE* f) {
    std::fprintf(f,
                 "usage: cadmo-qx47enc [options] INPUT.avi OUTPUT.avi\n"
                 "       cadmo-qx47enc [options] --synthetic landscape|sprite OUTPUT.avi\n"
                 "       cadmo-qx47enc --background WIDTHxHEIGHT OUTPUT.bmp\n"
                 "options:\n"
                 "  --quality N         1..100 (default 75)\n"
                 "  --keyint N          frames between key frames (default 60)\n"
                 "  --no-refinement     one layer only (smaller, no time-budget scaling)\n"
                 "  --key N             scramble with access key N (not encryption)\n"
                 "  --transparent RRGGBB  pixels of this colour are transparent\n"
                 "  --tolerance N       per-channel distance still counted as the key colour (default 12)\n"
                 "  --size WxH          picture size (input is scaled)\n"
                 "  --frames N          at most N frames\n"
                 "  --fps F, --seconds S  synthetic scenes only (default 25, 8)\n"
                 "  --no-sound          synthetic scenes: no soundtrack\n"
                 "  --quiet             no progress bar\n");
}

bool ParseSize(const char* s, int& w, int& h) {
    return std::sscanf(s, "%dx%d", &w, &h) == 2 && w > 0 && h > 0;
}

bool ParseArgs(int argc, char** argv, Options& o) {
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            std::exit(0);
        } else if (a == "--quality" && (v = next())) {
            o.enc.quality = std::atoi(v);
        } else if (a == "--keyint" && (v = next())) {
            o.enc.keyInterval = std::atoi(v);
        } else if (a == "--no-refinement") {
            o.enc.refinement = false;
        } else if (a == "--key" && (v = next())) {
            o.enc.keyed = true;
            o.enc.key = static_cast<std::int32_t>(std::strtoul(v, nullptr, 10));
        } else if (a == "--transparent" && (v = next())) {
            unsigned rgb = 0;
            if (std::strlen(v) != 6 || std::sscanf(v, "%6x", &rgb) != 1)
                return false;
            o.enc.transparent = true;
            o.enc.keyColor[0] = static_cast<std::uint8_t>(rgb >> 16);
            o.enc.keyColor[1] = static_cast<std::uint8_t>(rgb >> 8);
            o.enc.keyColor[2] = static_cast<std::uint8_t>(rgb);
        } else if (a == "--tolerance" && (v = next())) {
            o.enc.keyTolerance = std::atoi(v);
        } else if (a == "--size" && (v = next())) {
            if (!ParseSize(v, o.width, o.height))
                return false;
        } else if (a == "--frames" && (v = next())) {
            o.maxFrames = std::atoi(v);
        } else if (a == "--fps" && (v = next())) {
            o.fps = std::atof(v);
        } else if (a == "--seconds" && (v = next())) {
            o.seconds = std::atof(v);
        } else if (a == "--no-sound") {
            o.sound = false;
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--synthetic" && (v = next())) {
            o.synthetic = v;
        } else if (a == "--background" && (v = next())) {
            o.background = v;
        } else if (!a.empty() && a[0] == '-') {
            return false;
        } else {
            rest.push_back(a);
        }
    }
    if (!o.background.empty() || !o.synthetic.empty()) {
        if (rest.size() != 1)
            return false;
        o.output = rest[0];
    } else {
        if (rest.size() != 2)
            return false;
        o.input = rest[0];
        o.output = rest[1];
    }
    if (!o.synthetic.empty() && o.synthetic != "landscape" && o.synthetic != "sprite")
        return false;
    return o.fps > 0 && o.seconds > 0 && o.enc.quality >= 1 && o.enc.quality <= 100;
}

class Progress {
public:
    Progress(bool enabled, int total) : enabled_(enabled && isatty(2)), total_(total) {}
    void Update(int done) {
        if (!enabled_ || total_ <= 0)
            return;
        int pct = static_cast<int>(100LL * done / total_);
        if (pct == last_)
            return;
        last_ = pct;
        const int width = 40, filled = width * pct / 100;
        std::fprintf(stderr, "\r[%.*s%*s] %3d%% %d/%d", filled, "########################################",
                     width - filled, "", pct, done, total_);
        std::fflush(stderr);
    }
    ~Progress() {
        if (enabled_ && last_ >= 0)
            std::fprintf(stderr, "\n");
    }

private:
    bool enabled_;
    int total_;
    int last_ = -1;
};

// Bilinear scaling of a top-down B, G, R picture.
void Scale(const std::uint8_t* src, int sw, int sh, std::uint8_t* dst, int dw, int dh) {
    for (int y = 0; y < dh; ++y) {
        double fy = (y + 0.5) * sh / dh - 0.5;
        int y0 = std::clamp(static_cast<int>(std::floor(fy)), 0, sh - 1), y1 = std::min(y0 + 1, sh - 1);
        double wy = std::clamp(fy - y0, 0.0, 1.0);
        for (int x = 0; x < dw; ++x) {
            double fx = (x + 0.5) * sw / dw - 0.5;
            int x0 = std::clamp(static_cast<int>(std::floor(fx)), 0, sw - 1), x1 = std::min(x0 + 1, sw - 1);
            double wx = std::clamp(fx - x0, 0.0, 1.0);
            for (int c = 0; c < 3; ++c) {
                double a = src[(static_cast<std::size_t>(y0) * sw + x0) * 3 + c] * (1 - wx) +
                           src[(static_cast<std::size_t>(y0) * sw + x1) * 3 + c] * wx;
                double b = src[(static_cast<std::size_t>(y1) * sw + x0) * 3 + c] * (1 - wx) +
                           src[(static_cast<std::size_t>(y1) * sw + x1) * 3 + c] * wx;
                dst[(static_cast<std::size_t>(y) * dw + x) * 3 + c] =
                    static_cast<std::uint8_t>(std::lround(a * (1 - wy) + b * wy));
            }
        }
    }
}

std::vector<BYTE> VideoFormat(int w, int h) {
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof(bi);
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biCompression = qx47::kHandler;
    bi.biSizeImage = static_cast<DWORD>(w) * h * 3;
    std::vector<BYTE> f(sizeof(bi));
    std::memcpy(f.data(), &bi, sizeof(bi));
    return f;
}

// Writes an 8-bit BMP with its own 256-colour palette: a soft tiled
// wallpaper, larger than the demo pictures, for the transparency background.
int WriteBackground(const Options& o) {
    int w = 0, h = 0;
    if (!ParseSize(o.background.c_str(), w, h))
        return 2;
    const auto stride = static_cast<int>(DibStride(w, 8));
    std::vector<RGBQUAD> pal(256);
    for (int i = 0; i < 256; ++i) {
        // Warm sand to cool slate, so that a sprite shows on every part.
        double t = i / 255.0;
        pal[i].rgbRed = static_cast<BYTE>(std::lround(200 - 120 * t));
        pal[i].rgbGreen = static_cast<BYTE>(std::lround(170 - 70 * t + 30 * std::sin(t * 6.28)));
        pal[i].rgbBlue = static_cast<BYTE>(std::lround(120 + 90 * t));
        pal[i].rgbReserved = 0;
    }
    std::vector<BYTE> bits(static_cast<std::size_t>(stride) * h);
    for (int y = 0; y < h; ++y) {
        BYTE* row = bits.data() + static_cast<std::size_t>(h - 1 - y) * stride; // bottom-up
        for (int x = 0; x < w; ++x) {
            double v =
                0.5 + 0.25 * std::sin(x * 0.05) * std::cos(y * 0.045) + 0.25 * std::sin((x + y) * 0.013);
            bool tile = ((x / 40) + (y / 40)) & 1;
            v = std::clamp(v + (tile ? 0.08 : -0.08), 0.0, 1.0);
            row[x] = static_cast<BYTE>(std::lround(v * 255));
        }
    }
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof(bi);
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = 8;
    bi.biCompression = BI_RGB;
    bi.biSizeImage = static_cast<DWORD>(bits.size());
    bi.biClrUsed = 256;
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4d42; // "BM"
    fh.bfOffBits = sizeof(fh) + sizeof(bi) + 256 * sizeof(RGBQUAD);
    fh.bfSize = fh.bfOffBits + bi.biSizeImage;
    std::FILE* f = std::fopen(o.output.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "cadmo-qx47enc: cannot create %s\n", o.output.c_str());
        return 1;
    }
    bool ok = std::fwrite(&fh, sizeof(fh), 1, f) == 1 && std::fwrite(&bi, sizeof(bi), 1, f) == 1 &&
              std::fwrite(pal.data(), sizeof(RGBQUAD), 256, f) == 256 &&
              std::fwrite(bits.data(), 1, bits.size(), f) == bits.size();
    ok = (std::fclose(f) == 0) && ok;
    return ok ? 0 : 1;
}

// The frame source: a synthetic scene or a decoded AVI file.
class Source {
public:
    ~Source() {
        if (hic_)
            ICClose(hic_);
        if (audio_)
            AVIStreamRelease(audio_);
        if (video_)
            AVIStreamRelease(video_);
        if (file_)
            AVIFileRelease(file_);
    }

    bool OpenSynthetic(const Options& o) {
        const bool sprite = o.synthetic == "sprite";
        width_ = o.width ? o.width : (sprite ? 320 : 640);
        height_ = o.height ? o.height : (sprite ? 240 : 480);
        scene_ = std::make_unique<qx47::SyntheticScene>(sprite ? qx47::SyntheticScene::Kind::Sprite
                                                               : qx47::SyntheticScene::Kind::Landscape,
                                                        width_, height_);
        frames_ = static_cast<int>(std::lround(o.fps * o.seconds));
        rate_ = static_cast<DWORD>(std::lround(o.fps * 1000));
        scale_ = 1000;
        if (o.sound) {
            const int sampleRate = 22050;
            auto pcm = qx47::SyntheticScene::Soundtrack(sampleRate, o.seconds);
            audio16_.assign(pcm.begin(), pcm.end());
            WAVEFORMATEX wf{};
            wf.wFormatTag = WAVE_FORMAT_PCM;
            wf.nChannels = 1;
            wf.nSamplesPerSec = sampleRate;
            wf.wBitsPerSample = 16;
            wf.nBlockAlign = 2;
            wf.nAvgBytesPerSec = sampleRate * 2;
            audioFormat_.resize(sizeof(wf));
            std::memcpy(audioFormat_.data(), &wf, sizeof(wf));
            audioBytes_.resize(audio16_.size() * 2);
            std::memcpy(audioBytes_.data(), audio16_.data(), audioBytes_.size());
        }
        return true;
    }

    bool OpenAvi(const std::string& path) {
        if (AVIFileOpenA(&file_, path.c_str(), OF_READ, nullptr) != AVIERR_OK) {
            std::fprintf(stderr, "cadmo-qx47enc: cannot open %s\n", path.c_str());
            return false;
        }
        if (AVIFileGetStream(file_, &video_, streamtypeVIDEO, 0) != AVIERR_OK) {
            std::fprintf(stderr, "cadmo-qx47enc: %s has no video stream\n", path.c_str());
            return false;
        }
        AVISTREAMINFOA si{};
        AVIStreamInfoA(video_, &si, sizeof(si));
        rate_ = si.dwRate ? si.dwRate : 15;
        scale_ = si.dwScale ? si.dwScale : 1;
        LONG cb = 0;
        AVIStreamReadFormat(video_, 0, nullptr, &cb);
        if (cb < static_cast<LONG>(sizeof(BITMAPINFOHEADER)))
            return false;
        inFormat_.assign(static_cast<std::size_t>(cb) + 1024, 0);
        AVIStreamReadFormat(video_, 0, inFormat_.data(), &cb);
        auto* in = reinterpret_cast<BITMAPINFOHEADER*>(inFormat_.data());
        width_ = in->biWidth;
        height_ = static_cast<int>(DibRows(in->biHeight));
        frames_ = AVIStreamLength(video_);
        hic_ = ICLocate(ICTYPE_VIDEO, si.fccHandler, in, nullptr, ICMODE_DECOMPRESS);
        if (!hic_) {
            std::fprintf(stderr, "cadmo-qx47enc: no codec decodes the video of %s\n", path.c_str());
            return false;
        }
        outFormat_ = BITMAPINFOHEADER{};
        outFormat_.biSize = sizeof(BITMAPINFOHEADER);
        outFormat_.biWidth = width_;
        outFormat_.biHeight = height_;
        outFormat_.biPlanes = 1;
        outFormat_.biBitCount = 24;
        outFormat_.biCompression = BI_RGB;
        outFormat_.biSizeImage = static_cast<DWORD>(DibStride(width_, 24) * height_);
        if (ICSendMessage(hic_, ICM_DECOMPRESS_BEGIN, reinterpret_cast<DWORD_PTR>(in),
                          reinterpret_cast<DWORD_PTR>(&outFormat_)) != ICERR_OK) {
            std::fprintf(stderr, "cadmo-qx47enc: the codec cannot decode %s to 24 bits\n", path.c_str());
            return false;
        }
        dib_.assign(outFormat_.biSizeImage, 0);
        if (AVIFileGetStream(file_, &audio_, streamtypeAUDIO, 0) == AVIERR_OK) {
            LONG acb = 0;
            AVIStreamReadFormat(audio_, 0, nullptr, &acb);
            std::vector<BYTE> af(static_cast<std::size_t>(std::max<LONG>(acb, sizeof(WAVEFORMATEX))), 0);
            AVIStreamReadFormat(audio_, 0, af.data(), &acb);
            const auto* wf = reinterpret_cast<const WAVEFORMATEX*>(af.data());
            if (acb >= 16 && wf->wFormatTag == WAVE_FORMAT_PCM && wf->nBlockAlign > 0) {
                audioFormat_.assign(af.begin(), af.begin() + acb);
                const LONG start = AVIStreamStart(audio_), len = AVIStreamLength(audio_);
                audioBytes_.resize(static_cast<std::size_t>(len) * wf->nBlockAlign);
                LONG bytes = 0, samples = 0;
                if (len > 0 &&
                    AVIStreamRead(audio_, start, len, audioBytes_.data(),
                                  static_cast<LONG>(audioBytes_.size()), &bytes, &samples) == AVIERR_OK)
                    audioBytes_.resize(static_cast<std::size_t>(bytes));
                else
                    audioBytes_.clear();
            } else {
                std::fprintf(stderr, "cadmo-qx47enc: the audio is not PCM; the movie will be silent\n");
            }
        }
        return true;
    }

    // Frame i as top-down B, G, R at the source's size.
    bool Read(int i, std::vector<std::uint8_t>& bgr) {
        bgr.resize(static_cast<std::size_t>(width_) * height_ * 3);
        if (scene_) {
            scene_->Render(i, bgr.data());
            return true;
        }
        LONG bytes = 0, samples = 0;
        frame_.resize(std::max<std::size_t>(frame_.size(), 1 << 16));
        HRESULT hr;
        while ((hr = AVIStreamRead(video_, AVIStreamStart(video_) + i, 1, frame_.data(),
                                   static_cast<LONG>(frame_.size()), &bytes, &samples)) ==
               AVIERR_BUFFERTOOSMALL)
            frame_.resize(frame_.size() * 2);
        if (hr != AVIERR_OK)
            return false;
        auto* in = reinterpret_cast<BITMAPINFOHEADER*>(inFormat_.data());
        in->biSizeImage = static_cast<DWORD>(bytes);
        ICDECOMPRESS icd{};
        icd.dwFlags = 0;
        icd.lpbiInput = in;
        icd.lpInput = frame_.data();
        icd.lpbiOutput = &outFormat_;
        icd.lpOutput = dib_.data();
        LRESULT r = ICSendMessage(hic_, ICM_DECOMPRESS, reinterpret_cast<DWORD_PTR>(&icd), sizeof(icd));
        if (r != ICERR_OK && r != ICERR_DONTDRAW)
            return false;
        const auto stride = static_cast<std::size_t>(DibStride(width_, 24));
        for (int y = 0; y < height_; ++y)
            std::memcpy(bgr.data() + static_cast<std::size_t>(y) * width_ * 3,
                        dib_.data() + static_cast<std::size_t>(height_ - 1 - y) * stride,
                        static_cast<std::size_t>(width_) * 3);
        return true;
    }

    int width_ = 0, height_ = 0, frames_ = 0;
    DWORD rate_ = 15, scale_ = 1;
    std::vector<BYTE> audioFormat_, audioBytes_;

private:
    std::unique_ptr<qx47::SyntheticScene> scene_;
    std::vector<std::int16_t> audio16_;
    PAVIFILE file_ = nullptr;
    PAVISTREAM video_ = nullptr, audio_ = nullptr;
    HIC hic_ = nullptr;
    std::vector<BYTE> inFormat_, frame_, dib_;
    BITMAPINFOHEADER outFormat_{};
};

int Encode(Options& o) {
    Source src;
    if (!(o.synthetic.empty() ? src.OpenAvi(o.input) : src.OpenSynthetic(o)))
        return 1;
    const int w = o.width ? o.width : src.width_, h = o.height ? o.height : src.height_;
    int frames = src.frames_;
    if (o.maxFrames > 0)
        frames = std::min(frames, o.maxFrames);
    o.enc.width = w;
    o.enc.height = h;
    qx47::Encoder encoder;
    if (!encoder.Configure(o.enc)) {
        std::fprintf(stderr, "cadmo-qx47enc: cannot encode a %dx%d picture\n", w, h);
        return 1;
    }
    AviWriter writer;
    if (writer.Create(o.output) != AVIERR_OK) {
        std::fprintf(stderr, "cadmo-qx47enc: cannot create %s\n", o.output.c_str());
        return 1;
    }
    AviVideoStreamDesc vd;
    vd.handler = qx47::kHandler;
    vd.format = VideoFormat(w, h);
    vd.rate = src.rate_;
    vd.scale = src.scale_;
    int vs = -1, as = -1;
    if (writer.AddVideoStream(vd, &vs) != AVIERR_OK)
        return 1;
    const WAVEFORMATEX* wf = nullptr;
    if (!src.audioFormat_.empty() && !src.audioBytes_.empty()) {
        AviAudioStreamDesc ad;
        ad.format = src.audioFormat_;
        if (writer.AddAudioStream(ad, &as) != AVIERR_OK)
            return 1;
        wf = reinterpret_cast<const WAVEFORMATEX*>(src.audioFormat_.data());
    }
    std::vector<std::uint8_t> in, scaled;
    std::size_t audioDone = 0, totalBytes = 0;
    Progress progress(!o.quiet, frames);
    for (int i = 0; i < frames; ++i) {
        if (!src.Read(i, in)) {
            std::fprintf(stderr, "\nqx47enc: cannot decode frame %d\n", i);
            return 1;
        }
        const std::uint8_t* pic = in.data();
        if (w != src.width_ || h != src.height_) {
            scaled.resize(static_cast<std::size_t>(w) * h * 3);
            Scale(in.data(), src.width_, src.height_, scaled.data(), w, h);
            pic = scaled.data();
        }
        if (wf) {
            // Audio up to the end of this frame, in whole blocks, before the frame.
            const double endSec = (i + 1.0) * src.scale_ / src.rate_;
            std::size_t want = static_cast<std::size_t>(endSec * wf->nSamplesPerSec) * wf->nBlockAlign;
            want = std::min(want, src.audioBytes_.size());
            if (want > audioDone) {
                if (writer.WriteAudio(as, src.audioBytes_.data() + audioDone,
                                      static_cast<DWORD>(want - audioDone)) != AVIERR_OK)
                    return 1;
                audioDone = want;
            }
        }
        std::vector<std::uint8_t> coded = encoder.EncodeFrame(pic, static_cast<std::ptrdiff_t>(w) * 3);
        totalBytes += coded.size();
        if (writer.WriteVideoFrame(vs, coded.data(), static_cast<DWORD>(coded.size()),
                                   encoder.LastWasKey()) != AVIERR_OK) {
            std::fprintf(stderr, "\nqx47enc: cannot write %s\n", o.output.c_str());
            return 1;
        }
        progress.Update(i + 1);
    }
    if (wf && audioDone < src.audioBytes_.size() &&
        writer.WriteAudio(as, src.audioBytes_.data() + audioDone,
                          static_cast<DWORD>(src.audioBytes_.size() - audioDone)) != AVIERR_OK)
        return 1;
    if (writer.Close() != AVIERR_OK) {
        std::fprintf(stderr, "cadmo-qx47enc: cannot finish %s\n", o.output.c_str());
        return 1;
    }
    if (!o.quiet)
        std::fprintf(stderr, "cadmo-qx47enc: %s: %d frames %dx%d, %.1f KB per frame\n", o.output.c_str(),
                     frames, w, h, frames ? totalBytes / 1024.0 / frames : 0.0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseArgs(argc, argv, o)) {
        Usage(stderr);
        return 2;
    }
    if (!o.background.empty())
        return WriteBackground(o);
    RegisterBuiltinCodecs();
    AVIFileInit();
    int rc = Encode(o);
    AVIFileExit();
    return rc;
}
