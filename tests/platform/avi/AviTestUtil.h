// Shared by the AVI reader tests: a fixture that writes test files, the check
// that a file reads back as written, and what ffprobe sees in a file.
#pragma once

#include "platform/avi/AviFile.h"
#include "support/OpenedAvi.h"
#include "support/TempDir.h"
#include "support/TestAvi.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

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
// WriteTestAvi for `spec`; false without a video stream (the file did not open).
bool ReadsBack(PAVISTREAM video, PAVISTREAM audio, const cadmo::test::TestAviSpec& spec);
inline bool ReadsBack(const OpenedAvi& avi, const cadmo::test::TestAviSpec& spec) {
    return ReadsBack(avi.video, avi.audio, spec);
}

// The packets and streams ffprobe finds in a file, one map of field names to
// values each, the section name ("packet" or "stream") under the empty key;
// empty when ffprobe fails.
using FfprobeSection = std::map<std::string, std::string>;
std::vector<FfprobeSection> Ffprobe(const std::string& path);

// Opens the file with our reader and with ffprobe and checks that both see one
// video stream of `frames` frames and one audio stream, with the same formats
// and the same packets (position, size, key flag).
void CompareWithFfprobe(const std::string& path, LONG frames);
