// One open conversion stream of the Audio Compression Manager (Acm.h): a
// libavcodec decoder, the parser that finds frames in self-delimiting
// formats, libswresample for the 16-bit interleaved output, and the PCM that
// did not fit in the last destination.
#pragma once

#include "platform/acm/Acm.h"

#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

class AcmStream {
public:
    // How the source bytes are cut into the decoder's packets (Acm.h).
    enum class Framing { Parsed, Packet, Blocks };

    // The libavcodec codec id for a wave format, or 0 when none decodes it;
    // `extra` and `extraSize` are the bytes after the 18-byte header.
    static int CodecFor(const WAVEFORMATEX& format, const BYTE* extra, DWORD extraSize);
    // The PCM format a source decodes to (16-bit, its rate, at most stereo).
    static WAVEFORMATEX PcmFor(const WAVEFORMATEX& source);
    // The usual name of a format tag, or null for one without a decoder.
    static const char* NameFor(WORD formatTag);

    AcmStream() = default;
    ~AcmStream();
    AcmStream(const AcmStream&) = delete;
    AcmStream& operator=(const AcmStream&) = delete;

    // Creates the decoder; false when it refuses the format.
    bool Open(int codecId, const WAVEFORMATEX& source, const BYTE* extra, DWORD extraSize,
              const WAVEFORMATEX& pcm);
    MMRESULT Convert(ACMSTREAMHEADER& header, DWORD flags);
    DWORD OutputForSource(DWORD sourceBytes) const;
    DWORD SourceForOutput(DWORD outputBytes) const;
    // Forgets the decoder's state, a partial frame and the waiting PCM.
    void Restart();

    static constexpr std::uint32_t kTag = 0x4d434153; // 'SACM'
    std::uint32_t tag = kTag;

private:
    void Decode(const BYTE* data, int size);
    void Receive();
    void Append(const AVFrame& frame);
    DWORD Drain(BYTE* out, DWORD room);

    int codecId_ = 0;
    Framing framing_ = Framing::Blocks;
    bool pcmLike_ = false;
    bool ended_ = false;
    WAVEFORMATEX source_{};
    WAVEFORMATEX pcm_{};
    int samplesPerBlock_ = 0;
    AVCodecContext* context_ = nullptr;
    AVCodecParserContext* parser_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    SwrContext* resampler_ = nullptr;
    // What the resampler was set up for: format, rate and channel count.
    int inFormat_ = -1;
    int inRate_ = 0;
    int inChannels_ = 0;
    std::uint64_t inMask_ = 0;
    std::vector<BYTE> waiting_; // PCM not yet handed out, from waitingFrom_
    std::size_t waitingFrom_ = 0;
    std::vector<BYTE> scratch_;
    std::vector<BYTE> packetBytes_; // a packet with the decoder's zeroed padding
};
