#include "json_value.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quillo::runtime {

JsonValue JsonValue::MakeBool(bool value) {
    JsonValue v;
    v.type_ = Type::Bool;
    v.bool_ = value;
    return v;
}

JsonValue JsonValue::MakeNumber(double value, bool integral) {
    JsonValue v;
    v.type_ = Type::Number;
    v.number_ = value;
    v.integral_ = integral;
    return v;
}

JsonValue JsonValue::MakeString(std::string value) {
    JsonValue v;
    v.type_ = Type::String;
    v.string_ = std::move(value);
    return v;
}

JsonValue JsonValue::MakeArray() {
    JsonValue v;
    v.type_ = Type::Array;
    return v;
}

JsonValue JsonValue::MakeObject() {
    JsonValue v;
    v.type_ = Type::Object;
    return v;
}

const JsonValue* JsonValue::Find(const std::string& key) const {
    for (const auto& member : members_) {
        if (member.first == key) {
            return &member.second;
        }
    }
    return nullptr;
}

void JsonValue::Set(const std::string& key, JsonValue value) {
    for (auto& member : members_) {
        if (member.first == key) {
            member.second = std::move(value);
            return;
        }
    }
    members_.emplace_back(key, std::move(value));
}

namespace {

// Deep nesting would otherwise recurse without bound on hostile input.
constexpr int kMaxDepth = 64;

class Parser {
  public:
    explicit Parser(const std::string& text) : text_(text) {}

    bool Document(JsonValue& out, std::string& error) {
        bool ok = SkipSpace() && Value(out, 0);
        if (ok) {
            ok = SkipSpace();
            if (ok && pos_ != text_.size()) {
                ok = Fail("unexpected text after the document");
            }
        }
        if (!ok) {
            error = Where() + message_;
        }
        return ok;
    }

  private:
    bool Fail(const char* message) {
        if (message_.empty()) {
            message_ = message;
        }
        return false;
    }

    std::string Where() const {
        size_t line = 1, column = 1;
        for (size_t i = 0; i < pos_ && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": ";
    }

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

    bool SkipSpace() {
        while (!AtEnd()) {
            char c = text_[pos_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
                ++pos_;
            } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/') {
                while (!AtEnd() && text_[pos_] != '\n') ++pos_;
            } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '*') {
                size_t end = text_.find("*/", pos_ + 2);
                if (end == std::string::npos) {
                    return Fail("comment not closed");
                }
                pos_ = end + 2;
            } else {
                break;
            }
        }
        return true;
    }

    bool Literal(const char* word) {
        size_t length = std::strlen(word);
        if (text_.compare(pos_, length, word) != 0) {
            return Fail("unknown literal");
        }
        pos_ += length;
        return true;
    }

    bool Value(JsonValue& out, int depth) {
        if (depth > kMaxDepth) {
            return Fail("nested too deeply");
        }
        switch (Peek()) {
            case '{':
                return Object(out, depth);
            case '[':
                return Array(out, depth);
            case '"': {
                std::string s;
                if (!String(s)) return false;
                out = JsonValue::MakeString(std::move(s));
                return true;
            }
            case 't':
                out = JsonValue::MakeBool(true);
                return Literal("true");
            case 'f':
                out = JsonValue::MakeBool(false);
                return Literal("false");
            case 'n':
                out = JsonValue();
                return Literal("null");
            case '\0':
                return Fail("unexpected end of text");
            default:
                return Number(out);
        }
    }

    bool Object(JsonValue& out, int depth) {
        out = JsonValue::MakeObject();
        ++pos_;  // {
        if (!SkipSpace()) return false;
        if (Peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            if (Peek() != '"') return Fail("expected a member name");
            std::string key;
            if (!String(key) || !SkipSpace()) return false;
            if (Peek() != ':') return Fail("expected ':'");
            ++pos_;
            JsonValue value;
            if (!SkipSpace() || !Value(value, depth + 1) || !SkipSpace()) return false;
            out.Set(key, std::move(value));
            if (Peek() == ',') {
                ++pos_;
                if (!SkipSpace()) return false;
                continue;
            }
            if (Peek() == '}') {
                ++pos_;
                return true;
            }
            return Fail("expected ',' or '}'");
        }
    }

