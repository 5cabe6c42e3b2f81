#include "platform/vfw/Vfw.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

constexpr char kLibraryPrefix[] = "libcadmo-codec-";
constexpr char kLibrarySuffix[] = ".so";

DWORD LowerFourCC(DWORD v) {
    DWORD out = 0;
    for (int i = 0; i < 4; ++i) {
        auto c = static_cast<unsigned char>((v >> (8 * i)) & 0xff);
        if (c >= 'A' && c <= 'Z')
            c = static_cast<unsigned char>(c - 'A' + 'a');
        out |= static_cast<DWORD>(c) << (8 * i);
    }
    return out;
}

bool TypeMatches(DWORD wanted, DWORD have) {
    return wanted == 0 || LowerFourCC(wanted) == LowerFourCC(have);
}

// One registered driver. Its DRV_LOAD/DRV_ENABLE are sent before the first
// instance opens; DRV_DISABLE/DRV_FREE when the record dies, which is after
// it has been removed and its last instance has closed (instances hold it).
struct Driver {
    DWORD fccType = 0;
    DWORD fccHandler = 0;
    DRIVERPROC proc = nullptr;
    std::string description;
    std::string path; // library drivers only
    std::once_flag loadOnce;
    bool loaded = false;

    HDRVR Handle() { return reinterpret_cast<HDRVR>(this); }

    void EnsureLoaded() {
        std::call_once(loadOnce, [this] {
            proc(0, Handle(), DRV_LOAD, 0, 0);
            proc(0, Handle(), DRV_ENABLE, 0, 0);
            loaded = true;
        });
    }

    ~Driver() {
        if (loaded) {
            proc(0, Handle(), DRV_DISABLE, 0, 0);
            proc(0, Handle(), DRV_FREE, 0, 0);
        }
    }
};

// One open instance. DRV_CLOSE goes out when the last reference drops: the
// registry holds one until ICClose, and every message in progress holds one
// for its duration, so a close never pulls state from under a decode.
struct Instance {
    std::shared_ptr<Driver> driver;
    DWORD_PTR id = 0;

    ~Instance() { driver->proc(id, driver->Handle(), DRV_CLOSE, 0, 0); }
};

// The registry is created on first use and deliberately never destroyed:
// library drivers may already have run their own static destructors when
// this object's would run at exit, so no driver is called during exit.
struct Registry {
    std::mutex mutex;
    std::vector<std::shared_ptr<Driver>> functions;
    std::vector<std::shared_ptr<Driver>> libraries;
    std::unordered_map<std::uintptr_t, std::shared_ptr<Instance>> instances;
    std::uintptr_t nextHandle = 0x10000;
    std::once_flag scanOnce;

    std::vector<std::shared_ptr<Driver>> Snapshot() {
        std::lock_guard lock(mutex);
        std::vector<std::shared_ptr<Driver>> all = functions;
        all.insert(all.end(), libraries.begin(), libraries.end());
        return all;
    }

