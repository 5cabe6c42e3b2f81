// The system's Open dialog as the image sources ask for it: the shell shows
// a real file dialog; tests answer with a path or a cancel.
//
// Threads: window thread only.
#pragma once

#include "platform/win32/Types.h"

#include <string>

// Open dialog flags (as published).
constexpr DWORD OFN_READONLY = 0x00000001;
constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;

struct OpenFileRequest {
    HWND owner = nullptr;                // null: no owner window
    const char* filterName = nullptr;    // e.g. "Palette Files"
    const char* filterPattern = nullptr; // e.g. "*.pal"
    const char* title = nullptr;
    const char* initialPath = nullptr; // the name the dialog starts with
    DWORD flags = 0;                   // OFN_*
};

class FileChooser {
public:
    virtual ~FileChooser() = default;
    // True with the chosen path in `path`; false when the user cancelled.
    virtual bool ChooseFileToOpen(const OpenFileRequest& request, std::string& path) = 0;
};
