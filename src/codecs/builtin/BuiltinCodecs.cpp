#include "codecs/builtin/BuiltinCodecs.h"

#include "codecs/dib/DibCodec.h"
#include "codecs/lavc/LavcCodec.h"
#include "platform/vfw/Vfw.h"

void RegisterBuiltinCodecs() {
    // ICInstall refuses a procedure already registered for the handler, so
    // repeated calls are harmless.
    ICInstall(ICTYPE_VIDEO, kDibHandler, reinterpret_cast<LPARAM>(&DibCodec::DriverProc), "Uncompressed RGB",
              ICINSTALL_FUNCTION);
    ICInstall(ICTYPE_VIDEO, kLavcHandler, reinterpret_cast<LPARAM>(&LavcCodec::DriverProc),
              "libavcodec video decoders", ICINSTALL_FUNCTION);
}
