#include "Tones.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace cadmo::test {

namespace {
constexpr double kAmplitude = 12000;
constexpr int kLoud = 1500; // a sample beyond this is sound
constexpr double kToneStep = 500;

// The frames whose left sample (both channels are alike) is sound. A sine
// of these amplitudes and frequencies stays below kLoud for well under a
// millisecond around each zero crossing, so any longer distance between
// two of these frames is a silence.
std::vector<std::size_t> LoudFrames(const std::vector<std::int16_t>& stereo) {
    std::vector<std::size_t> loud;
    for (std::size_t i = 0; 2 * i < stereo.size(); ++i)
        if (std::abs(stereo[2 * i]) > kLoud)
            loud.push_back(i);
    return loud;
}
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
    const std::vector<std::size_t> loud = LoudFrames(stereo);
    Hearing h;
    if (loud.size() < 2)
        return h;
    const std::size_t first = loud.front(), last = loud.back();
    h.soundMs = (last - first + 1) * 1000.0 / rate;
    for (std::size_t i = 1; i < loud.size(); ++i) {
        const double gapMs = (loud[i] - loud[i - 1] - 1) * 1000.0 / rate;
        h.longestGapMs = std::max(h.longestGapMs, gapMs);
        h.gapsOver20Ms += gapMs > 20;
    }

    // Tones: the zero crossings of 10 ms windows, rounded to the tone grid;
    // windows astride a change or a gap are dropped by needing three alike.
    const std::size_t window = rate / 100;
    std::vector<double> hz;
    for (std::size_t w = first; w + window <= last + 1; w += window) {
        int crossings = 0;
        for (std::size_t i = w + 1; i < w + window; ++i)
            crossings += (stereo[2 * i - 2] < 0) != (stereo[2 * i] < 0);
        const bool heard = std::lower_bound(loud.begin(), loud.end(), w) !=
                           std::lower_bound(loud.begin(), loud.end(), w + window);
        hz.push_back(heard ? std::round(crossings * rate / (2.0 * window) / kToneStep) * kToneStep : 0);
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
    const std::vector<std::size_t> loud = LoudFrames(stereo);
    const auto minGap = static_cast<std::size_t>(minGapMs * rate / 1000);
    for (std::size_t i = 0, start = 0; i < loud.size(); ++i)
        if (i + 1 == loud.size() || loud[i + 1] - loud[i] > minGap) {
            parts.emplace_back(stereo.begin() + 2 * loud[start], stereo.begin() + 2 * (loud[i] + 1));
            start = i + 1;
        }
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
