// What the movie-audio tests drive: a movie whose audio stream alone is open.
// Pause and Stop are the movie's own; Play starts the sound where the test
// says, since Movie::Play takes the sample from a video position these
// sound-only movies do not have.
#pragma once

#include "engine/Movie.h"
#include "support/TestAvi.h"

#include <gtest/gtest.h>

#include <string>

namespace cadmo::test {

class MovieSound {
protected:
    // Writes the file and opens its audio stream, closing any movie before.
    void LoadSound(const std::string& path, const TestAviSpec& spec) {
        movie.CloseStreams();
        movie.ReleaseFile();
        ASSERT_EQ(WriteTestAvi(path, spec), AVIERR_OK);
        ASSERT_EQ(movie.OpenFile(path.c_str()), 0);
        ASSERT_EQ(AVIFileGetStream(movie.aviFile, &movie.audioStream, streamtypeAUDIO, 0), AVIERR_OK);
    }
    // Movie::Play's sound half: from the start, or from a pause.
    LONG Play(LONG sample) {
        movie.playing = 1;
        return movie.StartAudio(sample);
    }
    void Resume() {
        movie.playing = 1;
        movie.ResumeAudio();
        movie.paused = 0;
    }

    Movie movie;
};

} // namespace cadmo::test
