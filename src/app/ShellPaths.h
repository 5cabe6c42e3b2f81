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

// One file dialog filter: the description, with "(pattern)" appended unless
// it already ends with it, as the user sees it; then the same pattern
// matching any case in parentheses of its own ("*.avi" gives
// "*.[aA][vV][iI]"). The dialogs read the patterns from the last
// parentheses, so CLIP.AVI is offered also by dialogs that match
// case-sensitively (GTK's); the dialog must hide the filter details, so that
// the text before them is what is shown. Without a pattern, the description
// alone.
std::string DialogFilter(std::string_view description, std::string_view pattern);

// A string-table filter ("AVI File (*.avi)|*.avi|": pairs of description and
// pattern, each ended by the last character of the string) turned into file
// dialog filters (DialogFilter), joined with ";;".
std::string DialogFilterFromResource(std::string_view resource);
