// A file opened for reading with its first video and audio streams (null when
// absent) and the reader's details; all released when the object goes away.
#pragma once

#include "platform/avi/AviFile.h"

#include <string>

namespace cadmo::test {

struct OpenedAvi {
    HRESULT hr = AVIERR_ERROR;
    PAVIFILE file = nullptr;
    PAVISTREAM video = nullptr;
    PAVISTREAM audio = nullptr;
    AVIFILEDETAILS details{};

    explicit OpenedAvi(const std::string& path);
    ~OpenedAvi();
    OpenedAvi(const OpenedAvi&) = delete;
    OpenedAvi& operator=(const OpenedAvi&) = delete;
};

} // namespace cadmo::test
