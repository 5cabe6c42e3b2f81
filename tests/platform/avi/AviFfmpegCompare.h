// Opens an AVI file with our reader and with ffprobe and checks, with gtest
// assertions, that both describe the same streams and the same packets.
#pragma once

#include <string>

// expectedFrames < 0: do not check the frame count against a number.
void CompareWithFfprobe(const std::string& path, long expectedFrames);
