// The Info sheet's texts, prepared once when a movie opens and cleared when it
// closes; the sheet only copies them into its controls.
#pragma once

#include "platform/win32/Types.h"

#include <string>

class Movie;
struct AVIFILEINFOA;
struct WAVEFORMATEX;

struct MovieInfo {
    FOURCC codec = 0;
    std::string fileName;
    std::string mediaLength;
    std::string audioFormat;
    std::string videoSize;
    std::string frameCount;
    std::string frameRate;
    std::string codecText;
    std::string dataRate;
};

// The record of the open movie; all empty without one.
extern MovieInfo movieInfo;

// Texts are kept within the 127 characters (and terminator) that each field
// holds; a longer window title is cut at a character boundary.
inline constexpr size_t movieInfoTextLimit = 127;

// Fills `info` from the movie and the window title it was opened under; leaves
// it alone when there is no movie or the movie has no decoder.
void BuildMovieInfo(const std::string& windowTitle, const Movie* movie, LONG fileSizeKB, MovieInfo& info);

// The individual texts, from the file information's rate, scale and length
// (frames of the video), and so on.
std::string FormatMediaLength(DWORD rate, DWORD scale, DWORD length);
std::string FormatAudioFormat(const WAVEFORMATEX* format);
// Sound other than PCM: the format's name, rate, bit rate and channels, as
// "MPEG Layer-3, 44100 Hz, 128 kbit/s, Stereo".
std::string FormatCompressedAudio(const WAVEFORMATEX& format, DWORD bitsPerSecond);
std::string FormatVideoSize(DWORD width, DWORD height);
std::string FormatFrameCount(LONG firstFrame, LONG lastFrame);
std::string FormatFrameRate(float framesPerSecond);
std::string FormatCodecText(FOURCC codec);
std::string FormatDataRate(LONG fileSizeKB, DWORD rate, DWORD scale, DWORD length);

// `text` cut to at most `limit` bytes without splitting a UTF-8 sequence.
std::string TruncateUtf8(const std::string& text, size_t limit);
