#include "res/DialogTemplates.h"

#include "res/Resource.h"

namespace {

using K = ControlKind;

constexpr DialogControl scalabilityControls[] = {
    {IDOK, K::DefaultButton, "OK", 16, 82, 50, 14},
    {IDCANCEL, K::Button, "Cancel", 82, 82, 50, 14},
    {IDC_RESET, K::Button, "Reset", 148, 82, 50, 14},
    {IDC_SCALETRACKBAR, K::Trackbar, "", 30, 31, 158, 13},
    {-1, K::GroupBox, "", 6, 3, 201, 70},
    {1032, K::Static, "Milliseconds per Frame:", 20, 15, 77, 8},
    {IDC_SCALEVALUE, K::Static, "0", 98, 15, 13, 8},
    {1034, K::Static, "ms:", 14, 45, 15, 8},
    {1036, K::Static, "0", 34, 45, 12, 8},
    {1037, K::Static, "33", 74, 45, 13, 8},
    {1038, K::Static, "66", 116, 45, 13, 8},
    {1039, K::Static, "100", 156, 45, 13, 8},
    {1040, K::Static, "500", 180, 45, 13, 8},
    {1035, K::Static, "sec:", 14, 56, 27, 8},
    {1041, K::Static, "1/30", 70, 56, 18, 8},
    {1042, K::Static, "1/15", 112, 56, 18, 8},
    {1043, K::Static, "1/10", 154, 56, 18, 8},
};

constexpr DialogControl colorControls[] = {
    {IDOK, K::DefaultButton, "OK", 16, 119, 50, 14},
    {IDCANCEL, K::Button, "Cancel", 82, 119, 50, 14},
    {IDC_RESET, K::Button, "Reset", 148, 119, 50, 14},
    {-1, K::GroupBox, "Brightness", 12, 6, 189, 32},
    {-1, K::GroupBox, "Saturation", 12, 42, 189, 32},
    {-1, K::GroupBox, "Contrast", 12, 78, 189, 32},
    {IDC_BRIGHTNESS, K::Trackbar, "", 28, 21, 158, 13},
    {IDC_SATURATION, K::Trackbar, "", 28, 57, 158, 13},
    {IDC_CONTRAST, K::Trackbar, "", 28, 93, 158, 13},
    {IDC_BRIGHTNESSVALUE, K::CentredStatic, "0", 100, 12, 14, 8},
    {IDC_SATURATIONVALUE, K::CentredStatic, "0", 100, 47, 14, 8},
    {IDC_CONTRASTVALUE, K::CentredStatic, "0", 100, 84, 14, 8},
    {-1, K::CentredStatic, "-", 17, 19, 8, 8},
    {-1, K::CentredStatic, "-", 17, 55, 8, 8},
    {-1, K::CentredStatic, "-", 17, 94, 8, 8},
    {-1, K::CentredStatic, "+", 189, 19, 8, 8},
    {-1, K::CentredStatic, "+", 189, 55, 8, 8},
    {-1, K::CentredStatic, "+", 189, 94, 8, 8},
};

constexpr DialogControl accessKeyControls[] = {
    {IDOK, K::DefaultButton, "Set", 19, 56, 50, 14},          {IDCANCEL, K::Button, "Cancel", 85, 56, 50, 14},
    {-1, K::GroupBox, "Access Key", 8, 7, 138, 43},           {-1, K::Static, "Enter Key:", 24, 26, 36, 8},
    {IDC_ACCESSKEYEDIT, K::PasswordEdit, "", 64, 25, 58, 12},
};

constexpr DialogTemplate templates[] = {
    {IDD_SCALABILITY, "Scalability Control", 214, 103, scalabilityControls},
    {IDD_COLORCONTROLS, "Color Controls", 214, 140, colorControls},
    {IDD_ACCESSKEY, "Access Key Control", 155, 76, accessKeyControls},
};

} // namespace

const DialogTemplate* LoadDialogTemplate(UINT id) {
    for (const DialogTemplate& t : templates)
        if (t.id == id)
            return &t;
    return nullptr;
}
