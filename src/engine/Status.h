// The statuses of the movie's operations (Movie, its frame scheduling and its
// audio): 0 for success, a negative value for each kind of refusal.
//
// The values are fixed: callers and tests compare with them, and some values
// carry more than one meaning. Where they do, each meaning has a name of its
// own with the shared value, so that a return says which refusal it is while
// the caller still sees the one number. Movie::OpenFile alone answers with
// the AVI library's own error code instead, and Movie::Seek and Movie::Step
// answer the new position when they succeed.
#pragma once

#include "platform/win32/Types.h"

enum MovieStatus : LONG {
    kOk = 0,

    // -1: the refusals that need no code of their own.
    kNoMovie = -1,            // no file is open
    kNoVideo = -1,            // the movie has no video stream, or no decoder, to act on
    kNoSeekWhilePlaying = -1, // positioning is not allowed while the movie plays
    kFormatRefused = -1,      // the video stream's format or frame range is not usable
    kNoAudioClock = -1,       // the audio clock has no valid value
    kAudioStopped = -1,       // the audio is not running: a returned buffer is not refilled

    kPlaying = -4,        // the movie plays: Play has nothing to start, the display cannot change
    kDecoderRefused = -5, // the decoder refused a setting

    // Audio.
    kNoAudio = -10,                // the movie has no audio stream
    kNoWaveDevice = -10,           // no wave device is open
    kTooManyInitialFrames = -11,   // the stream's initial-frames value is 32 or more
    kAudioFormatRefused = -12,     // neither PCM nor a format that a decoder turns into PCM
    kWaveOpenFailed = -13,         // the wave device could not be opened
    kWaveBufferRefused = -14,      // the device would not prepare a wave buffer
    kWavePositionUnreadable = -14, // the device's position could not be read

    // Video.
    kNoVideoStream = -20,   // SetupVideo without a video stream
    kNoDecoder = -21,       // no decoder to show a frame with
    kDecoderFailed = -21,   // the decoder could not open, begin drawing or decode
    kNoDrawContext = -22,   // no device context to draw on
    kNotDrawing = -23,      // drawing has not begun
    kFrameUnreadable = -24, // a video frame could not be read
};
