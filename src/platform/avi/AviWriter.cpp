#include "platform/avi/AviWriter.h"

// Writer under construction: refuses to create files until it lands.
AviWriter::~AviWriter() {}
HRESULT AviWriter::Create(const std::string&, const AviWriterOptions&) {
    return AVIERR_UNSUPPORTED;
}
HRESULT AviWriter::AddVideoStream(const AviVideoStreamDesc&, int*) {
    return AVIERR_UNSUPPORTED;
}
HRESULT AviWriter::AddAudioStream(const AviAudioStreamDesc&, int*) {
    return AVIERR_UNSUPPORTED;
}
HRESULT AviWriter::WriteVideoFrame(int, const void*, DWORD, bool) {
    return AVIERR_UNSUPPORTED;
}
HRESULT AviWriter::WriteAudio(int, const void*, DWORD) {
    return AVIERR_UNSUPPORTED;
}
HRESULT AviWriter::WriteRawChunk(FOURCC, const void*, DWORD) {
    return AVIERR_UNSUPPORTED;
}
HRESULT AviWriter::Close() {
    return AVIERR_UNSUPPORTED;
}
