// Just enough JSON to read what ffprobe prints: objects, arrays, strings,
// numbers, true/false/null. No dependency beyond the standard library.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace cadmo::test {

struct JsonValue {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string string;
    std::vector<JsonValue> array;
    // An object's members, names and values at the same index (a vector of
    // pairs would need JsonValue complete here).
    std::vector<std::string> keys;
    std::vector<JsonValue> members;

    // Member of an object; a shared null value when absent.
    const JsonValue& operator[](const std::string& key) const;
    bool Has(const std::string& key) const;
    // A number, or a string holding one (ffprobe quotes many numbers).
    long long Int(long long fallback = -1) const;
    std::string Str() const { return type == Type::String ? string : std::string(); }
};

// Parses a whole document; false on a syntax error.
bool ParseJson(const std::string& text, JsonValue& out);

} // namespace cadmo::test
