// What cadmo-probe knows about one AVI file, and its two ways of printing it:
// text for people, JSON for programs.
#pragma once

#include "platform/avi/AviFile.h"

#include <cstdio>
#include <string>
#include <vector>

class ProbeReport {
public:
    // Opens the file and gathers everything (with the per-sample index when
    // withIndex is set). On failure returns the library's error code.
    HRESULT Load(const std::string& path, bool withIndex);

    void PrintText(std::FILE* out) const;
    void PrintJson(std::FILE* out) const;

    // One line naming an AVIERR_* code and what it means.
    static std::string DescribeError(HRESULT hr);

private:
    struct Sample {
        LONG sample;
        std::uint64_t offset;
        DWORD size;
        bool key;
    };
    struct Stream {
        AVISTREAMINFOA info{};
        std::vector<BYTE> format;
        LONG chunks = 0;
        LONG keyChunks = 0;
        std::uint64_t indexBytes = 0;
        std::vector<Sample> samples;
    };

    std::string m_path;
    AVIFILEDETAILS m_details{};
    AVIFILEINFOA m_info{};
    std::vector<Stream> m_streams;
    bool m_withIndex = false;
};
