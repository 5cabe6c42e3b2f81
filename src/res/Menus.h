// The two menu trees of the main window as data. The shell builds its menu bars
// from these templates; operations find submenus by position and items by
// command, so the order of the entries is significant.
#pragma once

#include "platform/win32/Types.h"

#include <span>

constexpr UINT MF_ENABLED = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_UNCHECKED = 0x0000;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_BYPOSITION = 0x0400;

// One entry of a menu template. A popup has children and command 0; a
// separator has no text. Texts use '&' before the mnemonic and '\t' before the
// shortcut hint.
struct MenuTemplateItem {
    const char* text;
    UINT command;
    UINT flags;
    std::span<const MenuTemplateItem> children;
};

// The top-level entries of menu `id` (IDR_NOMOVIEMENU or IDR_MOVIEMENU); an
// empty span for any other id.
std::span<const MenuTemplateItem> LoadMenuTemplate(UINT id);
