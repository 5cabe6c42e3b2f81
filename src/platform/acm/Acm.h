// The Audio Compression Manager: the acmStream* family that converts
// compressed sound into PCM, with its published names, constants, record
// layouts and result codes, so the engine calls it as it would call the system
// library. Decoding is libavcodec's.
//
// Contract
// - acmFormatSuggest gives, for any source format a decoder exists for, the
//   PCM format it decodes to: 16-bit, the source's rate, its channel count
//   (more than 2 channels are mixed down to stereo). Only a PCM suggestion is
//   made (ACM_FORMATSUGGESTF_WFORMATTAG with another tag answers
//   ACMERR_NOTPOSSIBLE); the other suggestion flags are checked against it.
// - acmStreamOpen accepts a compressed source and exactly that PCM
//   destination; anything else, and a source no decoder takes, answers
//   ACMERR_NOTPOSSIBLE. ACM_STREAMOPENF_QUERY only answers. No driver or
//   filter may be named; callbacks and ACM_STREAMOPENF_ASYNC are refused
//   (MMSYSERR_INVALFLAG): conversions are synchronous.
// - Formats decoded: the wave format tags of MPEG audio (layer 1/2 0x0050,
//   layer 3 0x0055), IMA ADPCM (0x0011), MS ADPCM (0x0002), mu-law (0x0007),
//   A-law (0x0006), IEEE float (0x0003), AC-3 (0x2000), DTS (0x2001), AAC
//   (0x00FF, 0x1600, 0x1610, 0x706D, 0xA106), GSM 6.10 (0x0031), and
//   WAVE_FORMAT_EXTENSIBLE with one of these as its sub-format. The bytes
//   after the 18-byte header (cbSize of them) are the decoder's setup data.
// - A stream header is prepared once (acmStreamPrepareHeader) with its
//   buffers and lengths; before each conversion the caller may lower
//   cbSrcLength and cbDstLength, never raise them past the prepared ones.
//
// Past the documented behaviour of acmStreamConvert
// - Source framing: MPEG audio, AC-3, DTS and AAC without setup data (ADTS)
//   are self-delimiting; every source byte is taken (cbSrcLengthUsed =
//   cbSrcLength) and a frame split over two conversions is completed by the
//   next. AAC with setup data (one raw frame per AVI chunk) takes each
//   conversion's source as one frame. Other formats are cut into blocks of
//   nBlockAlign bytes; with ACM_STREAMCONVERTF_BLOCKALIGN a partial block at
//   the end is left unused, without it the partial block is decoded as far
//   as its decoder can.
// - A destination too small for what the source decodes to gets what fits,
//   in whole PCM frames; the rest waits in the stream and comes first in the
//   next conversion, which takes no new source (cbSrcLengthUsed = 0) until
//   all of it has been handed out. So a caller that loops until its
//   destination is full loses nothing.
// - ACM_STREAMCONVERTF_START forgets everything held (decoder state, a
//   partial frame, waiting PCM): the stream starts afresh, as after a seek.
//   ACM_STREAMCONVERTF_END hands out what the decoder still holds; the next
//   conversion then starts afresh as if START were given.
// - Damaged source data is skipped: a frame the decoder refuses adds no PCM
//   and the conversion still succeeds, so garbage plays as silence (or as
//   the noise it decodes to, for formats like ADPCM that cannot tell).
// - acmStreamSize gives, for ACM_STREAMSIZEF_SOURCE, room for what the bytes
//   may decode to, at most (an estimate from the format's frame size, never
//   low for well-formed data); for ACM_STREAMSIZEF_DESTINATION, the source
//   bytes that decode to at most that much, at least one block.
// - acmFormatTagDetailsA answers ACM_FORMATTAGDETAILSF_FORMATTAG with the
//   format's usual name in szFormatTag ("MPEG Layer-3", "IMA ADPCM", ...),
//   for the tags above and PCM; ACMERR_NOTPOSSIBLE otherwise.
//
// Threads: every function may be called from any thread; one stream handle
// is used by one thread at a time (the wave notification thread while it
// plays, for instance). Distinct handles are independent.
#pragma once

