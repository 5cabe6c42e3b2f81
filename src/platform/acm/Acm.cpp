#include "platform/acm/Acm.h"

#include "platform/acm/AcmStream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

struct HACMSTREAM__ {};

namespace {

// Buffers larger than this are refused at prepare: the decoders take packet
// sizes as int, and no sound needs a gigabyte at once.
constexpr DWORD kMaxBuffer = 1u << 30;
// The most channels and the fastest rate a source may claim (the wave
// device's own limits).
constexpr WORD kMaxChannels = 8;
constexpr DWORD kMaxRate = 384000;

AcmStream* Stream(HACMSTREAM has) {
    auto* stream = reinterpret_cast<AcmStream*>(has);
    return stream && stream->tag == AcmStream::kTag ? stream : nullptr;
}

// The setup bytes after a source's 18-byte header.
const BYTE* Extra(const WAVEFORMATEX* format) {
    return format->cbSize > 0 ? reinterpret_cast<const BYTE*>(format) + sizeof(WAVEFORMATEX) : nullptr;
}

// A source whose header could not describe real sound is refused before any
// decoder sees it.
bool Plausible(const WAVEFORMATEX& f) {
    return f.nChannels >= 1 && f.nChannels <= kMaxChannels && f.nSamplesPerSec >= 1 &&
           f.nSamplesPerSec <= kMaxRate;
}

bool SamePcm(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels &&
           a.nSamplesPerSec == b.nSamplesPerSec && a.nBlockAlign == b.nBlockAlign &&
           a.wBitsPerSample == b.wBitsPerSample && a.nAvgBytesPerSec == b.nAvgBytesPerSec;
}

} // namespace

MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst, DWORD cbwfxDst,
                          DWORD fdwSuggest) {
    if (had != nullptr)
        return MMSYSERR_INVALHANDLE;
    if (pwfxSrc == nullptr || pwfxDst == nullptr || cbwfxDst < sizeof(PCMWAVEFORMAT))
        return MMSYSERR_INVALPARAM;
    if (fdwSuggest & ~ACM_FORMATSUGGESTF_TYPEMASK)
        return MMSYSERR_INVALFLAG;
    if (!Plausible(*pwfxSrc) || AcmStream::CodecFor(*pwfxSrc, Extra(pwfxSrc), pwfxSrc->cbSize) == 0)
        return ACMERR_NOTPOSSIBLE;
    const WAVEFORMATEX pcm = AcmStream::PcmFor(*pwfxSrc);
    // Fields the caller fixed must be the ones this conversion gives.
    if (((fdwSuggest & ACM_FORMATSUGGESTF_WFORMATTAG) && pwfxDst->wFormatTag != pcm.wFormatTag) ||
        ((fdwSuggest & ACM_FORMATSUGGESTF_NCHANNELS) && pwfxDst->nChannels != pcm.nChannels) ||
        ((fdwSuggest & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) && pwfxDst->nSamplesPerSec != pcm.nSamplesPerSec) ||
        ((fdwSuggest & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) && pwfxDst->wBitsPerSample != pcm.wBitsPerSample))
        return ACMERR_NOTPOSSIBLE;
    std::memcpy(pwfxDst, &pcm, std::min<DWORD>(cbwfxDst, sizeof pcm));
    return MMSYSERR_NOERROR;
}

