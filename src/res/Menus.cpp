#include "res/Menus.h"

#include "res/Resource.h"

namespace {

constexpr MenuTemplateItem separator{nullptr, 0, MF_SEPARATOR, {}};

constexpr MenuTemplateItem fileItems[] = {
    {"&Open...", IDM_OPEN, 0, {}},
    {"&Close", IDM_CLOSE, MF_GRAYED, {}},
    separator,
    {"E&xit", IDM_EXIT, 0, {}},
    separator,
    {"&About...", IDM_ABOUT, 0, {}},
};

constexpr MenuTemplateItem movieItems[] = {
    {"&Play", IDM_PLAY, 0, {}},
    {"&Stop", IDM_STOP, 0, {}},
    {"Pa&use", IDM_PAUSE, 0, {}},
    separator,
    {"&Rewind", IDM_REWIND, 0, {}},
    {"Re&draw", IDM_REDRAW, 0, {}},
    separator,
    {"&Loop", IDM_LOOP, MF_UNCHECKED, {}},
    {"&Info...\t^I", IDM_INFO, 0, {}},
};

constexpr MenuTemplateItem depthItems[] = {
    {"RGB 8", IDM_RGB8, 0, {}},
    {"RGB 16", IDM_RGB16, 0, {}},
    {"RGB 24", IDM_RGB24, 0, {}},
    {"RGB 32", IDM_RGB32, MF_GRAYED, {}},
};

constexpr MenuTemplateItem resolutionItems[] = {
    {"&Native", IDM_NATIVE, MF_CHECKED, {}},
    {"2X - &Pixel doubling", IDM_PIXELDOUBLE, 0, {}},
    {"2X - &Alternate Line", IDM_ALTLINE, MF_GRAYED, {}},
};

constexpr MenuTemplateItem tavroItems[] = {
    {"&Scalability...", IDM_SCALABILITY, 0, {}},
    {"&Color Controls...", IDM_COLORCONTROLS, 0, {}},
    {"&Access Key...", IDM_ACCESSKEY, 0, {}},
    {"B&ackground Image", IDM_BACKGROUND, 0, {}},
};

constexpr MenuTemplateItem paletteItems[] = {
    {"&Default", IDM_PALDEFAULT, MF_CHECKED, {}},
    {"&Clipboard", IDM_PALCLIPBOARD, 0, {}},
    {"&File", IDM_PALFILE, 0, {}},
};

constexpr MenuTemplateItem optionItems[] = {
    {"&Bits Per Pixel", 0, MF_POPUP, depthItems},
    {"&Resolution", 0, MF_POPUP, resolutionItems},
    {"&Tavro R4", 0, MF_POPUP, tavroItems},
    {"&Palette", 0, MF_POPUP, paletteItems},
};

constexpr MenuTemplateItem noMovieMenu[] = {
    {"&File", 0, MF_POPUP, fileItems},
};

constexpr MenuTemplateItem movieMenu[] = {
    {"&File", 0, MF_POPUP, fileItems},
    {"&Movie", 0, MF_POPUP, movieItems},
    {"&Options", 0, MF_POPUP, optionItems},
};

} // namespace

std::span<const MenuTemplateItem> LoadMenuTemplate(UINT id) {
    switch (id) {
    case IDR_NOMOVIEMENU:
        return noMovieMenu;
    case IDR_MOVIEMENU:
        return movieMenu;
    default:
        return {};
    }
}
