#include "platform/acm/AcmStream.h"

#include <algorithm>
#include <cstring>
#include <limits>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

struct FormatTag {
    WORD tag;
    AVCodecID codec;
    const char* name;
};

// The wave format tags that name a format libavcodec decodes. IMA and MS
// ADPCM, mu-law and A-law use the names their classic drivers gave them, so
// the Info sheet reads as people know them.
constexpr FormatTag kTags[] = {
    {WAVE_FORMAT_PCM, AV_CODEC_ID_PCM_S16LE, "PCM"},
    {WAVE_FORMAT_ADPCM, AV_CODEC_ID_ADPCM_MS, "Microsoft ADPCM"},
    {WAVE_FORMAT_IEEE_FLOAT, AV_CODEC_ID_PCM_F32LE, "IEEE Float"},
    {WAVE_FORMAT_ALAW, AV_CODEC_ID_PCM_ALAW, "CCITT A-Law"},
    {WAVE_FORMAT_MULAW, AV_CODEC_ID_PCM_MULAW, "CCITT u-Law"},
    {WAVE_FORMAT_IMA_ADPCM, AV_CODEC_ID_ADPCM_IMA_WAV, "IMA ADPCM"},
    {WAVE_FORMAT_GSM610, AV_CODEC_ID_GSM_MS, "GSM 6.10"},
    {WAVE_FORMAT_MPEG, AV_CODEC_ID_MP2, "MPEG Layer-2"},
    {WAVE_FORMAT_MPEGLAYER3, AV_CODEC_ID_MP3, "MPEG Layer-3"},
    {0x00FF, AV_CODEC_ID_AAC, "AAC"},
    {0x1600, AV_CODEC_ID_AAC, "AAC"},
    {0x1610, AV_CODEC_ID_AAC, "AAC"},
    {0x706D, AV_CODEC_ID_AAC, "AAC"},
    {0xA106, AV_CODEC_ID_AAC, "AAC"},
    {0x2000, AV_CODEC_ID_AC3, "Dolby AC-3"},
    {0x2001, AV_CODEC_ID_DTS, "DTS"},
};

const FormatTag* Find(WORD tag) {
    for (const FormatTag& t : kTags)
        if (t.tag == tag)
            return &t;
    return nullptr;
}

// WAVE_FORMAT_EXTENSIBLE: 22 bytes of its own before any setup data, the
// sub-format's first two bytes being the format tag.
constexpr DWORD kExtensibleBytes = 22;

// Frames of self-delimiting formats are at least this long, and decode to at
// most kMaxFrameSamples samples: the bounds of acmStreamSize's estimate.
constexpr DWORD kMinFrameBytes = 24;
constexpr DWORD kMaxFrameSamples = 4096;

DWORD Clamp32(std::uint64_t v) {
    return static_cast<DWORD>(std::min<std::uint64_t>(v, std::numeric_limits<DWORD>::max()));
}

} // namespace

int AcmStream::CodecFor(const WAVEFORMATEX& format, const BYTE* extra, DWORD extraSize) {
    WORD tag = format.wFormatTag;
    if (tag == WAVE_FORMAT_EXTENSIBLE) {
        if (extra == nullptr || extraSize < kExtensibleBytes)
            return 0;
        tag = static_cast<WORD>(extra[6] | (extra[7] << 8));
    }
    if (tag == WAVE_FORMAT_PCM)
        return 0; // nothing to convert; PCM goes to the device as it is
    const FormatTag* t = Find(tag);
    if (t == nullptr)
        return 0;
    // The MPEG tag covers layers 1 and 2; libavcodec's layer 2 decoder
    // takes both.
    AVCodecID id = t->codec;
    if (id == AV_CODEC_ID_PCM_F32LE && format.wBitsPerSample == 64)
        id = AV_CODEC_ID_PCM_F64LE;
    return avcodec_find_decoder(id) ? static_cast<int>(id) : 0;
}

const char* AcmStream::NameFor(WORD formatTag) {
    const FormatTag* t = Find(formatTag);
    return t ? t->name : nullptr;
}

