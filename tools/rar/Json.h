#pragma once
// A small JSON reader for the listings `lsar -j` prints. The archiver does not link Qt: loading
// Qt Core and ICU costs more than the whole listing on small archives.

#include <string>
#include <vector>

class CJsonValue {
  public:
    enum class Kind { Null, Bool, Number, String, Array, Object };

    Kind GetKind() const { return m_kind; }
    bool IsString() const { return m_kind == Kind::String; }
    bool IsNumber() const { return m_kind == Kind::Number; }
    bool IsArray() const { return m_kind == Kind::Array; }
    bool IsObject() const { return m_kind == Kind::Object; }

    bool Bool() const { return m_bool; }
    double Number() const { return m_number; }
    const std::string& String() const { return m_string; }  // UTF-8
    const std::vector<CJsonValue>& Items() const { return m_items; }
    // The member `key` of an object, or a null value when there is none.
    const CJsonValue& Member(const std::string& key) const;
    bool Has(const std::string& key) const;

    // Reads one JSON text (RFC 8259) with nothing but blanks after it; throws
    // std::invalid_argument naming the offset of the first fault.
    static CJsonValue Parse(const std::string& text);

  private:
    friend class CJsonParser;
    Kind m_kind = Kind::Null;
    bool m_bool = false;
    double m_number = 0;
    std::string m_string;
    std::vector<CJsonValue> m_items;
    // Members in their order; a repeated key keeps its last value.
    std::vector<std::string> m_keys;
    std::vector<CJsonValue> m_values;
};
