// Path handling of the open-a-file sequence and the file dialogs, as pure
// functions.
#pragma once

#include <string>
#include <string_view>

// The window title for a path: its last component. Scanning from the second
// character, each '\', '/' or ':' followed by at least one more character
// starts a new candidate; a separator that is the last character ends the
// scan. Without a separator the whole path is the title ("D:demo.avi" gives
// "demo.avi").
std::string TitleFromPath(std::string_view path);

// The extension of the path's file name: from the last '.' after the last
// directory separator or drive colon, dot included; empty when there is none.
std::string_view PathExtension(std::string_view path);

// True when the path names a background picture (".bmp" in any case).
bool IsBitmapPath(std::string_view path);

// A string-table filter ("AVI File (*.avi)|*.avi|": pairs of description and
// pattern, each ended by the last character of the string) turned into a file
// dialog filter, pairs joined with ";;". The dialog reads the patterns from
// the parentheses at the end of each description, so "(pattern)" is appended
// unless the description already ends with it.
std::string DialogFilterFromResource(std::string_view resource);
