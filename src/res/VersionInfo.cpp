#include "res/VersionInfo.h"

#include <array>
#include <utility>

#ifndef CADMO_VERSION
#define CADMO_VERSION "0.0.0"
#endif

namespace {

constexpr std::string_view stringBlock = "\\StringFileInfo\\040904E4\\";

constexpr std::array<std::pair<std::string_view, std::string_view>, 8> values{{
    {"ProductName", "Cadmo"},
    {"CompanyName", "The Cadmo Project"},
    {"FileDescription", "Cadmo movie player"},
    {"FileVersion", CADMO_VERSION},
    {"ProductVersion", CADMO_VERSION},
    {"InternalName", "cadmo"},
    {"LegalCopyright", "Copyright (C) 2026 The Cadmo Project contributors"},
    {"LegalTrademarks", "Cadmo and Tavro are names of the Cadmo Project. The qx47 codec is part of Cadmo."},
}};

} // namespace

BOOL VerQueryValue(std::string_view subBlock, std::string_view& value, DWORD& lastError) {
    value = {};
    if (!subBlock.starts_with(stringBlock)) {
        lastError = ERROR_RESOURCE_TYPE_NOT_FOUND;
        return FALSE;
    }
    const std::string_view name = subBlock.substr(stringBlock.size());
    for (const auto& [key, text] : values) {
        if (key == name) {
            value = text;
            return TRUE;
        }
    }
    lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
    return FALSE;
}
