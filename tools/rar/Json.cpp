#include "tools/rar/Json.h"

#include <cstdlib>
#include <stdexcept>

#include "platform/Text.h"
#include "platform/Utf8.h"
#include "tools/rar/ArchiveListing.h"

namespace {

// Nesting deeper than this is refused rather than risking the stack; lsar nests four levels.
constexpr int kMaxDepth = 64;

}  // namespace

class CJsonParser {
  public:
    explicit CJsonParser(const std::string& text) : m_text(text) {}

    CJsonValue ParseDocument() {
        CJsonValue value = ParseValue(0);
        SkipBlanks();
        if (m_pos != m_text.size()) {
            Fail("text after the value");
        }
        return value;
    }

  private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw std::invalid_argument(what + " at offset " + std::to_string(m_pos));
    }

    void SkipBlanks() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                                         m_text[m_pos] == '\n' || m_text[m_pos] == '\r')) {
            ++m_pos;
        }
    }

    bool Take(char c) {
        SkipBlanks();
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }

    void Expect(char c) {
        if (!Take(c)) {
            Fail(std::string("expected '") + c + "'");
        }
    }

    bool TakeWord(const char* word) {
        const std::string w(word);
        if (m_text.compare(m_pos, w.size(), w) == 0) {
            m_pos += w.size();
            return true;
        }
        return false;
    }

    CJsonValue ParseValue(int depth) {
        if (depth > kMaxDepth) {
            Fail("nesting too deep");
        }
        SkipBlanks();
        if (m_pos >= m_text.size()) {
            Fail("unexpected end");
        }
        CJsonValue value;
        const char c = m_text[m_pos];
        if (c == '{') {
            ++m_pos;
            value.m_kind = CJsonValue::Kind::Object;
            if (Take('}')) {
                return value;
            }
            do {
                SkipBlanks();
                if (m_pos >= m_text.size() || m_text[m_pos] != '"') {
                    Fail("expected a member name");
                }
                std::string key = ParseString();
                Expect(':');
                value.m_keys.push_back(std::move(key));
                value.m_values.push_back(ParseValue(depth + 1));
            } while (Take(','));
            Expect('}');
        } else if (c == '[') {
            ++m_pos;
            value.m_kind = CJsonValue::Kind::Array;
            if (Take(']')) {
                return value;
            }
            do {
                value.m_items.push_back(ParseValue(depth + 1));
            } while (Take(','));
            Expect(']');
        } else if (c == '"') {
            value.m_kind = CJsonValue::Kind::String;
            value.m_string = ParseString();
        } else if (TakeWord("true") || TakeWord("false")) {
            value.m_kind = CJsonValue::Kind::Bool;
            value.m_bool = c == 't';
        } else if (TakeWord("null")) {
            value.m_kind = CJsonValue::Kind::Null;
        } else {
            value.m_kind = CJsonValue::Kind::Number;
            value.m_number = ParseNumber();
        }
        return value;
    }

    double ParseNumber() {
        // The grammar is checked here; strtod only converts what passed.
        const size_t start = m_pos;
        auto digits = [this] {
            const size_t from = m_pos;
            while (m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9') {
                ++m_pos;
            }
            return m_pos - from;
        };
        if (m_pos < m_text.size() && m_text[m_pos] == '-') {
            ++m_pos;
        }
        const size_t intStart = m_pos;
        const size_t intDigits = digits();
        if (intDigits == 0 || (intDigits > 1 && m_text[intStart] == '0')) {
            m_pos = start;
            Fail("invalid value");
        }
        if (m_pos < m_text.size() && m_text[m_pos] == '.') {
            ++m_pos;
            if (digits() == 0) {
                Fail("invalid number");
            }
        }
        if (m_pos < m_text.size() && (m_text[m_pos] == 'e' || m_text[m_pos] == 'E')) {
            ++m_pos;
            if (m_pos < m_text.size() && (m_text[m_pos] == '+' || m_text[m_pos] == '-')) {
                ++m_pos;
            }
            if (digits() == 0) {
                Fail("invalid number");
            }
        }
        return std::strtod(m_text.substr(start, m_pos - start).c_str(), nullptr);
    }

    unsigned Hex4() {
        if (m_text.size() - m_pos < 4) {
            Fail("\\u escape cut short");
        }
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = HexDigitValue(m_text[m_pos++]);
            if (digit < 0) {
                Fail("invalid \\u escape");
            }
            value = value << 4 | static_cast<unsigned>(digit);
        }
        return value;
    }

    // At the opening quote; returns the text with escapes resolved.
    std::string ParseString() {
        ++m_pos;
        std::string out;
        while (true) {
            if (m_pos >= m_text.size()) {
                Fail("unterminated string");
            }
            const char c = m_text[m_pos++];
            if (c == '"') {
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                Fail("control character in a string");
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_text.size()) {
                Fail("unterminated string");
            }
            const char e = m_text[m_pos++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    char32_t code = Hex4();
                    if (code >= 0xD800 && code <= 0xDBFF) {
                        // A high surrogate must be followed by an escaped low one.
                        if (!TakeWord("\\u")) {
                            Fail("unpaired surrogate");
                        }
                        const unsigned low = Hex4();
                        if (low < 0xDC00 || low > 0xDFFF) {
                            Fail("unpaired surrogate");
                        }
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    } else if (code >= 0xDC00 && code <= 0xDFFF) {
                        Fail("unpaired surrogate");
                    }
                    AppendUtf8(out, code);
                    break;
                }
                default:
                    Fail("invalid escape");
            }
        }
    }

    const std::string& m_text;
    size_t m_pos = 0;
};

const CJsonValue& CJsonValue::Member(const std::string& key) const {
    static const CJsonValue null;
    for (size_t i = m_keys.size(); i > 0; --i) {
        if (m_keys[i - 1] == key) {
            return m_values[i - 1];
        }
    }
    return null;
}

bool CJsonValue::Has(const std::string& key) const {
    for (const std::string& member : m_keys) {
        if (member == key) {
            return true;
        }
    }
    return false;
}

CJsonValue CJsonValue::Parse(const std::string& text) {
    return CJsonParser(text).ParseDocument();
}