    std::shared_ptr<Instance> Find(HIC hic) {
        std::lock_guard lock(mutex);
        auto it = instances.find(reinterpret_cast<std::uintptr_t>(hic));
        return it == instances.end() ? nullptr : it->second;
    }
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

std::shared_ptr<Instance> OpenInstance(const std::shared_ptr<Driver>& driver, DWORD fccType, DWORD fccHandler,
                                       UINT mode) {
    driver->EnsureLoaded();
    ICOPEN open{};
    open.dwSize = sizeof open;
    open.fccType = fccType == 0 ? driver->fccType : fccType;
    open.fccHandler = fccHandler;
    open.dwVersion = ICVERSION;
    open.dwFlags = mode;
    DWORD_PTR id = static_cast<DWORD_PTR>(
        driver->proc(0, driver->Handle(), DRV_OPEN, 0, reinterpret_cast<LPARAM>(&open)));
    if (id == 0)
        return nullptr;
    auto instance = std::make_shared<Instance>();
    instance->driver = driver;
    instance->id = id;
    return instance;
}

HIC Publish(std::shared_ptr<Instance> instance) {
    if (!instance)
        return nullptr;
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    std::uintptr_t handle = registry.nextHandle;
    registry.nextHandle += 0x10;
    registry.instances.emplace(handle, std::move(instance));
    return reinterpret_cast<HIC>(handle);
}

LRESULT Send(const std::shared_ptr<Instance>& instance, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2) {
    return instance->driver->proc(instance->id, instance->driver->Handle(), msg, static_cast<LPARAM>(dw1),
                                  static_cast<LPARAM>(dw2));
}

// The handler a library names in its file: "libcadmo-codec-qx47.so" gives
// "qx47"; shorter names are blank padded.
DWORD HandlerFromName(const std::string& name) {
    char c[4] = {' ', ' ', ' ', ' '};
    for (std::size_t i = 0; i < 4 && i < name.size(); ++i)
        c[i] = name[i];
    return mmioFOURCC(c[0], c[1], c[2], c[3]);
}

void CopyDescription(WCHAR* out, std::size_t capacity, const std::string& text) {
    std::size_t n = std::min(capacity - 1, text.size());
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<unsigned char>(text[i]);
    out[n] = 0;
}

// Loads one library driver; 0 when the file is not a usable driver or its
// handler is already taken by another library.
DWORD LoadLibraryDriver(const std::string& path, const std::string& stem) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return 0;
    auto proc = reinterpret_cast<DRIVERPROC>(dlsym(library, "DriverProc"));
    if (proc == nullptr) {
        dlclose(library);
        return 0;
    }
    auto driver = std::make_shared<Driver>();
    driver->fccType = ICTYPE_VIDEO;
    driver->proc = proc;
    driver->path = path;
    driver->description = stem;
    driver->fccHandler = HandlerFromName(stem);
    if (auto query = OpenInstance(driver, ICTYPE_VIDEO, 0, ICMODE_QUERY)) {
        ICINFO info{};
        info.dwSize = sizeof info;
        if (Send(query, ICM_GETINFO, reinterpret_cast<DWORD_PTR>(&info), sizeof info) > 0) {
            if (info.fccHandler != 0)
                driver->fccHandler = info.fccHandler;
            if (info.fccType != 0)
                driver->fccType = info.fccType;
        }
    }
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    for (const auto& other : registry.libraries) {
        if (other->path == path || (TypeMatches(other->fccType, driver->fccType) &&
                                    ICHandlerEqual(other->fccHandler, driver->fccHandler))) {
            // The library stays mapped: the driver record above still runs
            // its DRV_FREE through it when it goes out of scope.
            return 0;
        }
    }
    registry.libraries.push_back(driver);
    // Library drivers stay mapped for the life of the process (see Registry).
    return driver->fccHandler;
}

void ScanFolder(const std::string& folder) {
    if (folder.empty())
        return;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        const std::size_t prefix = sizeof kLibraryPrefix - 1, suffix = sizeof kLibrarySuffix - 1;
        if (name.size() > prefix + suffix && name.compare(0, prefix, kLibraryPrefix) == 0 &&
            name.compare(name.size() - suffix, suffix, kLibrarySuffix) == 0)
            names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        const std::size_t prefix = sizeof kLibraryPrefix - 1, suffix = sizeof kLibrarySuffix - 1;
        LoadLibraryDriver(folder + "/" + name, name.substr(prefix, name.size() - prefix - suffix));
    }
}

