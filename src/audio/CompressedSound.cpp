#include "audio/CompressedSound.h"

#include <algorithm>
#include <cstring>

namespace {

// A stream read takes about this much data of a stream with a sample size.
constexpr std::int64_t kReadBytes = 16 * 1024;
// Chunks larger than this are damage (real compressed frames are a few
// kilobytes) and are skipped unread.
constexpr LONG kMaxChunk = 1024 * 1024;
// Conversions in a row, or source bytes, that give no sound before a refill
// gives up on the block and plays silence.
constexpr int kMaxIdleConversions = 256;
constexpr std::size_t kMaxIdleBytes = 1024 * 1024;
// The largest stored format believed: the 18-byte header and its setup bytes.
constexpr LONG kMaxFormat = 18 + 65535;

} // namespace

CompressedSound::~CompressedSound() {
    if (prepared_) {
        header_.cbSrcLength = static_cast<DWORD>(source_.size());
        header_.cbDstLength = static_cast<DWORD>(decoded_.size());
        acmStreamUnprepareHeader(acm_, &header_, 0);
    }
    if (acm_)
        acmStreamClose(acm_, 0);
}

bool CompressedSound::Open(PAVISTREAM stream, const AVISTREAMINFOA& info, WAVEFORMATEX& pcm) {
    stream_ = stream;
    info_ = info;
    LONG size = 0;
    if (AVIStreamReadFormat(stream, 0, nullptr, &size) != AVIERR_OK ||
        size < static_cast<LONG>(sizeof(PCMWAVEFORMAT)) || size > kMaxFormat)
        return false;
    // The buffer holds at least the 18-byte header; a shorter stored record
    // leaves cbSize at 0, and cbSize never reaches past what was stored.
    std::vector<BYTE> format(std::max<std::size_t>(static_cast<std::size_t>(size), sizeof(WAVEFORMATEX)), 0);
    if (AVIStreamReadFormat(stream, 0, format.data(), &size) != AVIERR_OK)
        return false;
    auto* source = reinterpret_cast<WAVEFORMATEX*>(format.data());
    if (size < static_cast<LONG>(sizeof(WAVEFORMATEX)))
        source->cbSize = 0;
    else
        source->cbSize = static_cast<WORD>(std::min<LONG>(source->cbSize, size - sizeof(WAVEFORMATEX)));

    pcm = WAVEFORMATEX{};
    pcm.wFormatTag = WAVE_FORMAT_PCM;
    if (acmFormatSuggest(nullptr, source, &pcm, sizeof pcm, ACM_FORMATSUGGESTF_WFORMATTAG) !=
        MMSYSERR_NOERROR)
        return false;
    if (acmStreamOpen(&acm_, nullptr, source, &pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) !=
        MMSYSERR_NOERROR) {
        acm_ = nullptr;
        return false;
    }
    pcm_ = pcm;
    if (info.dwSampleSize > static_cast<DWORD>(kMaxChunk))
        return false;
    // Room for a read and a partial block left from the one before.
    const std::size_t read =
        info.dwSampleSize == 0
            ? std::min<std::size_t>(info.dwSuggestedBufferSize, kMaxChunk)
            : static_cast<std::size_t>(std::max<std::int64_t>(1, kReadBytes / info.dwSampleSize) *
                                       info.dwSampleSize);
    return Reserve(read + source->nBlockAlign);
}

// (Re)prepares the header for a source buffer of at least `bytes`; the
// destination is one conversion's worth, cut by Fill to what it needs.
bool CompressedSound::Reserve(std::size_t bytes) {
    if (prepared_ && source_.size() >= bytes)
        return true;
    if (prepared_) {
        header_.cbSrcLength = static_cast<DWORD>(source_.size());
        header_.cbDstLength = static_cast<DWORD>(decoded_.size());
        acmStreamUnprepareHeader(acm_, &header_, 0);
        prepared_ = false;
    }
    source_.resize(std::max<std::size_t>(bytes, 1));
    decoded_.resize(static_cast<std::size_t>(pcm_.nAvgBytesPerSec / 4 / pcm_.nBlockAlign + 1) *
                    pcm_.nBlockAlign);
    header_ = ACMSTREAMHEADER{};
    header_.cbStruct = sizeof header_;
    header_.pbSrc = source_.data();
    header_.cbSrcLength = static_cast<DWORD>(source_.size());
    header_.pbDst = decoded_.data();
    header_.cbDstLength = static_cast<DWORD>(decoded_.size());
    prepared_ = acmStreamPrepareHeader(acm_, &header_, 0) == MMSYSERR_NOERROR;
    return prepared_;
}

std::int64_t CompressedSound::PcmAt(std::int64_t sample) const {
    const __int128 n = static_cast<__int128>(sample) * info_.dwScale * pcm_.nSamplesPerSec;
    return static_cast<std::int64_t>(n / info_.dwRate);
}

