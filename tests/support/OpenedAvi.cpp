#include "support/OpenedAvi.h"

#include <gtest/gtest.h>

namespace cadmo::test {

OpenedAvi::OpenedAvi(const std::string& path) {
    hr = AVIFileOpenA(&file, path.c_str(), OF_SHARE_DENY_WRITE, nullptr);
    if (hr != AVIERR_OK) {
        EXPECT_EQ(file, nullptr) << "a failed open hands out no file";
        return;
    }
    EXPECT_EQ(AVIFileGetDetails(file, &details), AVIERR_OK);
    AVIFileGetStream(file, &video, streamtypeVIDEO, 0);
    AVIFileGetStream(file, &audio, streamtypeAUDIO, 0);
}

// A release of a null handle does nothing.
OpenedAvi::~OpenedAvi() {
    AVIStreamRelease(video);
    AVIStreamRelease(audio);
    AVIFileRelease(file);
}

} // namespace cadmo::test