void ScanLibraries() {
    std::call_once(TheRegistry().scanOnce, [] {
        char exe[4096];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) {
            std::string path(exe, static_cast<std::size_t>(n));
            std::size_t slash = path.rfind('/');
            if (slash != std::string::npos) {
                const std::string folder = path.substr(0, slash == 0 ? 1 : slash);
                ScanFolder(folder);
#ifdef CADMO_CODEC_SUBDIR
                // An installed program keeps its drivers in the library
                // folder, found from the executable so that a moved prefix
                // (a scratch install, a relocated tree) still works.
                ScanFolder(folder + "/" CADMO_CODEC_SUBDIR);
#endif
            }
        }
        if (const char* env = std::getenv("CADMO_CODEC_PATH")) {
            std::string list = env;
            std::size_t start = 0;
            while (start <= list.size()) {
                std::size_t end = list.find(':', start);
                if (end == std::string::npos)
                    end = list.size();
                ScanFolder(list.substr(start, end - start));
                start = end + 1;
            }
        }
    });
}

UINT QueryMessageFor(UINT mode) {
    switch (mode) {
    case ICMODE_COMPRESS:
    case ICMODE_FASTCOMPRESS:
        return ICM_COMPRESS_QUERY;
    case ICMODE_DRAW:
        return ICM_DRAW_QUERY;
    default:
        return ICM_DECOMPRESS_QUERY;
    }
}

LRESULT SendDecompressEx(HIC hic, UINT msg, DWORD dwFlags, LPBITMAPINFOHEADER lpbiSrc, LPVOID lpSrc, INT xSrc,
                         INT ySrc, INT dxSrc, INT dySrc, LPBITMAPINFOHEADER lpbiDst, LPVOID lpDst, INT xDst,
                         INT yDst, INT dxDst, INT dyDst) {
    ICDECOMPRESSEX ic{};
    ic.dwFlags = dwFlags;
    ic.lpbiSrc = lpbiSrc;
    ic.lpSrc = lpSrc;
    ic.lpbiDst = lpbiDst;
    ic.lpDst = lpDst;
    ic.xDst = xDst;
    ic.yDst = yDst;
    ic.dxDst = dxDst;
    ic.dyDst = dyDst;
    ic.xSrc = xSrc;
    ic.ySrc = ySrc;
    ic.dxSrc = dxSrc;
    ic.dySrc = dySrc;
    return ICSendMessage(hic, msg, reinterpret_cast<DWORD_PTR>(&ic), sizeof ic);
}

} // namespace

bool ICHandlerEqual(DWORD a, DWORD b) {
    return LowerFourCC(a) == LowerFourCC(b);
}

BOOL ICInstall(DWORD fccType, DWORD fccHandler, LPARAM lParam, const char* szDesc, UINT wFlags) {
    if ((wFlags & ~ICINSTALL_UNICODE) != ICINSTALL_FUNCTION || lParam == 0)
        return FALSE;
    auto proc = reinterpret_cast<DRIVERPROC>(lParam);
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    for (const auto& d : registry.functions)
        if (d->proc == proc && TypeMatches(d->fccType, fccType) && ICHandlerEqual(d->fccHandler, fccHandler))
            return FALSE;
    auto driver = std::make_shared<Driver>();
    driver->fccType = fccType;
    driver->fccHandler = fccHandler;
    driver->proc = proc;
    if (szDesc != nullptr && (wFlags & ICINSTALL_UNICODE) == 0)
        driver->description = szDesc;
    registry.functions.push_back(std::move(driver));
    return TRUE;
}

BOOL ICRemove(DWORD fccType, DWORD fccHandler, UINT wFlags) {
    std::shared_ptr<Driver> removed; // dies outside the lock: its DRV_FREE may run
    Registry& registry = TheRegistry();
    {
        std::lock_guard lock(registry.mutex);
        auto& list = registry.functions;
        auto it = std::find_if(list.begin(), list.end(), [&](const auto& d) {
            return TypeMatches(fccType, d->fccType) && ICHandlerEqual(d->fccHandler, fccHandler);
        });
        if (it == list.end())
            return FALSE;
        removed = *it;
        list.erase(it);
    }
    return TRUE;
}

