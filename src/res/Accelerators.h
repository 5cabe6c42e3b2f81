// The main window's keyboard accelerator table as data. An entry with
// FVIRTKEY names a virtual key; without it, `key` is the character the
// keystroke produces (so character 9 is both Tab and Ctrl+I).
#pragma once

#include "platform/win32/Types.h"

#include <span>

constexpr BYTE FVIRTKEY = 0x01;
constexpr BYTE FNOINVERT = 0x02;
constexpr BYTE FSHIFT = 0x04;
constexpr BYTE FCONTROL = 0x08;
constexpr BYTE FALT = 0x10;

constexpr WORD VK_TAB = 0x09;
constexpr WORD VK_SPACE = 0x20;
constexpr WORD VK_END = 0x23;
constexpr WORD VK_HOME = 0x24;
constexpr WORD VK_LEFT = 0x25;
constexpr WORD VK_RIGHT = 0x27;

struct ACCEL {
    BYTE fVirt;
    WORD key;
    WORD cmd;
};

// The table "Cadmo".
std::span<const ACCEL> LoadAcceleratorTable();
