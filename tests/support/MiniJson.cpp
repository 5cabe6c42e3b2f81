#include "support/MiniJson.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace cadmo::test {

namespace {

// Recursive descent over the whole text; nesting is limited so that hostile
// input cannot exhaust the stack.
class Parser {
public:
    explicit Parser(const std::string& t) : m_t(t) {}

    bool Document(JsonValue& v) { return Value(v, 0) && (Space(), m_i == m_t.size()); }

private:
    void Space() {
        while (m_i < m_t.size() &&
               (m_t[m_i] == ' ' || m_t[m_i] == '\n' || m_t[m_i] == '\r' || m_t[m_i] == '\t'))
            ++m_i;
    }
    // Skips white space, then `c` if it comes next.
    bool Eat(char c) {
        Space();
        if (m_i >= m_t.size() || m_t[m_i] != c)
            return false;
        ++m_i;
        return true;
    }
    bool Literal(const char* word) {
        const std::size_t n = std::strlen(word);
        if (m_t.compare(m_i, n, word) != 0)
            return false;
        m_i += n;
        return true;
    }
    bool String(std::string& s) {
        if (!Eat('"'))
            return false;
        while (m_i < m_t.size() && m_t[m_i] != '"') {
            char c = m_t[m_i++];
            if (c == '\\') {
                if (m_i >= m_t.size())
                    return false;
                static const char escaped[] = "ntrbf", meant[] = "\n\t\r\b\f";
                c = m_t[m_i++];
                if (c == 'u') {
                    // Non-ASCII escapes are not needed here; keep a marker.
                    if (m_i + 4 > m_t.size())
                        return false;
                    m_i += 4;
                    c = '?';
                } else if (const char* e = c ? std::strchr(escaped, c) : nullptr) {
                    c = meant[e - escaped];
                }
            }
            s += c;
        }
        return Eat('"');
    }
    bool Value(JsonValue& v, int depth) {
        if (depth > 64)
            return false;
        Space();
        if (Eat('{')) {
            v.type = JsonValue::Type::Object;
            if (Eat('}'))
                return true;
            do {
                std::string key;
                JsonValue member;
                if (!String(key) || !Eat(':') || !Value(member, depth + 1))
                    return false;
                v.keys.push_back(std::move(key));
                v.members.push_back(std::move(member));
            } while (Eat(','));
            return Eat('}');
        }
        if (Eat('[')) {
            v.type = JsonValue::Type::Array;
            if (Eat(']'))
                return true;
            do {
                if (!Value(v.array.emplace_back(), depth + 1))
                    return false;
            } while (Eat(','));
            return Eat(']');
        }
        if (m_i < m_t.size() && m_t[m_i] == '"') {
            v.type = JsonValue::Type::String;
            return String(v.string);
        }
        if (Literal("true")) {
            v.type = JsonValue::Type::Bool;
            v.boolean = true;
            return true;
        }
        if (Literal("false")) {
            v.type = JsonValue::Type::Bool;
            return true;
        }
        if (Literal("null"))
            return true;
        const char* begin = m_t.c_str() + m_i;
        char* end = nullptr;
        v.number = std::strtod(begin, &end);
        if (end == begin)
            return false;
        v.type = JsonValue::Type::Number;
        m_i += static_cast<std::size_t>(end - begin);
        return true;
    }

    const std::string& m_t;
    std::size_t m_i = 0;
};

} // namespace

const JsonValue& JsonValue::operator[](const std::string& key) const {
    static const JsonValue null;
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (keys[i] == key)
            return members[i];
    return null;
}

bool JsonValue::Has(const std::string& key) const {
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

long long JsonValue::Int(long long fallback) const {
    if (type == Type::Number)
        return static_cast<long long>(number);
    if (type != Type::String || string.empty())
        return fallback;
    char* end = nullptr;
    const long long v = std::strtoll(string.c_str(), &end, 10);
    return *end == '\0' ? v : fallback;
}

bool ParseJson(const std::string& text, JsonValue& out) {
    out = JsonValue();
    return Parser(text).Document(out);
}

} // namespace cadmo::test
