#include "platform/avi/AviFile.h"

// Reader under construction: every entry point reports an error until it lands.
void AVIFileInit() {}
void AVIFileExit() {}
HRESULT AVIFileOpenA(PAVIFILE* ppfile, LPCSTR, UINT, const void*) {
    if (ppfile)
        *ppfile = nullptr;
    return AVIERR_UNSUPPORTED;
}
ULONG AVIFileAddRef(PAVIFILE) {
    return 0;
}
ULONG AVIFileRelease(PAVIFILE) {
    return 0;
}
HRESULT AVIFileInfoA(PAVIFILE, AVIFILEINFOA*, LONG) {
    return AVIERR_BADHANDLE;
}
HRESULT AVIFileGetStream(PAVIFILE, PAVISTREAM* ppavi, DWORD, LONG) {
    if (ppavi)
        *ppavi = nullptr;
    return AVIERR_NODATA;
}
ULONG AVIStreamAddRef(PAVISTREAM) {
    return 0;
}
ULONG AVIStreamRelease(PAVISTREAM) {
    return 0;
}
HRESULT AVIStreamInfoA(PAVISTREAM, AVISTREAMINFOA*, LONG) {
    return AVIERR_BADHANDLE;
}
HRESULT AVIStreamReadFormat(PAVISTREAM, LONG, LPVOID, LONG*) {
    return AVIERR_BADHANDLE;
}
HRESULT AVIStreamRead(PAVISTREAM, LONG, LONG, LPVOID, LONG, LONG*, LONG*) {
    return AVIERR_BADHANDLE;
}
LONG AVIStreamFindSample(PAVISTREAM, LONG, LONG) {
    return -1;
}
LONG AVIStreamSampleToTime(PAVISTREAM, LONG) {
    return -1;
}
LONG AVIStreamTimeToSample(PAVISTREAM, LONG) {
    return -1;
}
LONG AVIStreamStart(PAVISTREAM) {
    return -1;
}
LONG AVIStreamLength(PAVISTREAM) {
    return -1;
}
LONG AVIStreamEnd(PAVISTREAM) {
    return -1;
}
void AVIFileSetIndexProgress(AVIINDEXPROGRESSPROC, void*) {}
HRESULT AVIFileGetDetails(PAVIFILE, AVIFILEDETAILS*) {
    return AVIERR_BADHANDLE;
}
LONG AVIStreamChunkCount(PAVISTREAM) {
    return -1;
}
HRESULT AVIStreamChunkInfo(PAVISTREAM, LONG, AVICHUNKINFO*) {
    return AVIERR_BADHANDLE;
}
std::uint64_t AVIStreamIndexBytes(PAVISTREAM) {
    return 0;
}
