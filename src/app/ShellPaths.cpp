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
        const std::string_view description = fields[i];
        const std::string pattern = "(" + std::string(fields[i + 1]) + ")";
        filter += description;
        if (!description.ends_with(pattern)) {
            filter += ' ';
            filter += pattern;
        }
    }
    return filter;
}
