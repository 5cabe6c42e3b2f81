// A driver library as a codec outside the program would ship it: one
// exported DriverProc, its handler given through ICM_GETINFO.
#include "platform/vfw/Vfw.h"

#include <cstring>

extern "C" __attribute__((visibility("default"))) LRESULT DriverProc(DWORD_PTR id, HDRVR, UINT msg,
                                                                     LPARAM lParam1, LPARAM lParam2) {
    switch (msg) {
    case DRV_OPEN:
        return 1; // the instance id its later messages carry
    case ICM_GETINFO: {
        auto* info = reinterpret_cast<ICINFO*>(lParam1);
        if (info == nullptr || lParam2 < static_cast<LPARAM>(sizeof(ICINFO)))
            return 0;
        std::memset(info, 0, sizeof *info);
        info->dwSize = sizeof *info;
        info->fccType = ICTYPE_VIDEO;
        info->fccHandler = mmioFOURCC('f', 'k', 'l', 'b');
        return sizeof *info;
    }
    case ICM_DECOMPRESS_QUERY: {
        auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(lParam1);
        return in != nullptr && in->biCompression == mmioFOURCC('F', 'K', 'L', 'B') ? ICERR_OK
                                                                                    : ICERR_BADFORMAT;
    }
    case ICM_USER + 500:
        return static_cast<LRESULT>(id) * 1000; // lets the test see which instance answered
    default:                                    // the driver's life-cycle messages succeed
        return msg < DRV_USER ? DRV_OK : ICERR_UNSUPPORTED;
    }
}
