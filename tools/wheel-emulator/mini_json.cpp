#include "mini_json.h"

#include <cerrno>
#include <cstdlib>

namespace wheelemu::json {

namespace {
constexpr int kMaxDepth = 32;

class Parser
{
public:
    explicit Parser(const std::string &text) : text_(text) {}

    bool document(Value *out)
    {
        skipSpace();
        if (!value(out, 0))
            return false;
        skipSpace();
        if (pos_ != text_.size())
            return fail("unexpected text after the document");
        return true;
    }

    std::string error() const
    {
        return "line " + std::to_string(errLine_) + ", column " + std::to_string(errColumn_) + ": " + error_;
    }

private:
    bool fail(const std::string &what)
    {
        if (error_.empty()) {
            error_ = what;
            errLine_ = line_;
            errColumn_ = pos_ - lineStart_ + 1;
        }
        return false;
    }

    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[pos_]; }

    void skipSpace()
    {
        while (!atEnd()) {
            const char c = text_[pos_];
            if (c == '\n') {
                ++line_;
                lineStart_ = pos_ + 1;
            } else if (c != ' ' && c != '\t' && c != '\r') {
                return;
            }
            ++pos_;
        }
    }

    bool literal(const char *word)
    {
        const std::string w(word);
        if (text_.compare(pos_, w.size(), w) != 0)
            return fail("unexpected character '" + std::string(1, peek()) + "'");
        pos_ += w.size();
        return true;
    }

    bool value(Value *out, int depth)
    {
        if (depth > kMaxDepth)
            return fail("nested too deeply");
        out->line = line_;
        out->column = pos_ - lineStart_ + 1;
        switch (peek()) {
        case '{':
            return object(out, depth);
        case '[':
            return array(out, depth);
        case '"':
            out->type = Value::Type::String;
            return string(&out->text);
        case 't':
            out->type = Value::Type::Bool;
            out->boolean = true;
            return literal("true");
        case 'f':
            out->type = Value::Type::Bool;
            return literal("false");
        case 'n':
            return literal("null");
        case '\0':
            if (atEnd())
                return fail("unexpected end of input");
            return fail("unexpected character");
        default:
            return number(out);
        }
    }

    bool object(Value *out, int depth)
    {
        out->type = Value::Type::Object;
        ++pos_;
        skipSpace();
        if (peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipSpace();
            if (peek() != '"')
                return fail("expected a key in double quotes");
            std::string key;
            if (!string(&key))
                return false;
            for (const auto &m : out->members)
                if (m.first == key)
                    return fail("key \"" + key + "\" appears twice");
            skipSpace();
            if (peek() != ':')
                return fail("expected ':' after key \"" + key + "\"");
            ++pos_;
            skipSpace();
            Value v;
            if (!value(&v, depth + 1))
                return false;
            out->members.emplace_back(std::move(key), std::move(v));
            skipSpace();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == '}') {
                ++pos_;
                return true;
            }
            return fail("expected ',' or '}'");
        }
    }

    bool array(Value *out, int depth)
    {
        out->type = Value::Type::Array;
        ++pos_;
        skipSpace();
        if (peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipSpace();
            Value v;
            if (!value(&v, depth + 1))
                return false;
            out->items.push_back(std::move(v));
            skipSpace();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == ']') {
                ++pos_;
                return true;
            }
            return fail("expected ',' or ']'");
        }
    }

    static void appendUtf8(std::string *out, uint32_t cp)
    {
        if (cp < 0x80) {
            out->push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    bool hex4(uint32_t *out)
    {
        *out = 0;
        for (int i = 0; i < 4; ++i, ++pos_) {
            const char c = peek();
            uint32_t d;
            if (c >= '0' && c <= '9')
                d = static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                d = static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                d = static_cast<uint32_t>(c - 'A' + 10);
            else
                return fail("\\u needs four hex digits");
            *out = *out << 4 | d;
        }
        return true;
    }

    bool string(std::string *out)
    {
        ++pos_; // opening quote
        for (;;) {
            if (atEnd())
                return fail("string not closed");
            const char c = text_[pos_];
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                return fail("control character in a string (write it as an escape such as \\t)");
            if (c != '\\') {
                out->push_back(c);
                ++pos_;
                continue;
            }
            ++pos_;
            const char e = peek();
            static const char kFrom[] = "\"\\/bfnrt";
            static const char kTo[] = "\"\\/\b\f\n\r\t";
            bool simple = false;
            for (size_t i = 0; kFrom[i]; ++i) {
                if (e == kFrom[i]) {
                    out->push_back(kTo[i]);
                    simple = true;
                }
            }
            if (simple) {
                ++pos_;
                continue;
            }
            if (e != 'u')
                return fail("unknown escape in a string");
            ++pos_;
            uint32_t cp;
            if (!hex4(&cp))
                return false;
            if (cp >= 0xD800 && cp < 0xDC00) {
                uint32_t low;
                if (text_.compare(pos_, 2, "\\u") != 0)
                    return fail("lone surrogate in \\u escape");
                pos_ += 2;
                if (!hex4(&low))
                    return false;
                if (low < 0xDC00 || low >= 0xE000)
                    return fail("lone surrogate in \\u escape");
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            } else if (cp >= 0xDC00 && cp < 0xE000) {
                return fail("lone surrogate in \\u escape");
            }
            appendUtf8(out, cp);
        }
    }

    bool digits()
    {
        const size_t start = pos_;
        while (peek() >= '0' && peek() <= '9')
            ++pos_;
        return pos_ > start;
    }

    bool number(Value *out)
    {
        const size_t start = pos_;
        if (peek() == '-')
            ++pos_;
        if (peek() == '0') {
            ++pos_;
        } else if (!digits()) {
            pos_ = start;
            return fail("unexpected character '" + std::string(1, peek()) + "'");
        }
        if (peek() == '.') {
            ++pos_;
            if (!digits())
                return fail("digits expected after '.'");
        }
        if (peek() == 'e' || peek() == 'E') {
            ++pos_;
            if (peek() == '+' || peek() == '-')
                ++pos_;
            if (!digits())
                return fail("digits expected in the exponent");
        }
        out->type = Value::Type::Number;
        out->text = text_.substr(start, pos_ - start);
        return true;
    }

    const std::string &text_;
    size_t pos_ = 0;
    size_t line_ = 1;
    size_t lineStart_ = 0;
    std::string error_;
    size_t errLine_ = 0, errColumn_ = 0;
};
} // namespace

bool Value::toInteger(int64_t min, int64_t max, int64_t *out) const
{
    if (type != Type::Number || text.find_first_of(".eE") != std::string::npos)
        return false;
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno == ERANGE || *end != '\0' || v < min || v > max)
        return false;
    *out = v;
    return true;
}

bool parse(const std::string &text, Value *out, std::string *error)
{
    Parser p(text);
    Value v;
    if (!p.document(&v)) {
        if (error)
            *error = p.error();
        return false;
    }
    *out = std::move(v);
    return true;
}

std::string quote(const std::string &text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                static const char kHex[] = "0123456789abcdef";
                out += "\\u00";
                out += kHex[(c >> 4) & 0xF];
                out += kHex[c & 0xF];
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

} // namespace wheelemu::json
