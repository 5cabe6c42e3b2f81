// The program's own version information, queried the way a version resource
// is: "\StringFileInfo\040904E4\<Name>".
#pragma once

#include "platform/win32/Types.h"

#include <string_view>

constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// On success returns TRUE and points `value` at the text. On failure returns
// FALSE, leaves `value` empty and stores the reason in `lastError`:
// ERROR_RESOURCE_TYPE_NOT_FOUND for a block other than the program's string
// table, ERROR_RESOURCE_NAME_NOT_FOUND for a name the table does not hold.
BOOL VerQueryValue(std::string_view subBlock, std::string_view& value, DWORD& lastError);
