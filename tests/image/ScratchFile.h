// Test files written into one temporary directory that lives as long as the
// test program.
#pragma once

#include "platform/win32/Types.h"
#include "support/TempDir.h"

#include <fstream>
#include <string>
#include <vector>

inline std::string ScratchFile(const std::vector<BYTE>& bytes) {
    static cadmo::test::TempDir dir;
    static int count = 0;
    const std::string path = dir.File(std::to_string(count++));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}
