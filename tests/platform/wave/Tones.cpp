#include "Tones.h"

#include <cmath>
#include <cstdlib>
#include <fstream>

namespace cadmo::test {

namespace {
constexpr double kAmplitude = 12000;
constexpr int kLoud = 1500; // a sample beyond this is sound
constexpr int kQuiet = 300; // a run of samples within this is silence
constexpr double kToneStep = 500;
} // namespace

std::vector<std::int16_t> MakeTones(const std::vector<Tone>& tones, unsigned rate) {
    std::vector<std::int16_t> out;
    double phase = 0;
    for (const Tone& t : tones)
        for (int i = 0; i < t.samples; ++i, phase = std::fmod(phase + 2 * M_PI * t.hz / rate, 2 * M_PI))
            out.insert(out.end(), 2, static_cast<std::int16_t>(std::lround(kAmplitude * std::sin(phase))));
    return out;
}

Hearing Listen(const std::vector<std::int16_t>& stereo, unsigned rate) {
    // The left channel is enough: both are alike.
    const auto left = [&](std::size_t i) { return static_cast<int>(stereo[2 * i]); };
    const std::size_t frames = stereo.size() / 2;
    std::size_t first = frames, last = 0;
    for (std::size_t i = 0; i < frames; ++i)
        if (std::abs(left(i)) > kLoud) {
            first = std::min(first, i);
            last = i;
        }
    Hearing h;
    if (first >= last)
        return h;
    h.soundMs = (last - first + 1) * 1000.0 / rate;

    // Silences: runs of quiet samples longer than a millisecond (a sine is
    // near zero for well under a sample at these amplitudes and frequencies).
    std::size_t run = 0;
    for (std::size_t i = first; i <= last; ++i) {
        if (std::abs(left(i)) <= kQuiet) {
            ++run;
            continue;
        }
        const double ms = run * 1000.0 / rate;
        if (run > rate / 1000) {
            h.longestGapMs = std::max(h.longestGapMs, ms);
            h.gapsOver20Ms += ms > 20;
        }
        run = 0;
    }

    // Tones: the zero crossings of 10 ms windows, rounded to the tone grid;
    // windows astride a change or a gap are dropped by needing three alike.
    const std::size_t window = rate / 100;
    std::vector<double> hz;
    for (std::size_t w = first; w + window <= last + 1; w += window) {
        int crossings = 0;
        bool loud = false;
        for (std::size_t i = w + 1; i < w + window; ++i) {
            crossings += (left(i - 1) < 0) != (left(i) < 0);
            loud = loud || std::abs(left(i)) > kLoud;
        }
        hz.push_back(loud ? std::round(crossings * rate / (2.0 * window) / kToneStep) * kToneStep : 0);
    }
    for (std::size_t i = 0, j = 0; i < hz.size(); i = j) {
        while (j < hz.size() && hz[j] == hz[i])
            ++j;
        if (hz[i] != 0 && j - i >= 3)
            h.tones.push_back({hz[i], (j - i) * 10.0});
    }
    return h;
}

std::vector<std::int16_t> ReadRawFile(const std::string& path) {
    // s16le on a little-endian machine: the bytes are the samples.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<std::int16_t> samples(in ? static_cast<std::size_t>(in.tellg()) / 2 : 0);
    in.seekg(0).read(reinterpret_cast<char*>(samples.data()),
                     static_cast<std::streamsize>(2 * samples.size()));
    return samples;
}

std::vector<std::vector<std::int16_t>> SplitAtSilences(const std::vector<std::int16_t>& stereo, unsigned rate,
                                                       double minGapMs) {
    std::vector<std::vector<std::int16_t>> parts;
    const std::size_t frames = stereo.size() / 2, none = frames;
    const auto minGap = static_cast<std::size_t>(minGapMs * rate / 1000);
    const auto cut = [&](std::size_t from, std::size_t to) {
        parts.emplace_back(stereo.begin() + 2 * from, stereo.begin() + 2 * (to + 1));
    };
    std::size_t start = none, lastLoud = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        if (std::abs(stereo[2 * i]) <= kLoud)
            continue;
        if (start != none && i - lastLoud > minGap) {
            cut(start, lastLoud);
            start = none;
        }
        start = start == none ? i : start;
        lastLoud = i;
    }
    if (start != none)
        cut(start, lastLoud);
    return parts;
}

std::vector<double> ToneOrder(const Hearing& h) {
    std::vector<double> order;
    for (const HeardTone& t : h.tones)
        if (order.empty() || order.back() != t.hz)
            order.push_back(t.hz);
    return order;
}

double HeardMsOf(const Hearing& h, double hz) {
    double ms = 0;
    for (const HeardTone& t : h.tones)
        ms += t.hz == hz ? t.ms : 0;
    return ms;
}

} // namespace cadmo::test
