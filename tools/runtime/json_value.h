// A small JSON reader for settings files of the runtime's default.vrsettings form: one object
// per section, each holding plain values. Numbers keep whether they were written as integers.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quillo::runtime {

class JsonValue {
  public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    JsonValue() = default;
    static JsonValue MakeBool(bool value);
    static JsonValue MakeNumber(double value, bool integral);
    static JsonValue MakeString(std::string value);
    static JsonValue MakeArray();
    static JsonValue MakeObject();

    Type type() const { return type_; }
    bool isNull() const { return type_ == Type::Null; }
    bool isBool() const { return type_ == Type::Bool; }
    bool isNumber() const { return type_ == Type::Number; }
    bool isString() const { return type_ == Type::String; }
    bool isArray() const { return type_ == Type::Array; }
    bool isObject() const { return type_ == Type::Object; }

    bool asBool() const { return bool_; }
    double asNumber() const { return number_; }
    // Whether the number was written without fraction or exponent.
    bool isIntegral() const { return integral_; }
    const std::string& asString() const { return string_; }
    const std::vector<JsonValue>& items() const { return items_; }
    // Members in the order they were written; a key written twice keeps its last value.
    const std::vector<std::pair<std::string, JsonValue>>& members() const { return members_; }
    // Null when absent or when this is not an object.
    const JsonValue* Find(const std::string& key) const;

    void Append(JsonValue value) { items_.push_back(std::move(value)); }
    void Set(const std::string& key, JsonValue value);

  private:
    Type type_ = Type::Null;
    bool bool_ = false;
    double number_ = 0.0;
    bool integral_ = false;
    std::string string_;
    std::vector<JsonValue> items_;
    std::vector<std::pair<std::string, JsonValue>> members_;
};

// Parses one JSON document (RFC 8259; // and /* */ comments are accepted as the runtime's own
// settings files sometimes carry them). On failure returns false with "line L, column C:
// reason" in `error`.
bool ParseJson(const std::string& text, JsonValue& out, std::string& error);

}  // namespace quillo::runtime