    bool Array(JsonValue& out, int depth) {
        out = JsonValue::MakeArray();
        ++pos_;  // [
        if (!SkipSpace()) return false;
        if (Peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            JsonValue value;
            if (!Value(value, depth + 1) || !SkipSpace()) return false;
            out.Append(std::move(value));
            if (Peek() == ',') {
                ++pos_;
                if (!SkipSpace()) return false;
                continue;
            }
            if (Peek() == ']') {
                ++pos_;
                return true;
            }
            return Fail("expected ',' or ']'");
        }
    }

    bool Hex4(uint32_t& value) {
        if (pos_ + 4 > text_.size()) return Fail("short \\u escape");
        value = 0;
        for (int i = 0; i < 4; ++i) {
            char c = text_[pos_++];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return Fail("bad hex digit in \\u escape");
        }
        return true;
    }

    static void AppendUtf8(std::string& s, uint32_t cp) {
        if (cp < 0x80) {
            s += static_cast<char>(cp);
        } else if (cp < 0x800) {
            s += static_cast<char>(0xC0 | (cp >> 6));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            s += static_cast<char>(0xE0 | (cp >> 12));
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (cp >> 18));
            s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool String(std::string& out) {
        ++pos_;  // opening quote
        for (;;) {
            if (AtEnd()) return Fail("string not closed");
            char c = text_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (AtEnd()) return Fail("string not closed");
            char e = text_[pos_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
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
                    uint32_t cp = 0;
                    if (!Hex4(cp)) return false;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        uint32_t low = 0;
                        if (text_.compare(pos_, 2, "\\u") != 0) return Fail("lone surrogate");
                        pos_ += 2;
                        if (!Hex4(low)) return false;
                        if (low < 0xDC00 || low > 0xDFFF) return Fail("lone surrogate");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        return Fail("lone surrogate");
                    }
                    AppendUtf8(out, cp);
                    break;
                }
                default:
                    return Fail("unknown escape");
            }
        }
    }

    bool Number(JsonValue& out) {
        size_t start = pos_;
        bool integral = true;
        if (Peek() == '-') ++pos_;
        if (Peek() == '0') {
            ++pos_;
        } else if (Peek() >= '1' && Peek() <= '9') {
            while (Peek() >= '0' && Peek() <= '9') ++pos_;
        } else {
            return Fail("unexpected character");
        }
        if (Peek() == '.') {
            integral = false;
            ++pos_;
            if (!(Peek() >= '0' && Peek() <= '9')) return Fail("digit expected after '.'");
            while (Peek() >= '0' && Peek() <= '9') ++pos_;
        }
        if (Peek() == 'e' || Peek() == 'E') {
            integral = false;
            ++pos_;
            if (Peek() == '+' || Peek() == '-') ++pos_;
            if (!(Peek() >= '0' && Peek() <= '9')) return Fail("digit expected in exponent");
            while (Peek() >= '0' && Peek() <= '9') ++pos_;
        }
        std::string literal = text_.substr(start, pos_ - start);
        errno = 0;
        // strtod follows the C locale's decimal point, which is '.' unless a program changed it;
        // the tools here never do.
        double value = std::strtod(literal.c_str(), nullptr);
        out = JsonValue::MakeNumber(value, integral);
        return true;
    }

    const std::string& text_;
    size_t pos_ = 0;
    std::string message_;
};

}  // namespace

bool ParseJson(const std::string& text, JsonValue& out, std::string& error) {
    Parser parser(text);
    JsonValue value;
    if (!parser.Document(value, error)) {
        return false;
    }
    out = std::move(value);
    return true;
}

}  // namespace quillo::runtime
