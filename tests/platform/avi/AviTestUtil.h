// Shared by the AVI reader tests: a fixture that writes test files and the
// comparison of our reading with ffprobe's.
#pragma once

#include "platform/avi/AviFile.h"
#include "support/OpenedAvi.h"
#include "support/TempDir.h"
#include "support/TestAvi.h"

#include <gtest/gtest.h>

#include <string>

// The default test file (with sound) in another size.
inline cadmo::test::TestAviSpec SizedSpec(LONG width, LONG height, int frames) {
    cadmo::test::TestAviSpec spec;
    spec.width = width;
    spec.height = height;
    spec.frames = frames;
    return spec;
}

// A test with a private directory to write files into.
class AviTest : public ::testing::Test {
protected:
    std::string Write(const cadmo::test::TestAviSpec& spec, const std::string& name = "in.avi") {
        const std::string path = dir.File(name);
        EXPECT_EQ(cadmo::test::WriteTestAvi(path, spec), AVIERR_OK);
        return path;
    }
    cadmo::test::TempDir dir;
};

using cadmo::test::OpenedAvi;

// Reads every sample of both streams and checks the content written by
// WriteTestAvi for `spec`.
bool ReadsBack(const OpenedAvi& avi, const cadmo::test::TestAviSpec& spec);

// Opens the file with our reader and with ffprobe and checks that both see one
// video stream of `frames` frames and one audio stream, with the same formats
// and the same packets (position, size, key flag).
void CompareWithFfprobe(const std::string& path, LONG frames);