MMRESULT acmFormatTagDetailsA(HACMDRIVER had, ACMFORMATTAGDETAILSA* paftd, DWORD fdwDetails) {
    if (had != nullptr)
        return MMSYSERR_INVALHANDLE;
    if (paftd == nullptr || paftd->cbStruct < sizeof(ACMFORMATTAGDETAILSA))
        return MMSYSERR_INVALPARAM;
    if (fdwDetails != ACM_FORMATTAGDETAILSF_FORMATTAG)
        return MMSYSERR_NOTSUPPORTED;
    if (paftd->dwFormatTag > 0xFFFF)
        return ACMERR_NOTPOSSIBLE;
    const char* name = AcmStream::NameFor(static_cast<WORD>(paftd->dwFormatTag));
    if (name == nullptr)
        return ACMERR_NOTPOSSIBLE;
    paftd->dwFormatTagIndex = 0;
    paftd->cbFormatSize = sizeof(WAVEFORMATEX);
    paftd->fdwSupport = 0;
    paftd->cStandardFormats = 0;
    std::strncpy(paftd->szFormatTag, name, sizeof paftd->szFormatTag - 1);
    paftd->szFormatTag[sizeof paftd->szFormatTag - 1] = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc,
                       const WAVEFORMATEX* pwfxDst, WAVEFILTER* pwfltr, DWORD_PTR dwCallback,
                       DWORD_PTR dwInstance, DWORD fdwOpen) {
    (void)dwInstance;
    if (phas != nullptr)
        *phas = nullptr;
    if (had != nullptr)
        return MMSYSERR_INVALHANDLE;
    if (pwfxSrc == nullptr || pwfxDst == nullptr || pwfltr != nullptr)
        return MMSYSERR_INVALPARAM;
    if ((fdwOpen & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_NONREALTIME)) || dwCallback != 0)
        return MMSYSERR_INVALFLAG;
    if (!(fdwOpen & ACM_STREAMOPENF_QUERY) && phas == nullptr)
        return MMSYSERR_INVALPARAM;
    const int codec =
        Plausible(*pwfxSrc) ? AcmStream::CodecFor(*pwfxSrc, Extra(pwfxSrc), pwfxSrc->cbSize) : 0;
    if (codec == 0 || !SamePcm(*pwfxDst, AcmStream::PcmFor(*pwfxSrc)))
        return ACMERR_NOTPOSSIBLE;
    auto stream = std::unique_ptr<AcmStream>(new (std::nothrow) AcmStream);
    if (!stream)
        return MMSYSERR_NOMEM;
    if (!stream->Open(codec, *pwfxSrc, Extra(pwfxSrc), pwfxSrc->cbSize, *pwfxDst))
        return ACMERR_NOTPOSSIBLE;
    if (fdwOpen & ACM_STREAMOPENF_QUERY)
        return MMSYSERR_NOERROR;
    *phas = reinterpret_cast<HACMSTREAM>(stream.release());
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose) {
    AcmStream* stream = Stream(has);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (fdwClose != 0)
        return MMSYSERR_INVALFLAG;
    delete stream;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, DWORD* pdwOutputBytes, DWORD fdwSize) {
    const AcmStream* stream = Stream(has);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (pdwOutputBytes == nullptr || cbInput == 0)
        return MMSYSERR_INVALPARAM;
    switch (fdwSize) {
    case ACM_STREAMSIZEF_SOURCE:
        *pdwOutputBytes = stream->OutputForSource(cbInput);
        return MMSYSERR_NOERROR;
    case ACM_STREAMSIZEF_DESTINATION:
        *pdwOutputBytes = stream->SourceForOutput(cbInput);
        return MMSYSERR_NOERROR;
    default:
        return MMSYSERR_INVALFLAG;
    }
}

MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset) {
    AcmStream* stream = Stream(has);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (fdwReset != 0)
        return MMSYSERR_INVALFLAG;
    stream->Restart();
    return MMSYSERR_NOERROR;
}

// A prepared header remembers its stream and prepared lengths in the
// driver's reserved words.
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwPrepare) {
    if (!Stream(has))
        return MMSYSERR_INVALHANDLE;
    if (pash == nullptr || pash->cbStruct < sizeof(ACMSTREAMHEADER) || pash->pbSrc == nullptr ||
        pash->pbDst == nullptr || pash->cbSrcLength > kMaxBuffer || pash->cbDstLength > kMaxBuffer)
        return MMSYSERR_INVALPARAM;
    if (fdwPrepare != 0)
        return MMSYSERR_INVALFLAG;
    if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)
        return MMSYSERR_NOERROR;
    pash->dwReservedDriver[0] = reinterpret_cast<DWORD_PTR>(has);
    pash->dwReservedDriver[1] = pash->cbSrcLength;
    pash->dwReservedDriver[2] = pash->cbDstLength;
    pash->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED | ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwUnprepare) {
    if (!Stream(has))
        return MMSYSERR_INVALHANDLE;
    if (pash == nullptr || pash->cbStruct < sizeof(ACMSTREAMHEADER))
        return MMSYSERR_INVALPARAM;
    if (fdwUnprepare != 0)
        return MMSYSERR_INVALFLAG;
    if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) ||
        pash->dwReservedDriver[0] != reinterpret_cast<DWORD_PTR>(has))
        return ACMERR_UNPREPARED;
    pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    pash->dwReservedDriver[0] = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwConvert) {
    AcmStream* stream = Stream(has);
    if (!stream)
        return MMSYSERR_INVALHANDLE;
    if (pash == nullptr || pash->cbStruct < sizeof(ACMSTREAMHEADER))
        return MMSYSERR_INVALPARAM;
    if (fdwConvert & ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
        return MMSYSERR_INVALFLAG;
    if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) ||
        pash->dwReservedDriver[0] != reinterpret_cast<DWORD_PTR>(has))
        return ACMERR_UNPREPARED;
    if (pash->fdwStatus & ACMSTREAMHEADER_STATUSF_INQUEUE)
        return ACMERR_BUSY;
    // The lengths may be lowered after prepare, never raised past it.
    if (pash->cbSrcLength > pash->dwReservedDriver[1] || pash->cbDstLength > pash->dwReservedDriver[2])
        return MMSYSERR_INVALPARAM;
    pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    const MMRESULT result = stream->Convert(*pash, fdwConvert);
    pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return result;
}
