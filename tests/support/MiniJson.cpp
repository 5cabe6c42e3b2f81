#include "support/MiniJson.h"

#include <cstdlib>

namespace cadmo::test {

namespace {

class Parser {
public:
    explicit Parser(const std::string& t) : m_t(t) {}

    bool Document(JsonValue& v) {
        if (!Value(v, 0))
            return false;
        Space();
        return m_i == m_t.size();
    }

private:
    void Space() {
        while (m_i < m_t.size() &&
               (m_t[m_i] == ' ' || m_t[m_i] == '\n' || m_t[m_i] == '\r' || m_t[m_i] == '\t'))
            ++m_i;
    }
    bool Literal(const char* word) {
        std::size_t n = 0;
        while (word[n])
            ++n;
        if (m_t.compare(m_i, n, word) != 0)
            return false;
        m_i += n;
        return true;
    }
    bool String(std::string& s) {
        if (m_i >= m_t.size() || m_t[m_i] != '"')
            return false;
        ++m_i;
        while (m_i < m_t.size() && m_t[m_i] != '"') {
            char c = m_t[m_i++];
            if (c == '\\') {
                if (m_i >= m_t.size())
                    return false;
                c = m_t[m_i++];
                switch (c) {
                case 'n':
                    c = '\n';
                    break;
                case 't':
                    c = '\t';
                    break;
                case 'r':
                    c = '\r';
                    break;
                case 'b':
                    c = '\b';
                    break;
                case 'f':
                    c = '\f';
                    break;
                case 'u':
                    // Non-ASCII escapes are not needed here; keep a marker.
                    if (m_i + 4 > m_t.size())
                        return false;
                    m_i += 4;
                    c = '?';
                    break;
                default:
                    break;
                }
            }
            s += c;
        }
        if (m_i >= m_t.size())
            return false;
        ++m_i;
        return true;
    }
    bool Value(JsonValue& v, int depth) {
        if (depth > 64)
            return false;
        Space();
        if (m_i >= m_t.size())
            return false;
        const char c = m_t[m_i];
        if (c == '{') {
            v.type = JsonValue::Type::Object;
            ++m_i;
            Space();
            if (m_i < m_t.size() && m_t[m_i] == '}') {
                ++m_i;
                return true;
            }
            for (;;) {
                Space();
                std::string key;
                if (!String(key))
                    return false;
                Space();
                if (m_i >= m_t.size() || m_t[m_i++] != ':')
                    return false;
                JsonValue member;
                if (!Value(member, depth + 1))
                    return false;
                v.object.emplace_back(std::move(key), std::move(member));
                Space();
                if (m_i < m_t.size() && m_t[m_i] == ',') {
                    ++m_i;
                    continue;
                }
                if (m_i < m_t.size() && m_t[m_i] == '}') {
                    ++m_i;
                    return true;
                }
                return false;
            }
        }
        if (c == '[') {
            v.type = JsonValue::Type::Array;
            ++m_i;
            Space();
            if (m_i < m_t.size() && m_t[m_i] == ']') {
                ++m_i;
                return true;
            }
            for (;;) {
                JsonValue item;
                if (!Value(item, depth + 1))
                    return false;
                v.array.push_back(std::move(item));
                Space();
                if (m_i < m_t.size() && m_t[m_i] == ',') {
                    ++m_i;
                    continue;
                }
                if (m_i < m_t.size() && m_t[m_i] == ']') {
                    ++m_i;
                    return true;
                }
                return false;
            }
        }
        if (c == '"') {
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
    for (const auto& [k, v] : object)
        if (k == key)
            return v;
    return null;
}

bool JsonValue::Has(const std::string& key) const {
    for (const auto& kv : object)
        if (kv.first == key)
            return true;
    return false;
}

long long JsonValue::Int(long long fallback) const {
    if (type == Type::Number)
        return static_cast<long long>(number);
    if (type == Type::String && !string.empty()) {
        char* end = nullptr;
        const long long v = std::strtoll(string.c_str(), &end, 10);
        if (end && *end == '\0')
            return v;
    }
    return fallback;
}

bool ParseJson(const std::string& text, JsonValue& out) {
    out = JsonValue();
    return Parser(text).Document(out);
}

} // namespace cadmo::test
