// Reads an AVI file's headers and builds the index of every stream. Used only
// by AVIFileOpenA; the result is immutable once Parse returns.
#pragma once

#include "platform/avi/AviFile.h"
#include "platform/avi/AviRiff.h"
#include "platform/avi/AviStreamIndex.h"

#include <cstdint>
#include <string>
#include <vector>

// A palette change of a video stream: from stream-relative frame `frame` on,
// colour-table entries first .. first + colors.size() - 1 are `colors`.
struct AviPaletteChange {
    LONG frame = 0;
    DWORD first = 0;
    std::vector<RGBQUAD> colors;
};

struct AviStreamData {
    AVIStreamHeader header{};
    bool hasHeader = false;
    std::vector<BYTE> format;
    std::string name;
    // Streams we refuse (zero rate or scale, a format that does not hold what
    // it claims) stay in the list so chunk ids keep their stream numbers, but
    // AVIFileGetStream never hands them out.
    bool usable = false;
    bool indexed = false;
    std::vector<AVISUPERINDEXENTRY> superIndex;
    bool superIndexValid = true;
    AviStreamIndex index;
    DWORD largestChunk = 0;
    // In frame order; only for a video stream whose format has a colour table.
    std::vector<AviPaletteChange> paletteChanges;
};

struct AviFileData {
    std::uint64_t fileSize = 0;
    MainAVIHeader main{};
    DWORD odmlTotalFrames = 0;
    std::vector<AviStreamData> streams;
    bool openDml = false;
    bool rebuilt = false;
    bool idx1RelativeToMovi = true;
    DWORD riffCount = 0;
};

class AviParser {
public:
    AviParser(int fd, std::uint64_t fileSize, AviFileData& out, AVIINDEXPROGRESSPROC progress, void* context)
        : m_fd(fd), m_size(fileSize), m_out(out), m_progress(progress), m_context(context) {}

    HRESULT Parse();

    // Reads exactly n bytes at pos; false on an I/O error or end of file.
    static bool ReadAt(int fd, std::uint64_t pos, void* buffer, std::size_t n);

private:
    // A "##pc" chunk found while indexing, read once the index is complete.
    struct PendingChange {
        std::size_t stream;
        std::uint64_t offset; // of the data
        DWORD size;
        std::size_t frame; // frames of the stream before it
    };

    struct Range {
        std::uint64_t begin; // offset of the list's type FOURCC ('movi')
        std::uint64_t end;
    };

    bool Read(std::uint64_t pos, void* buffer, std::size_t n) const { return ReadAt(m_fd, pos, buffer, n); }
    HRESULT ParseRiff(std::uint64_t begin, std::uint64_t end, bool first);
    HRESULT ParseHdrl(std::uint64_t begin, std::uint64_t end);
    HRESULT ParseStrl(std::uint64_t begin, std::uint64_t end);
    void ParseOdml(std::uint64_t begin, std::uint64_t end);
    void ReadSuperIndex(AviStreamData& s, std::uint64_t chunkPos, DWORD size);
    void CheckStream(AviStreamData& s);
    bool LoadStdIndexes(AviStreamData& s);
    bool LoadIdx1();
    HRESULT Scan();
    void AssignRebuiltKeys(AviStreamData& s);
    void NotePaletteChange(std::size_t stream, std::uint64_t offset, DWORD size);
    void ReadPaletteChanges();

    int m_fd;
    std::uint64_t m_size;
    AviFileData& m_out;
    AVIINDEXPROGRESSPROC m_progress;
    void* m_context;
    std::vector<Range> m_movis;
    std::vector<PendingChange> m_changes;
    std::uint64_t m_idx1Pos = 0;
    std::uint64_t m_idx1Size = 0;
    bool m_hasIdx1 = false;
    bool m_hasHdrl = false;
};
