#include "platform/vfw/Vfw.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Library drivers: found in the folder CADMO_CODEC_PATH names (the scan runs
// at the first use of the registry, which is this test's in its own process).
TEST(VfwLibraries, FolderScanRegistersLibraryUnderItsOwnHandler) {
    setenv("CADMO_CODEC_PATH", "/nonexistent:" CADMO_FAKE_CODEC_DIR, 1);
    HIC hic = ICOpen(ICTYPE_VIDEO, mmioFOURCC('F', 'K', 'L', 'B'), ICMODE_DECOMPRESS);
    ASSERT_NE(hic, nullptr) << "no driver from " CADMO_FAKE_CODEC_DIR;
    EXPECT_GT(ICSendMessage(hic, ICM_USER + 500, 0, 0), 0);
    ICClose(hic);
    BITMAPINFOHEADER in{40, 16, 16, 1, 24, mmioFOURCC('F', 'K', 'L', 'B'), 0, 0, 0, 0, 0};
    hic = ICLocate(ICTYPE_VIDEO, 0, &in, nullptr, ICMODE_DECOMPRESS);
    EXPECT_NE(hic, nullptr);
    ICClose(hic);
    // Loading the same library again adds nothing.
    EXPECT_EQ(cadmoICInstallLibrary(CADMO_FAKE_CODEC_DIR "/libcadmo-codec-fake.so"), 0u);
    EXPECT_EQ(cadmoICInstallLibrary("/nonexistent/libcadmo-codec-none.so"), 0u);
}

} // namespace
