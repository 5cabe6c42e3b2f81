// Sound with a known shape for tests that listen to what was played: a
// sequence of sine tones, and the analysis that recovers the sequence, its
// length and its gaps from a recording.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cadmo::test {

struct Tone {
    double hz; // multiples of 500 Hz are told apart reliably
    int samples;
};

// Interleaved 16-bit stereo, both channels alike, phase continuous.
std::vector<std::int16_t> MakeTones(const std::vector<Tone>& tones, unsigned rate);

struct HeardTone {
    double hz;
    double ms;
};

struct Hearing {
    std::vector<HeardTone> tones; // in order; a tone heard in two parts appears twice
    double soundMs = 0;           // from the first to the last loud sample
    double longestGapMs = 0;      // the longest silence inside that span
    int gapsOver20Ms = 0;         // silences inside that span longer than 20 ms
};

Hearing Listen(const std::vector<std::int16_t>& stereo, unsigned rate);
std::vector<std::int16_t> ReadRawFile(const std::string& path);

// Cuts a recording into its sounds: the parts separated by silences longer
// than minGapMs, leading and trailing silence dropped.
std::vector<std::vector<std::int16_t>> SplitAtSilences(const std::vector<std::int16_t>& stereo, unsigned rate,
                                                       double minGapMs);

// The tone frequencies in order, with consecutive repeats merged.
std::vector<double> ToneOrder(const Hearing& h);
// Total heard time of each distinct frequency, in order of first hearing.
double HeardMsOf(const Hearing& h, double hz);

} // namespace cadmo::test