#include "platform/wave/WaveOut.h"
#include "platform/win32/Types.h"

struct HACMSTREAM__;
using HACMSTREAM = HACMSTREAM__*;
using LPHACMSTREAM = HACMSTREAM*;
struct HACMDRIVER__;
using HACMDRIVER = HACMDRIVER__*;
struct WAVEFILTER;

constexpr MMRESULT ACMERR_BASE = 512;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = ACMERR_BASE + 0;
constexpr MMRESULT ACMERR_BUSY = ACMERR_BASE + 1;
constexpr MMRESULT ACMERR_UNPREPARED = ACMERR_BASE + 2;
constexpr MMRESULT ACMERR_CANCELED = ACMERR_BASE + 3;

constexpr DWORD ACM_STREAMOPENF_QUERY = 0x00000001;
constexpr DWORD ACM_STREAMOPENF_ASYNC = 0x00000002;
constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x00000004;

constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x00000000;
constexpr DWORD ACM_STREAMSIZEF_DESTINATION = 0x00000001;
constexpr DWORD ACM_STREAMSIZEF_QUERYMASK = 0x0000000F;

constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
constexpr DWORD ACM_STREAMCONVERTF_START = 0x00000010;
constexpr DWORD ACM_STREAMCONVERTF_END = 0x00000020;

constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

constexpr DWORD ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
constexpr DWORD ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000;
constexpr DWORD ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000;
constexpr DWORD ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000;
constexpr DWORD ACM_FORMATSUGGESTF_TYPEMASK = 0x00FF0000;

constexpr DWORD ACM_FORMATTAGDETAILSF_INDEX = 0x00000000;
constexpr DWORD ACM_FORMATTAGDETAILSF_FORMATTAG = 0x00000001;
constexpr DWORD ACM_FORMATTAGDETAILSF_LARGESTSIZE = 0x00000002;
constexpr int ACMFORMATTAGDETAILS_FORMATTAG_CHARS = 48;

constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 0x0003;
constexpr WORD WAVE_FORMAT_ALAW = 0x0006;
constexpr WORD WAVE_FORMAT_MULAW = 0x0007;
constexpr WORD WAVE_FORMAT_DVI_ADPCM = 0x0011;
constexpr WORD WAVE_FORMAT_IMA_ADPCM = WAVE_FORMAT_DVI_ADPCM;
constexpr WORD WAVE_FORMAT_GSM610 = 0x0031;
constexpr WORD WAVE_FORMAT_MPEG = 0x0050;
constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x0055;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// A conversion's buffers. The driver's reserved words are 15 pointer-sized
// ones here, as in a 64-bit build.
struct ACMSTREAMHEADER {
    DWORD cbStruct;
    DWORD fdwStatus;
    DWORD_PTR dwUser;
    BYTE* pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed;
    DWORD_PTR dwSrcUser;
    BYTE* pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed;
    DWORD_PTR dwDstUser;
    DWORD_PTR dwReservedDriver[15];
};
using LPACMSTREAMHEADER = ACMSTREAMHEADER*;

struct ACMFORMATTAGDETAILSA {
    DWORD cbStruct;
    DWORD dwFormatTagIndex;
    DWORD dwFormatTag;
    DWORD cbFormatSize;
    DWORD fdwSupport;
    DWORD cStandardFormats;
    char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
};

MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst, DWORD cbwfxDst,
                          DWORD fdwSuggest);
MMRESULT acmFormatTagDetailsA(HACMDRIVER had, ACMFORMATTAGDETAILSA* paftd, DWORD fdwDetails);
MMRESULT acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc,
                       const WAVEFORMATEX* pwfxDst, WAVEFILTER* pwfltr, DWORD_PTR dwCallback,
                       DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose);
MMRESULT acmStreamSize(HACMSTREAM has, DWORD cbInput, DWORD* pdwOutputBytes, DWORD fdwSize);
MMRESULT acmStreamReset(HACMSTREAM has, DWORD fdwReset);
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwPrepare);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwUnprepare);
MMRESULT acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwConvert);