LONG CompressedSound::Start(LONG sample) {
    const std::int64_t first = info_.dwStart;
    const std::int64_t end = first + info_.dwLength;
    const std::int64_t at = std::clamp<std::int64_t>(sample, first, end);
    const LONG time = AVIStreamSampleToTime(stream_, static_cast<LONG>(at));
    const std::int64_t preroll =
        (static_cast<std::int64_t>(kPrerollMs) * info_.dwRate + 1000ll * info_.dwScale - 1) /
        (1000ll * info_.dwScale);
    next_ = std::max(first, at - preroll);
    // The PCM sample that plays at `time`, less the one decoding begins with.
    const std::int64_t target = (static_cast<std::int64_t>(time) * pcm_.nSamplesPerSec + 500) / 1000;
    // A time base that lies can put that difference anywhere in 64 bits; a
    // run-in longer than any real one is held to a minute of sound, which a
    // lying stream then plays as silence.
    skip_ = std::clamp<std::int64_t>(target - PcmAt(next_), 0, 60ll * pcm_.nSamplesPerSec);
    sourceHave_ = 0;
    startPending_ = true;
    sourceDone_ = false;
    flushed_ = false;
    return time;
}

bool CompressedSound::ReadMore() {
    const std::int64_t end = static_cast<std::int64_t>(info_.dwStart) + info_.dwLength;
    if (next_ >= end)
        return false;
    const auto at = static_cast<LONG>(next_);
    LONG bytes = 0;
    LONG samples = 0;
    if (info_.dwSampleSize == 0) {
        ++next_;
        if (AVIStreamRead(stream_, at, 1, nullptr, 0, &bytes, &samples) != AVIERR_OK || bytes <= 0 ||
            bytes > kMaxChunk || !Reserve(sourceHave_ + static_cast<std::size_t>(bytes)))
            return true; // skipped: an empty, unreadable or absurd chunk
        if (AVIStreamRead(stream_, at, 1, source_.data() + sourceHave_, bytes, &bytes, &samples) == AVIERR_OK)
            sourceHave_ += static_cast<std::size_t>(bytes);
        return true;
    }
    const std::int64_t want =
        std::min<std::int64_t>(std::max<std::int64_t>(1, kReadBytes / info_.dwSampleSize), end - next_);
    const std::size_t room = source_.size() - sourceHave_;
    if (AVIStreamRead(stream_, at, static_cast<LONG>(want), source_.data() + sourceHave_,
                      static_cast<LONG>(room), &bytes, &samples) != AVIERR_OK ||
        samples <= 0) {
        next_ += want; // an unreadable stretch is passed over
        return true;
    }
    next_ += samples;
    sourceHave_ += static_cast<std::size_t>(bytes);
    return true;
}

LONG CompressedSound::Fill(BYTE* out, LONG bytes) {
    const LONG frameBytes = pcm_.nBlockAlign;
    bytes = bytes / frameBytes * frameBytes;
    LONG filled = 0;
    int idle = 0;
    std::size_t idleBytes = 0;
    bool needSource = true;
    while (filled < bytes) {
        if (needSource && !sourceDone_ && !ReadMore())
            sourceDone_ = true;
        DWORD flags = ACM_STREAMCONVERTF_BLOCKALIGN;
        if (startPending_)
            flags |= ACM_STREAMCONVERTF_START;
        if (sourceDone_ && !flushed_)
            flags = (flags & ~ACM_STREAMCONVERTF_BLOCKALIGN) | ACM_STREAMCONVERTF_END;
        // While dropping the preroll, a conversion never gives more than is
        // dropped, so no kept sound passes through the drop.
        const std::int64_t room =
            skip_ > 0 ? std::min<std::int64_t>(skip_ * frameBytes, static_cast<std::int64_t>(decoded_.size()))
                      : std::min<std::int64_t>(bytes - filled, static_cast<std::int64_t>(decoded_.size()));
        header_.cbSrcLength = static_cast<DWORD>(sourceHave_);
        header_.cbDstLength = static_cast<DWORD>(room);
        if (acmStreamConvert(acm_, &header_, flags) != MMSYSERR_NOERROR)
            return filled;
        startPending_ = false;
        if (flags & ACM_STREAMCONVERTF_END)
            flushed_ = true;
        const DWORD used = std::min<DWORD>(header_.cbSrcLengthUsed, static_cast<DWORD>(sourceHave_));
        if (used > 0)
            std::memmove(source_.data(), source_.data() + used, sourceHave_ - used);
        sourceHave_ -= used;
        const LONG got = static_cast<LONG>(header_.cbDstLengthUsed);
        if (skip_ > 0) {
            skip_ -= got / frameBytes;
        } else if (got > 0) {
            std::memcpy(out + filled, decoded_.data(), static_cast<std::size_t>(got));
            filled += got;
        }
        if (got > 0) {
            idle = 0;
            idleBytes = 0;
        } else if (flushed_ && sourceHave_ == 0) {
            break; // the end of the stream
        } else if (++idle > kMaxIdleConversions || (idleBytes += used) > kMaxIdleBytes) {
            std::memset(out + filled, 0, static_cast<std::size_t>(bytes - filled));
            return bytes;
        }
        // The converter wants more when it took everything, or when what is
        // left (a partial block) gave nothing.
        needSource = sourceHave_ == 0 || (used == 0 && got == 0);
    }
    return filled;
}
