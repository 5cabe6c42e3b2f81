// What the movie-audio tests drive: a movie whose streams are open but whose
// video has no decoder, so that the movie's own Play, Pause and Stop run their
// sound halves and draw nothing. Its video is one frame at 1000 a second,
// which makes a position a time in milliseconds: Play starts the sound at the
// sample of that time, as it does from a frame.
#pragma once

#include "engine/Movie.h"
#include "support/TestAvi.h"

#include <gtest/gtest.h>

#include <string>

namespace cadmo::test {

inline TestAviSpec SoundMovie() {
    TestAviSpec spec;
    spec.frames = 1;
    spec.rate = 1000;
    spec.width = spec.height = 4;
    return spec;
}

class MovieSound {
protected:
    // Writes the file and opens its streams, closing any movie before.
    void LoadSound(const std::string& path, const TestAviSpec& spec) {
        ASSERT_EQ(WriteTestAvi(path, spec), AVIERR_OK);
        OpenSound(path);
    }
    void OpenSound(const std::string& path) {
        movie.CloseStreams();
        movie.ReleaseFile();
        ASSERT_EQ(movie.OpenFile(path.c_str()), 0);
        AVIFileGetStream(movie.aviFile, &movie.videoStream, streamtypeVIDEO, 0);
        ASSERT_EQ(AVIFileGetStream(movie.aviFile, &movie.audioStream, streamtypeAUDIO, 0), AVIERR_OK);
    }
    // Plays from `ms`, or resumes from a pause.
    void PlayAt(LONG ms) {
        movie.position = ms;
        ASSERT_EQ(movie.Play(nullptr), 0);
    }
    void Resume() { PlayAt(movie.position); }

    Movie movie;
};

} // namespace cadmo::test