WAVEFORMATEX AcmStream::PcmFor(const WAVEFORMATEX& source) {
    WAVEFORMATEX pcm{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    pcm.nChannels = static_cast<WORD>(std::min<WORD>(source.nChannels, 2));
    pcm.nSamplesPerSec = source.nSamplesPerSec;
    pcm.wBitsPerSample = 16;
    pcm.nBlockAlign = static_cast<WORD>(pcm.nChannels * 2);
    pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
    pcm.cbSize = 0;
    return pcm;
}

AcmStream::~AcmStream() {
    tag = 0;
    av_parser_close(parser_);
    avcodec_free_context(&context_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    swr_free(&resampler_);
}

bool AcmStream::Open(int codecId, const WAVEFORMATEX& source, const BYTE* extra, DWORD extraSize,
                     const WAVEFORMATEX& pcm) {
    const AVCodec* codec = avcodec_find_decoder(static_cast<AVCodecID>(codecId));
    if (codec == nullptr)
        return false;
    codecId_ = codecId;
    source_ = source;
    pcm_ = pcm;
    context_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!context_ || !packet_ || !frame_)
        return false;
    context_->sample_rate = static_cast<int>(source.nSamplesPerSec);
    av_channel_layout_default(&context_->ch_layout, source.nChannels);
    context_->block_align = source.nBlockAlign;
    context_->bit_rate = static_cast<std::int64_t>(source.nAvgBytesPerSec) * 8;
    context_->bits_per_coded_sample = source.wBitsPerSample;
    context_->thread_count = 1;
    if (source.wFormatTag == WAVE_FORMAT_EXTENSIBLE && extraSize >= kExtensibleBytes) {
        extra += kExtensibleBytes;
        extraSize -= kExtensibleBytes;
    }
    if (extraSize > 0 && extra != nullptr) {
        context_->extradata = static_cast<uint8_t*>(av_mallocz(extraSize + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!context_->extradata)
            return false;
        std::memcpy(context_->extradata, extra, extraSize);
        context_->extradata_size = static_cast<int>(extraSize);
    }
    if (avcodec_open2(context_, codec, nullptr) < 0)
        return false;

    const auto id = static_cast<AVCodecID>(codecId);
    pcmLike_ = id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT;
    const bool selfDelimiting = id == AV_CODEC_ID_MP1 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP3 ||
                                id == AV_CODEC_ID_AC3 || id == AV_CODEC_ID_EAC3 || id == AV_CODEC_ID_DTS ||
                                (id == AV_CODEC_ID_AAC && extraSize == 0);
    if (selfDelimiting) {
        framing_ = Framing::Parsed;
        parser_ = av_parser_init(codecId);
        if (!parser_)
            return false;
    } else if (id == AV_CODEC_ID_AAC || source.nBlockAlign == 0) {
        framing_ = Framing::Packet;
    } else {
        framing_ = Framing::Blocks;
        AVCodecParameters* parameters = avcodec_parameters_alloc();
        if (parameters && avcodec_parameters_from_context(parameters, context_) >= 0)
            samplesPerBlock_ = av_get_audio_frame_duration2(parameters, source.nBlockAlign);
        avcodec_parameters_free(&parameters);
    }
    return true;
}

void AcmStream::Restart() {
    avcodec_flush_buffers(context_);
    if (parser_) {
        av_parser_close(parser_);
        parser_ = av_parser_init(codecId_);
    }
    swr_free(&resampler_);
    inFormat_ = -1;
    waiting_.clear();
    waitingFrom_ = 0;
    ended_ = false;
}

DWORD AcmStream::Drain(BYTE* out, DWORD room) {
    const DWORD frameBytes = pcm_.nBlockAlign;
    const std::size_t have = waiting_.size() - waitingFrom_;
    const std::size_t take = std::min<std::size_t>(room / frameBytes * frameBytes, have);
    if (take > 0)
        std::memcpy(out, waiting_.data() + waitingFrom_, take);
    waitingFrom_ += take;
    if (waitingFrom_ == waiting_.size()) {
        waiting_.clear();
        waitingFrom_ = 0;
    }
    return static_cast<DWORD>(take);
}

MMRESULT AcmStream::Convert(ACMSTREAMHEADER& header, DWORD flags) {
    // After END the stream starts afresh, once what it still held is out.
    if ((flags & ACM_STREAMCONVERTF_START) || (ended_ && waiting_.empty()))
        Restart();
    header.cbSrcLengthUsed = 0;
    header.cbDstLengthUsed = Drain(header.pbDst, header.cbDstLength);
    if (!waiting_.empty())
        return MMSYSERR_NOERROR;

    const BYTE* src = header.pbSrc;
    const DWORD length = src ? header.cbSrcLength : 0;
    DWORD used = length;
    switch (framing_) {
    case Framing::Parsed: {
        const BYTE* p = src;
        int left = static_cast<int>(length);
        while (left > 0) {
            uint8_t* frame = nullptr;
            int frameSize = 0;
            const int n = av_parser_parse2(parser_, context_, &frame, &frameSize, p, left, AV_NOPTS_VALUE,
                                           AV_NOPTS_VALUE, 0);
            if (n < 0 || (n == 0 && frameSize == 0))
                break;
            p += n;
            left -= n;
            if (frameSize > 0)
                Decode(frame, frameSize);
        }
        break;
    }
    case Framing::Packet:
        if (length > 0)
            Decode(src, static_cast<int>(length));
        break;
    case Framing::Blocks: {
        const DWORD block = source_.nBlockAlign;
        const DWORD whole = length / block * block;
        if (pcmLike_) {
            if (whole > 0)
                Decode(src, static_cast<int>(whole));
        } else {
            for (DWORD at = 0; at < whole; at += block)
                Decode(src + at, static_cast<int>(block));
        }
        if (whole < length) {
            if (flags & ACM_STREAMCONVERTF_BLOCKALIGN)
                used = whole;
            else
                Decode(src + whole, static_cast<int>(length - whole));
        }
        break;
    }
    }
    header.cbSrcLengthUsed = used;

    if (flags & ACM_STREAMCONVERTF_END) {
        if (parser_) {
            uint8_t* frame = nullptr;
            int frameSize = 0;
            av_parser_parse2(parser_, context_, &frame, &frameSize, nullptr, 0, AV_NOPTS_VALUE,
                             AV_NOPTS_VALUE, 0);
            if (frameSize > 0)
                Decode(frame, frameSize);
        }
        if (avcodec_send_packet(context_, nullptr) >= 0)
            Receive();
        ended_ = true;
    }
    header.cbDstLengthUsed +=
        Drain(header.pbDst + header.cbDstLengthUsed, header.cbDstLength - header.cbDstLengthUsed);
    return MMSYSERR_NOERROR;
}

void AcmStream::Decode(const BYTE* data, int size) {
    // Decoders may read a little past a packet's end; the copy's padding is
    // zero, as they require.
    packetBytes_.assign(static_cast<std::size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::memcpy(packetBytes_.data(), data, static_cast<std::size_t>(size));
    av_packet_unref(packet_);
    packet_->data = packetBytes_.data();
    packet_->size = size;
    // A packet the decoder refuses is damage: it adds nothing and the stream
    // goes on with the next one.
    if (avcodec_send_packet(context_, packet_) < 0)
        return;
    Receive();
}

void AcmStream::Receive() {
    while (avcodec_receive_frame(context_, frame_) >= 0) {
        Append(*frame_);
        av_frame_unref(frame_);
    }
}

void AcmStream::Append(const AVFrame& frame) {
    if (frame.nb_samples <= 0 || frame.sample_rate <= 0 || frame.ch_layout.nb_channels <= 0)
        return;
    AVChannelLayout in{};
    if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in, frame.ch_layout.nb_channels);
    else if (av_channel_layout_copy(&in, &frame.ch_layout) < 0)
        return;
    const std::uint64_t mask = in.order == AV_CHANNEL_ORDER_NATIVE ? in.u.mask : 0;
    if (!resampler_ || frame.format != inFormat_ || frame.sample_rate != inRate_ ||
        in.nb_channels != inChannels_ || mask != inMask_) {
        swr_free(&resampler_);
        AVChannelLayout out{};
        av_channel_layout_default(&out, pcm_.nChannels);
        const int made = swr_alloc_set_opts2(
            &resampler_, &out, AV_SAMPLE_FMT_S16, static_cast<int>(pcm_.nSamplesPerSec), &in,
            static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0, nullptr);
        av_channel_layout_uninit(&out);
        if (made < 0 || swr_init(resampler_) < 0) {
            swr_free(&resampler_);
            av_channel_layout_uninit(&in);
            return;
        }
        inFormat_ = frame.format;
        inRate_ = frame.sample_rate;
        inChannels_ = in.nb_channels;
        inMask_ = mask;
    }
    av_channel_layout_uninit(&in);
    const int room = swr_get_out_samples(resampler_, frame.nb_samples);
    if (room <= 0)
        return;
    const std::size_t frameBytes = pcm_.nBlockAlign;
    scratch_.resize(static_cast<std::size_t>(room) * frameBytes);
    uint8_t* out = scratch_.data();
    const int got = swr_convert(resampler_, &out, room, const_cast<const uint8_t**>(frame.extended_data),
                                frame.nb_samples);
    if (got <= 0)
        return;
    waiting_.insert(waiting_.end(), scratch_.begin(),
                    scratch_.begin() +
                        static_cast<std::ptrdiff_t>(static_cast<std::size_t>(got) * frameBytes));
}

DWORD AcmStream::OutputForSource(DWORD sourceBytes) const {
    const std::uint64_t frameBytes = pcm_.nBlockAlign;
    const std::uint64_t waiting = waiting_.size() - waitingFrom_;
    if (framing_ == Framing::Blocks) {
        const std::uint64_t block = source_.nBlockAlign;
        const std::uint64_t blocks = (sourceBytes + block - 1) / block;
        const std::uint64_t perBlock =
            samplesPerBlock_ > 0 ? static_cast<std::uint64_t>(samplesPerBlock_) : block * 4;
        return Clamp32(blocks * perBlock * frameBytes + waiting);
    }
    const std::uint64_t frames = sourceBytes / kMinFrameBytes + 2;
    return Clamp32(frames * kMaxFrameSamples * frameBytes + waiting);
}

DWORD AcmStream::SourceForOutput(DWORD outputBytes) const {
    const std::uint64_t samples = outputBytes / pcm_.nBlockAlign;
    if (framing_ == Framing::Blocks) {
        const std::uint64_t block = source_.nBlockAlign;
        const std::uint64_t perBlock =
            samplesPerBlock_ > 0 ? static_cast<std::uint64_t>(samplesPerBlock_) : 1;
        return Clamp32(std::max<std::uint64_t>(1, samples / perBlock) * block);
    }
    const std::uint64_t perSecond = source_.nAvgBytesPerSec > 0 ? source_.nAvgBytesPerSec : 16000;
    return Clamp32(std::max<std::uint64_t>(1, samples * perSecond / std::max<DWORD>(1, pcm_.nSamplesPerSec)));
}
