// The movie's compressed sound: reads the audio stream's data and turns it
// into PCM through the Audio Compression Manager, a ring block at a time, so
// that the ring of wave buffers plays it like PCM.
//
// Time: the stream's samples are its own units (an MPEG frame for a stream of
// sample size 0, a block for ADPCM, a byte for a byte-counted stream), so a
// position converts to time through the stream's rate and scale. Start
// begins the decoded sound at the exact PCM sample of the requested time: it
// decodes from a little earlier (kPrerollMs) and drops what comes before, so
// the first sound heard is whole, never the half-built output of a decoder
// fed from the middle of its stream. A stream that counts bytes cannot tell
// where its frames begin, so there the start can be up to one codec frame
// early.
//
// Damage: data the decoder refuses plays as silence; a run of it longer than
// a block gives a block of silence rather than searching on, so a refill
// never holds the wave notification thread for long.
//
// Threads: used by one thread at a time, as the ring is (Movie.h).
#pragma once

#include "platform/acm/Acm.h"
#include "platform/avi/AviFile.h"

#include <cstdint>
#include <vector>

class CompressedSound {
public:
    CompressedSound() = default;
    ~CompressedSound();
    CompressedSound(const CompressedSound&) = delete;
    CompressedSound& operator=(const CompressedSound&) = delete;

    // Opens the conversion of the stream's stored format to PCM and sets
    // `pcm` to the format the device plays; false when nothing decodes it.
    bool Open(PAVISTREAM stream, const AVISTREAMINFOA& info, WAVEFORMATEX& pcm);
    // Positions the sound at a stream sample; returns the stream time in ms
    // at which the next Fill's first PCM sample plays.
    LONG Start(LONG sample);
    // Fills `bytes` bytes (whole PCM frames) with the next sound; fewer only
    // at the end of the stream, 0 once it is over.
    LONG Fill(BYTE* out, LONG bytes);

    // How long the decoder is fed before the time asked for.
    static constexpr LONG kPrerollMs = 250;

private:
    bool ReadMore();
    bool Reserve(std::size_t bytes);
    std::int64_t PcmAt(std::int64_t sample) const;

    PAVISTREAM stream_ = nullptr;
    AVISTREAMINFOA info_{};
    WAVEFORMATEX pcm_{};
    HACMSTREAM acm_ = nullptr;
    ACMSTREAMHEADER header_{};
    bool prepared_ = false;
    std::vector<BYTE> source_;
    std::vector<BYTE> decoded_;
    std::size_t sourceHave_ = 0;
    std::int64_t next_ = 0; // the stream sample read next
    std::int64_t skip_ = 0; // PCM frames still to drop before the start
    bool startPending_ = false;
    bool sourceDone_ = false;
    bool flushed_ = false;
};
