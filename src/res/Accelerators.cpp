#include "res/Accelerators.h"

#include "res/Resource.h"

namespace {

constexpr BYTE virtualKey = FVIRTKEY | FNOINVERT;

constexpr ACCEL cadmoAccelerators[] = {
    {FALT | FNOINVERT, '/', IDM_ABOUT},
    {FALT | FNOINVERT, '?', IDM_ABOUT},
    {virtualKey | FCONTROL, '1', IDM_NATIVE},
    {virtualKey | FCONTROL, '2', IDM_PIXELDOUBLE},
    {virtualKey, VK_END, IDM_LASTFRAME},
    {virtualKey, VK_HOME, IDM_REWIND},
    {virtualKey, VK_LEFT, IDM_STEPBACK},
    {virtualKey, VK_RIGHT, IDM_STEPFORWARD},
    {virtualKey | FCONTROL, VK_LEFT, IDM_BACKSECOND},
    {virtualKey | FCONTROL, VK_RIGHT, IDM_FORWARDSECOND},
    {virtualKey | FCONTROL | FSHIFT, VK_LEFT, IDM_BACKTENTH},
    {virtualKey | FCONTROL | FSHIFT, VK_RIGHT, IDM_FORWARDTENTH},
    {virtualKey, VK_SPACE, IDM_PLAYPAUSE},
    {FNOINVERT, 9, IDM_INFO},
};

} // namespace

std::span<const ACCEL> LoadAcceleratorTable() {
    return cadmoAccelerators;
}
