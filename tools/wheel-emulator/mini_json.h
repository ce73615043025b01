// Just enough JSON for the wheel's state file: a strict parser that keeps
// numbers as their text (so integers come back exact) and remembers where
// each value stood, and string quoting for the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace wheelemu::json {

struct Value
{
    enum class Type
    {
        Null,
        Bool,
        Number,
        String,
        Array,
        Object
    };
    Type type = Type::Null;
    bool boolean = false;
    std::string text; // a string's contents, or a number's literal
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> members; // in file order
    size_t line = 0, column = 0;

    // An integer within [min, max]: false for fractions, exponents and
    // anything out of range.
    bool toInteger(int64_t min, int64_t max, int64_t *out) const;
};

// Parses a whole document. On failure returns false and sets *error to
// "line L, column C: what".
bool parse(const std::string &text, Value *out, std::string *error);

// The JSON string literal for text, quotes included.
std::string quote(const std::string &text);

} // namespace wheelemu::json
