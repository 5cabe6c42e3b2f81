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
    for (const Tone& t : tones) {
        for (int i = 0; i < t.samples; ++i) {
            const auto v = static_cast<std::int16_t>(std::lround(kAmplitude * std::sin(phase)));
            out.push_back(v);
            out.push_back(v);
            phase += 2 * M_PI * t.hz / rate;
            if (phase > 2 * M_PI)
                phase -= 2 * M_PI;
        }
    }
    return out;
}

Hearing Listen(const std::vector<std::int16_t>& stereo, unsigned rate) {
    Hearing h;
    std::vector<int> left;
    left.reserve(stereo.size() / 2);
    for (std::size_t i = 0; i + 1 < stereo.size(); i += 2)
        left.push_back(stereo[i]);
    std::size_t first = left.size(), last = 0;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (std::abs(left[i]) > kLoud) {
            if (first == left.size())
                first = i;
            last = i;
        }
    }
    if (first >= last)
        return h;
    h.soundMs = (last - first + 1) * 1000.0 / rate;

    // Silences: runs of quiet samples longer than a millisecond (a sine is
    // near zero for well under a sample at these amplitudes and frequencies).
    std::size_t run = 0;
    for (std::size_t i = first; i <= last; ++i) {
        if (std::abs(left[i]) <= kQuiet) {
            ++run;
        } else {
            if (run > rate / 1000) {
                const double ms = run * 1000.0 / rate;
                h.longestGapMs = std::max(h.longestGapMs, ms);
                if (ms > 20)
                    ++h.gapsOver20Ms;
            }
            run = 0;
        }
    }

    // Tones: the zero crossings of 10 ms windows, rounded to the tone grid;
    // windows astride a change or a gap are dropped by needing three alike.
    const std::size_t window = rate / 100;
    std::vector<double> hz;
    for (std::size_t w = first; w + window <= last + 1; w += window) {
        int crossings = 0;
        bool loud = false;
        for (std::size_t i = w + 1; i < w + window; ++i) {
            if ((left[i - 1] < 0) != (left[i] < 0))
                ++crossings;
            loud = loud || std::abs(left[i]) > kLoud;
        }
        const double f = crossings * static_cast<double>(rate) / (2.0 * window);
        hz.push_back(loud ? std::round(f / kToneStep) * kToneStep : 0);
    }
    for (std::size_t i = 0; i < hz.size();) {
        std::size_t j = i;
        while (j < hz.size() && hz[j] == hz[i])
            ++j;
        if (hz[i] != 0 && j - i >= 3)
            h.tones.push_back({hz[i], (j - i) * 10.0});
        i = j;
    }
    return h;
}

std::vector<std::int16_t> ReadRawFile(const std::string& path) {
    // s16le on a little-endian machine: the bytes are the samples.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return {};
    std::vector<std::int16_t> samples(static_cast<std::size_t>(in.tellg()) / 2);
    in.seekg(0).read(reinterpret_cast<char*>(samples.data()),
                     static_cast<std::streamsize>(2 * samples.size()));
    return samples;
}

std::vector<std::vector<std::int16_t>> SplitAtSilences(const std::vector<std::int16_t>& stereo, unsigned rate,
                                                       double minGapMs) {
    std::vector<std::vector<std::int16_t>> parts;
    const std::size_t frames = stereo.size() / 2;
    const auto minGap = static_cast<std::size_t>(minGapMs * rate / 1000);
    std::size_t start = frames, lastLoud = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        if (std::abs(stereo[2 * i]) <= kLoud)
            continue;
        if (start != frames && i - lastLoud > minGap) {
            parts.emplace_back(stereo.begin() + 2 * start, stereo.begin() + 2 * (lastLoud + 1));
            start = frames;
        }
        if (start == frames)
            start = i;
        lastLoud = i;
    }
    if (start != frames)
        parts.emplace_back(stereo.begin() + 2 * start, stereo.begin() + 2 * (lastLoud + 1));
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
        if (t.hz == hz)
            ms += t.ms;
    return ms;
}

} // namespace cadmo::test