BOOL ICInfo(DWORD fccType, DWORD fccHandler, ICINFO* lpicinfo) {
    if (lpicinfo == nullptr)
        return FALSE;
    ScanLibraries();
    std::vector<std::shared_ptr<Driver>> all = TheRegistry().Snapshot();
    DWORD index = 0;
    for (const auto& d : all) {
        if (!TypeMatches(fccType, d->fccType))
            continue;
        bool hit = fccHandler < 256 ? index++ == fccHandler : ICHandlerEqual(d->fccHandler, fccHandler);
        if (!hit)
            continue;
        std::memset(lpicinfo, 0, sizeof *lpicinfo);
        lpicinfo->dwSize = sizeof *lpicinfo;
        lpicinfo->fccType = d->fccType;
        lpicinfo->fccHandler = d->fccHandler;
        lpicinfo->dwVersionICM = ICVERSION;
        CopyDescription(lpicinfo->szDescription, 128, d->description);
        CopyDescription(lpicinfo->szDriver, 128, d->path);
        return TRUE;
    }
    return FALSE;
}

HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode) {
    ScanLibraries();
    for (const auto& d : TheRegistry().Snapshot()) {
        if (TypeMatches(fccType, d->fccType) && ICHandlerEqual(d->fccHandler, fccHandler)) {
            if (auto instance = OpenInstance(d, fccType, fccHandler, wMode))
                return Publish(std::move(instance));
        }
    }
    return nullptr;
}

HIC ICOpenFunction(DWORD fccType, DWORD fccHandler, UINT wMode, DRIVERPROC lpfnHandler) {
    if (lpfnHandler == nullptr)
        return nullptr;
    auto driver = std::make_shared<Driver>();
    driver->fccType = fccType;
    driver->fccHandler = fccHandler;
    driver->proc = lpfnHandler;
    return Publish(OpenInstance(driver, fccType, fccHandler, wMode));
}

HIC ICLocate(DWORD fccType, DWORD fccHandler, LPBITMAPINFOHEADER lpbiIn, LPBITMAPINFOHEADER lpbiOut,
             WORD wFlags) {
    ScanLibraries();
    const UINT mode = wFlags;
    const UINT query = QueryMessageFor(mode);
    auto tryDriver = [&](const std::shared_ptr<Driver>& d) -> HIC {
        auto instance = OpenInstance(d, fccType, fccHandler, mode);
        if (!instance)
            return nullptr;
        LRESULT r = Send(instance, query, reinterpret_cast<DWORD_PTR>(lpbiIn),
                         query == ICM_DRAW_QUERY ? 0 : reinterpret_cast<DWORD_PTR>(lpbiOut));
        return r == ICERR_OK ? Publish(std::move(instance)) : nullptr;
    };
    std::vector<std::shared_ptr<Driver>> all = TheRegistry().Snapshot();
    if (fccHandler != 0) {
        for (const auto& d : all)
            if (TypeMatches(fccType, d->fccType) && ICHandlerEqual(d->fccHandler, fccHandler))
                if (HIC hic = tryDriver(d))
                    return hic;
    }
    for (const auto& d : all)
        if (TypeMatches(fccType, d->fccType) &&
            (fccHandler == 0 || !ICHandlerEqual(d->fccHandler, fccHandler)))
            if (HIC hic = tryDriver(d))
                return hic;
    return nullptr;
}

LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2) {
    if (hic == nullptr)
        return ICERR_BADHANDLE;
    std::shared_ptr<Instance> instance = TheRegistry().Find(hic);
    if (!instance)
        return ICERR_BADHANDLE;
    return Send(instance, msg, dw1, dw2);
}

LRESULT ICClose(HIC hic) {
    std::shared_ptr<Instance> closing; // its DRV_CLOSE runs outside the lock
    Registry& registry = TheRegistry();
    {
        std::lock_guard lock(registry.mutex);
        auto it = registry.instances.find(reinterpret_cast<std::uintptr_t>(hic));
        if (hic == nullptr || it == registry.instances.end())
            return ICERR_BADHANDLE;
        closing = std::move(it->second);
        registry.instances.erase(it);
    }
    return ICERR_OK;
}

