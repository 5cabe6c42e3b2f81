// What the movie-audio tests drive: a movie whose audio stream alone is open,
// and the audio halves of the player's Play, Pause, Resume and Stop.
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
    LONG Play(LONG sample) {
        movie.playing = 1;
        const LONG status = movie.StartAudio(sample);
        movie.paused = 0;
        return status;
    }
    void Pause() {
        movie.playing = 0;
        movie.paused = 1;
        movie.PauseAudio();
    }
    void Resume() {
        movie.playing = 1;
        movie.ResumeAudio();
        movie.paused = 0;
    }
    void Stop() {
        movie.playing = 0;
        movie.paused = 0;
        movie.StopAudio();
    }

    Movie movie;
};

} // namespace cadmo::test
