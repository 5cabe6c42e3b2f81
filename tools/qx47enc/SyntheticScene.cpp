#include "SyntheticScene.h"

#include <algorithm>
#include <cmath>

namespace qx47 {

namespace {

constexpr double kPi = 3.14159265358979323846;

std::uint32_t Hash(std::int32_t x, std::int32_t y, std::uint32_t seed) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u +
                      static_cast<std::uint32_t>(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

double Lattice(int x, int y, std::uint32_t seed) {
    return (Hash(x, y, seed) & 0xffff) / 65535.0;
}

// Smooth value noise in [0, 1], periodic in x with `period` cells.
double ValueNoise(double x, double y, std::uint32_t seed, int period) {
    int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
    double fx = x - x0, fy = y - y0;
    auto wrap = [period](int v) { return ((v % period) + period) % period; };
    double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    double a = Lattice(wrap(x0), y0, seed), b = Lattice(wrap(x0 + 1), y0, seed);
    double c = Lattice(wrap(x0), y0 + 1, seed), d = Lattice(wrap(x0 + 1), y0 + 1, seed);
    return (a + (b - a) * sx) * (1 - sy) + (c + (d - c) * sx) * sy;
}

// Fractal sum of octaves; periodic in x over `period` base cells.
double Fbm(double x, double y, std::uint32_t seed, int octaves, int period) {
    double sum = 0, amp = 0.5, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amp * ValueNoise(x, y, seed + o * 101, period);
        norm += amp;
        x *= 2;
        y *= 2;
        period *= 2;
        amp *= 0.5;
    }
    return sum / norm;
}

std::uint8_t ToByte(double v) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

} // namespace

SyntheticScene::SyntheticScene(Kind kind, int width, int height)
    : kind_(kind), width_(width), height_(height) {
    if (kind_ != Kind::Landscape)
        return;
    // Layers repeat every layerWidth_ pixels, so the pan can go on for ever.
    layerWidth_ = std::max(1024, width_ * 2);
    const int w = layerWidth_, h = height_;
    const std::size_t n = static_cast<std::size_t>(w) * h;
    mountains_.assign(n * 3, 0);
    hills_.assign(n * 3, 0);
    clouds_.assign(n * 3, 255);
    mountainAlpha_.assign(n, 0);
    hillAlpha_.assign(n, 0);
    cloudAlpha_.assign(n, 0);
    const int cells = 8;
    for (int x = 0; x < w; ++x) {
        double u = static_cast<double>(x) / w * cells;
        double ridge = h * (0.38 + 0.22 * Fbm(u, 0.5, 11, 6, cells));
        double hill = h * (0.62 + 0.12 * Fbm(u * 0.7, 3.5, 23, 5, cells));
        for (int y = 0; y < h; ++y) {
            std::size_t i = static_cast<std::size_t>(y) * w + x;
            double v = static_cast<double>(y) / h;
            if (y >= ridge) {
                double rock = Fbm(u * 6, v * 40, 31, 4, cells * 6);
                double depth = (y - ridge) / (h - ridge + 1);
                double snow = std::max(0.0, 1 - depth * 9) * (rock > 0.45 ? 1 : 0.3);
                double base = 95 + 50 * rock - 30 * depth;
                mountains_[i * 3 + 0] = ToByte(base * 0.92 + snow * 120);
                mountains_[i * 3 + 1] = ToByte(base * 0.98 + snow * 120);
                mountains_[i * 3 + 2] = ToByte(base * 1.12 + snow * 110);
                mountainAlpha_[i] = 255;
            }
            if (y >= hill) {
                double grass = Fbm(u * 24, v * 60, 47, 4, cells * 24);
                double patch = Fbm(u * 3, v * 8, 53, 3, cells * 3);
                double shade = 0.75 + 0.35 * (1 - (y - hill) / (h - hill + 1));
                hills_[i * 3 + 0] = ToByte((60 + 70 * patch + 40 * grass) * shade);
                hills_[i * 3 + 1] = ToByte((110 + 60 * patch + 60 * grass) * shade);
                hills_[i * 3 + 2] = ToByte((30 + 30 * grass) * shade);
                hillAlpha_[i] = 255;
            }
            if (v < 0.5) {
                double c = Fbm(u * 2, v * 7, 71, 6, cells * 2);
                double a = std::clamp((c - 0.5) * 4, 0.0, 1.0) * (1 - v * 1.6);
                double lit = 215 + 40 * (1 - Fbm(u * 4, v * 14, 79, 3, cells * 4));
                clouds_[i * 3 + 0] = clouds_[i * 3 + 1] = clouds_[i * 3 + 2] = ToByte(lit);
                cloudAlpha_[i] = ToByte(std::max(0.0, a) * 255);
            }
        }
    }
}

void SyntheticScene::Render(int index, std::uint8_t* bgr) const {
    if (kind_ == Kind::Landscape)
        RenderLandscape(index, bgr);
    else
        RenderSprite(index, bgr);
}

void SyntheticScene::RenderLandscape(int index, std::uint8_t* bgr) const {
    const int w = width_, h = height_, lw = layerWidth_;
    const double t = index;
    // Parallax: far layers pan slower than near ones, all by fractions of a pixel.
    const double offCloud = t * 0.35, offMountain = t * 0.8, offHill = t * 1.9;
    auto sample = [lw, h](const std::vector<std::uint8_t>& rgb, const std::vector<std::uint8_t>& alpha,
                          double x, int y, double out[4]) {
        double fx = std::floor(x);
        int x0 = static_cast<int>(fx) % lw, x1 = (x0 + 1) % lw;
        double f = x - fx;
        std::size_t i0 = static_cast<std::size_t>(y) * lw + x0, i1 = static_cast<std::size_t>(y) * lw + x1;
        (void)h;
        for (int c = 0; c < 3; ++c)
            out[c] = rgb[i0 * 3 + c] * (1 - f) + rgb[i1 * 3 + c] * f;
        out[3] = (alpha[i0] * (1 - f) + alpha[i1] * f) / 255.0;
    };
    // A bird crossing the sky on a gentle wave.
    const double birdX = std::fmod(t * 3.0, w + 80.0) - 40, birdY = h * 0.22 + 18 * std::sin(t * 0.07);
    const double wing = std::sin(t * 0.6);
    for (int y = 0; y < h; ++y) {
        const double v = static_cast<double>(y) / h;
        const double sky[3] = {110 + 90 * v, 160 + 60 * v, 235 - 10 * v};
        std::uint8_t* row = bgr + static_cast<std::size_t>(y) * w * 3;
        for (int x = 0; x < w; ++x) {
            double c[3] = {sky[0], sky[1], sky[2]};
            // The sun, a soft disc.
            double dx = x - w * 0.78, dy = y - h * 0.16;
            double sun = std::exp(-(dx * dx + dy * dy) / (2 * 22.0 * 22.0));
            for (int k = 0; k < 3; ++k)
                c[k] += (k == 2 ? 30 : 70) * sun;
            double s[4];
            sample(clouds_, cloudAlpha_, x + offCloud, y, s);
            for (int k = 0; k < 3; ++k)
                c[k] = c[k] * (1 - s[3]) + s[k] * s[3];
            sample(mountains_, mountainAlpha_, x + offMountain, y, s);
            for (int k = 0; k < 3; ++k)
                c[k] = c[k] * (1 - s[3]) + s[k] * s[3];
            sample(hills_, hillAlpha_, x + offHill, y, s);
            for (int k = 0; k < 3; ++k)
                c[k] = c[k] * (1 - s[3]) + s[k] * s[3];
            double bx = x - birdX, by = y - birdY;
            if (std::abs(bx) < 14 && std::abs(by - wing * std::abs(bx) * 0.5) < 1.6 - std::abs(bx) * 0.05)
                c[0] = c[1] = c[2] = 35;
            row[x * 3 + 0] = ToByte(c[2]);
            row[x * 3 + 1] = ToByte(c[1]);
            row[x * 3 + 2] = ToByte(c[0]);
        }
    }
}

void SyntheticScene::RenderSprite(int index, std::uint8_t* bgr) const {
    const int w = width_, h = height_;
    for (int i = 0; i < w * h; ++i) {
        bgr[i * 3 + 0] = kFieldColor[2];
        bgr[i * 3 + 1] = kFieldColor[1];
        bgr[i * 3 + 2] = kFieldColor[0];
    }
    // A shaded ball with a ring, on a Lissajous path.
    const double t = index;
    const double r = std::min(w, h) * 0.16;
    const double cx = w / 2.0 + (w / 2.0 - r - 4) * std::sin(t * 0.031);
    const double cy = h / 2.0 + (h / 2.0 - r - 4) * std::sin(t * 0.047 + 1.0);
    const double spin = t * 0.05;
    for (int y = std::max(0, static_cast<int>(cy - r - 2)); y < std::min(h, static_cast<int>(cy + r + 2));
         ++y) {
        for (int x = std::max(0, static_cast<int>(cx - r - 2)); x < std::min(w, static_cast<int>(cx + r + 2));
             ++x) {
            double dx = (x - cx) / r, dy = (y - cy) / r;
            double d2 = dx * dx + dy * dy;
            if (d2 > 1)
                continue;
            double z = std::sqrt(1 - d2);
            double light = std::max(0.0, -0.45 * dx - 0.55 * dy + 0.7 * z);
            double band = std::sin((dx * std::cos(spin) + dy * std::sin(spin)) * 6) > 0 ? 1.0 : 0.75;
            std::uint8_t* p = bgr + (static_cast<std::size_t>(y) * w + x) * 3;
            p[2] = ToByte((40 + 200 * light) * band);
            p[1] = ToByte((70 + 150 * light) * band);
            p[0] = ToByte((30 + 60 * light) * band + 10);
        }
    }
}

std::vector<std::int16_t> SyntheticScene::Soundtrack(int sampleRate, double seconds) {
    static const double kChords[4][3] = {{261.63, 329.63, 392.00},
                                         {220.00, 261.63, 329.63},
                                         {174.61, 220.00, 261.63},
                                         {196.00, 246.94, 293.66}};
    const std::size_t n = static_cast<std::size_t>(sampleRate * seconds);
    std::vector<std::int16_t> pcm(n);
    for (std::size_t i = 0; i < n; ++i) {
        double t = static_cast<double>(i) / sampleRate;
        int chord = static_cast<int>(t / 2.0) % 4;
        double inChord = std::fmod(t, 2.0);
        double env = std::min(1.0, inChord * 8) * std::exp(-inChord * 0.9);
        double v = 0;
        for (double f : kChords[chord])
            v += std::sin(2 * kPi * f * t);
        pcm[i] = static_cast<std::int16_t>(std::lround(v / 3 * env * 9000));
    }
    return pcm;
}

} // namespace qx47