DWORD cadmoICInstallLibrary(const char* path) {
    if (path == nullptr)
        return 0;
    std::string name = path;
    std::size_t slash = name.rfind('/');
    if (slash != std::string::npos)
        name = name.substr(slash + 1);
    const std::size_t prefix = sizeof kLibraryPrefix - 1, suffix = sizeof kLibrarySuffix - 1;
    if (name.compare(0, prefix, kLibraryPrefix) == 0)
        name = name.substr(prefix);
    if (name.size() > suffix && name.compare(name.size() - suffix, suffix, kLibrarySuffix) == 0)
        name = name.substr(0, name.size() - suffix);
    return LoadLibraryDriver(path, name);
}

LRESULT ICGetInfo(HIC hic, ICINFO* picinfo, DWORD cb) {
    if (picinfo == nullptr || cb < sizeof(ICINFO))
        return 0;
    return ICSendMessage(hic, ICM_GETINFO, reinterpret_cast<DWORD_PTR>(picinfo), cb);
}

DWORD ICDrawBegin(HIC hic, DWORD dwFlags, HPALETTE hpal, HWND hwnd, HDC hdc, INT xDst, INT yDst, INT dxDst,
                  INT dyDst, LPBITMAPINFO lpbi, INT xSrc, INT ySrc, INT dxSrc, INT dySrc, DWORD dwRate,
                  DWORD dwScale) {
    ICDRAWBEGIN ic{};
    ic.dwFlags = dwFlags;
    ic.hpal = hpal;
    ic.hwnd = hwnd;
    ic.hdc = hdc;
    ic.xDst = xDst;
    ic.yDst = yDst;
    ic.dxDst = dxDst;
    ic.dyDst = dyDst;
    ic.lpbi = lpbi == nullptr ? nullptr : &lpbi->bmiHeader;
    ic.xSrc = xSrc;
    ic.ySrc = ySrc;
    ic.dxSrc = dxSrc;
    ic.dySrc = dySrc;
    ic.dwRate = dwRate;
    ic.dwScale = dwScale;
    return static_cast<DWORD>(
        ICSendMessage(hic, ICM_DRAW_BEGIN, reinterpret_cast<DWORD_PTR>(&ic), sizeof ic));
}

LRESULT ICDecompressExQuery(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiSrc, LPVOID lpSrc, INT xSrc,
                            INT ySrc, INT dxSrc, INT dySrc, LPBITMAPINFOHEADER lpbiDst, LPVOID lpDst,
                            INT xDst, INT yDst, INT dxDst, INT dyDst) {
    return SendDecompressEx(hic, ICM_DECOMPRESSEX_QUERY, dwFlags, lpbiSrc, lpSrc, xSrc, ySrc, dxSrc, dySrc,
                            lpbiDst, lpDst, xDst, yDst, dxDst, dyDst);
}

LRESULT ICDecompressExBegin(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiSrc, LPVOID lpSrc, INT xSrc,
                            INT ySrc, INT dxSrc, INT dySrc, LPBITMAPINFOHEADER lpbiDst, LPVOID lpDst,
                            INT xDst, INT yDst, INT dxDst, INT dyDst) {
    return SendDecompressEx(hic, ICM_DECOMPRESSEX_BEGIN, dwFlags, lpbiSrc, lpSrc, xSrc, ySrc, dxSrc, dySrc,
                            lpbiDst, lpDst, xDst, yDst, dxDst, dyDst);
}

LRESULT ICDecompressEx(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiSrc, LPVOID lpSrc, INT xSrc, INT ySrc,
                       INT dxSrc, INT dySrc, LPBITMAPINFOHEADER lpbiDst, LPVOID lpDst, INT xDst, INT yDst,
                       INT dxDst, INT dyDst) {
    return SendDecompressEx(hic, ICM_DECOMPRESSEX, dwFlags, lpbiSrc, lpSrc, xSrc, ySrc, dxSrc, dySrc, lpbiDst,
                            lpDst, xDst, yDst, dxDst, dyDst);
}
