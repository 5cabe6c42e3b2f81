// Writes AVI files with video and PCM (or any fixed-block) audio streams.
//
// Chunks go to the file in the order they are written, so the caller decides
// the interleave. The file is AVI 1.0 with an idx1 index until its RIFF list
// would pass the segment limit (1 GB by default); from then on it is an
// OpenDML file: the first RIFF AVI list is closed with ix## standard indexes
// and idx1, further data goes to RIFF AVIX lists, and each stream header
// carries an indx super index (its room is reserved as JUNK up front, so
// files that stay small look like plain AVI 1.0 files).
//
// Not thread-safe: one thread drives one writer. All functions return
// AVIERR_OK or an AVIERR_* code (AviFile.h); after a write error the writer
// refuses further writes and Close removes nothing (the caller deletes the
// file if it wants).
#pragma once

#include "platform/avi/AviFile.h"
#include "platform/avi/AviRiff.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct AviVideoStreamDesc {
    FOURCC handler = 0;       // strh fccHandler (the codec's FourCC; 0 or 'DIB ' for raw)
    std::vector<BYTE> format; // strf: a BITMAPINFOHEADER, with its colour table if any
    DWORD rate = 15;          // frames per second = rate / scale
    DWORD scale = 1;
    DWORD start = 0;
    DWORD initialFrames = 0;
    DWORD suggestedBufferSize = 0; // 0: the largest frame written
    DWORD quality = 0xffffffffu;
    bool frameRectFromFormat = true; // rcFrame = 0,0,width,|height|
    RECT frameRect{};                // used when frameRectFromFormat is false
    std::string name;                // strn, none when empty
};

struct AviAudioStreamDesc {
    std::vector<BYTE> format; // strf: a WAVEFORMATEX (or the 16-byte PCM record)
    DWORD rate = 0;           // 0: nAvgBytesPerSec of the format
    DWORD scale = 0;          // 0: nBlockAlign of the format
    DWORD sampleSize = 0;     // 0: nBlockAlign of the format
    DWORD start = 0;
    DWORD initialFrames = 0;
    DWORD suggestedBufferSize = 0; // 0: the largest chunk written
    std::string name;
};

struct AviWriterOptions {
    // Size at which a RIFF list is closed and the next one begun.
    std::uint64_t riffLimit = 1ull << 30;
    // Write idx1 at the end of the first RIFF list (off: a file without an
    // index, for testing readers).
    bool writeIdx1 = true;
    // idx1 offsets relative to the start of the file instead of the movi list
    // (both occur in files in the wild).
    bool idx1RelativeToFile = false;
    // Main header values; 0 takes them from the first video stream.
    DWORD microSecPerFrame = 0;
    DWORD mainFlags = 0; // extra avih flags beyond HASINDEX/ISINTERLEAVED
};

class AviWriter {
public:
    AviWriter() = default;
    ~AviWriter(); // closes the file if still open (errors are lost; call Close to see them)
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Creates (truncates) the file. Streams are added next, then data.
    HRESULT Create(const std::string& path, const AviWriterOptions& options = {});
    // Returns the stream number (0, 1, ...) in *stream. Only before the first
    // data chunk. The format must hold at least a BITMAPINFOHEADER /
    // PCMWAVEFORMAT (AVIERR_BADFORMAT).
    HRESULT AddVideoStream(const AviVideoStreamDesc& desc, int* stream);
    HRESULT AddAudioStream(const AviAudioStreamDesc& desc, int* stream);

    // One frame of a video stream (chunk "##dc"; "##db" when the format is
    // uncompressed BI_RGB). size 0 writes an empty chunk: a dropped frame that
    // still takes its time slot.
    HRESULT WriteVideoFrame(int stream, const void* data, DWORD size, bool keyFrame);
    // One chunk of audio ("##wb") of any size; it counts size / sample size
    // samples.
    HRESULT WriteAudio(int stream, const void* data, DWORD size);
    // A palette change of a video stream (chunk "##pc"), taking effect at the
    // next frame written: `data` is the AVIPALCHANGE record as stored (first
    // entry, count, flags, entries), written as given so that tests can store
    // damaged ones. It goes into idx1 with AVIIF_NO_TIME, not into the
    // stream's OpenDML index, and marks the stream header as having palette
    // changes.
    HRESULT WritePaletteChange(int stream, const void* data, DWORD size);
    // A chunk of any id and content outside the index (JUNK padding etc.).
    HRESULT WriteRawChunk(FOURCC id, const void* data, DWORD size);

    // Writes the indexes and headers and closes the file.
    HRESULT Close();

    std::uint64_t BytesWritten() const { return m_pos; }
    bool IsOpenDml() const { return m_riffs.size() > 1; }

private:
    struct Entry {
        std::uint64_t offset; // file offset of the chunk header
        DWORD size;
        bool key;
    };
    struct Stream {
        bool video = false;
        FOURCC chunkId = 0;
        AVIStreamHeader header{};
        std::vector<BYTE> format;
        std::string name;
        DWORD largest = 0;
        DWORD fixedSuggested = 0;
        std::uint64_t length = 0;         // samples written
        std::uint64_t headerPos = 0;      // file offset of strh data
        std::uint64_t indxPos = 0;        // file offset of the reserved indx chunk header
        std::vector<Entry> segment;       // chunks of the current RIFF list
        std::uint64_t segmentSamples = 0; // samples in `segment`
        std::vector<AVISUPERINDEXENTRY> super;
    };
    struct Riff {
        std::uint64_t pos;     // offset of "RIFF"
        std::uint64_t moviPos; // offset of "LIST" of movi
    };

    HRESULT AddStream(Stream s, int* stream);
    HRESULT BeginData();
    HRESULT WriteChunk(int stream, FOURCC id, const void* data, DWORD size, bool key, DWORD samples);
    HRESULT CloseSegment(bool last);
    HRESULT WriteStdIndexes();
    HRESULT WriteIdx1();
    HRESULT Put(const void* data, std::size_t size);
    HRESULT PutAt(std::uint64_t pos, const void* data, std::size_t size);
    HRESULT Put32(DWORD v) { return Put(&v, 4); }
    HRESULT PutAt32(std::uint64_t pos, DWORD v) { return PutAt(pos, &v, 4); }

    std::FILE* m_file = nullptr;
    AviWriterOptions m_options;
    std::vector<Stream> m_streams;
    std::vector<Riff> m_riffs;
    std::vector<AVIINDEXENTRY> m_idx1;
    std::uint64_t m_pos = 0;
    std::uint64_t m_avihPos = 0;
    std::uint64_t m_dmlhPos = 0;
    std::uint64_t m_hdrlListPos = 0;
    DWORD m_firstRiffFrames = 0;
    bool m_dataBegun = false;
    HRESULT m_error = AVIERR_OK;
};
