// A strict reader of one JSON object per line, for the tests of --report:
// a record that does not parse whole is a fault. Values keep their JSON
// text for numbers and literals, and their decoded text for strings.
#pragma once

#include <cctype>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct JsonValue {
  enum class Kind { String, Number, Literal, Array } kind = Kind::Literal;
  std::string text;               // decoded string, number or literal as written
  std::vector<JsonValue> items;   // Array (strings, numbers and literals only)
};
using JsonObject = std::map<std::string, JsonValue>;

class CJsonLine {
public:
  // The object on the line, or nothing when the line is not exactly one object.
  static std::optional<JsonObject> Parse(const std::string& line) {
    CJsonLine p(line);
    JsonObject object;
    if (!p.Object(object)) return std::nullopt;
    p.Space();
    if (p.m_i != line.size()) return std::nullopt;
    return object;
  }

private:
  explicit CJsonLine(const std::string& s) : m_s(s) {}
  void Space() {
    while (m_i < m_s.size() && std::isspace(static_cast<unsigned char>(m_s[m_i]))) ++m_i;
  }
  bool Take(char c) {
    Space();
    if (m_i >= m_s.size() || m_s[m_i] != c) return false;
    ++m_i;
    return true;
  }
  bool String(std::string& out) {
    if (!Take('"')) return false;
    for (; m_i < m_s.size(); ++m_i) {
      const char c = m_s[m_i];
      if (c == '"') return ++m_i, true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (++m_i >= m_s.size()) return false;
      const char e = m_s[m_i];
      if (e == 'u') {
        if (m_i + 4 >= m_s.size()) return false;
        for (int k = 1; k <= 4; ++k)
          if (!std::isxdigit(static_cast<unsigned char>(m_s[m_i + k]))) return false;
        const long code = std::stol(m_s.substr(m_i + 1, 4), nullptr, 16);
        out += code < 0x80 ? static_cast<char>(code) : '?';
        m_i += 4;
      } else if (std::string("\"\\/bfnrt").find(e) != std::string::npos) {
        out += e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e == 'b' ? '\b' : e == 'f' ? '\f' : e;
      } else {
        return false;
      }
    }
    return false;
  }
  bool Scalar(JsonValue& v) {
    Space();
    if (m_i < m_s.size() && m_s[m_i] == '"') {
      v.kind = JsonValue::Kind::String;
      return String(v.text);
    }
    for (const char* literal : {"null", "true", "false"})
      if (m_s.compare(m_i, std::string(literal).size(), literal) == 0) {
        v.kind = JsonValue::Kind::Literal;
        v.text = literal;
        m_i += v.text.size();
        return true;
      }
    const size_t from = m_i;
    while (m_i < m_s.size() && std::string("+-.eE0123456789").find(m_s[m_i]) != std::string::npos) ++m_i;
    v.kind = JsonValue::Kind::Number;
    v.text = m_s.substr(from, m_i - from);
    return !v.text.empty();
  }
  bool Value(JsonValue& v) {
    if (!Take('[')) return Scalar(v);
    v.kind = JsonValue::Kind::Array;
    if (Take(']')) return true;
    do {
      JsonValue item;
      if (!Scalar(item)) return false;
      v.items.push_back(item);
    } while (Take(','));
    return Take(']');
  }
  bool Object(JsonObject& object) {
    if (!Take('{')) return false;
    if (Take('}')) return true;
    do {
      std::string key;
      JsonValue value;
      Space();
      if (!String(key) || !Take(':') || !Value(value) || !object.emplace(key, value).second) return false;
    } while (Take(','));
    return Take('}');
  }

  const std::string& m_s;
  size_t m_i = 0;
};
