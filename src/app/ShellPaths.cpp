#include "app/ShellPaths.h"

#include <vector>

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/' || c == ':';
}

} // namespace

std::string TitleFromPath(std::string_view path) {
    size_t start = 0;
    for (size_t i = 1; i < path.size(); ++i) {
        if (!IsSeparator(path[i]))
            continue;
        if (i + 1 == path.size())
            break;
        start = i + 1;
    }
    return std::string(path.substr(start));
}

std::string_view PathExtension(std::string_view path) {
    size_t nameStart = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsSeparator(path[i]))
            nameStart = i + 1;
    }
    const std::string_view name = path.substr(nameStart);
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    return name.substr(dot);
}

bool IsBitmapPath(std::string_view path) {
    const std::string_view ext = PathExtension(path);
    if (ext.size() != 4)
        return false;
    constexpr std::string_view bmp = ".bmp";
    for (size_t i = 0; i < 4; ++i) {
        char c = ext[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != bmp[i])
            return false;
    }
    return true;
}

std::string DialogFilterFromResource(std::string_view resource) {
    if (resource.empty())
        return {};
    const char separator = resource.back();
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (size_t i = 0; i < resource.size(); ++i) {
        if (resource[i] == separator) {
            fields.push_back(resource.substr(start, i - start));
            start = i + 1;
        }
    }
    std::string filter;
    for (size_t i = 0; i + 1 < fields.size(); i += 2) {
        if (!filter.empty())
            filter += ";;";
        filter += DialogFilter(fields[i], fields[i + 1]);
    }
    return filter;
}

std::string DialogFilter(std::string_view description, std::string_view pattern) {
    if (pattern.empty())
        return std::string(description);
    const std::string shown = "(" + std::string(pattern) + ")";
    std::string filter(description);
    if (!description.ends_with(shown)) {
        filter += ' ';
        filter += shown;
    }
    // A pattern that brackets characters itself is left as it is. The
    // second parentheses come also when they repeat the first, so that the
    // text shown is always the text before them.
    const bool bracketed = pattern.find('[') != std::string_view::npos;
    filter += " (";
    for (const char c : pattern) {
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (!bracketed && lower >= 'a' && lower <= 'z')
            filter += {'[', lower, static_cast<char>(lower - 'a' + 'A'), ']'};
        else
            filter += c;
    }
    filter += ')';
    return filter;
}
