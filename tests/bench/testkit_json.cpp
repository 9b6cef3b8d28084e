// A strict reader of the JSON that the program prints, enough to read its
// status report member by member.
#include "testkit.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {
struct JsonReader {
    const std::string &text;
    size_t at;

    void SkipSpace()
    {
        while (at < text.size() && strchr(" \t\r\n", text[at]) != NULL) {
            at++;
        }
    }

    bool Take(const char *word)
    {
        size_t length = strlen(word);
        if (text.compare(at, length, word) != 0) {
            return false;
        }
        at += length;
        return true;
    }

    // escapes of ASCII only: the program writes nothing else
    bool ReadString(std::string &out)
    {
        if (!Take("\"")) {
            return false;
        }
        while (at < text.size() && text[at] != '"') {
            char c = text[at++];
            if (c == '\\') {
                if (at >= text.size() || strchr("\"\\/ntu", text[at]) == NULL) {
                    return false;   // an escape JSON does not have
                }
                char escaped = text[at++];
                if (escaped == 'u' && at + 4 <= text.size()) {
                    c = (char)strtol(text.substr(at, 4).c_str(), NULL, 16);
                    at += 4;
                } else {
                    c = escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
                }
            }
            out += c;
        }
        return Take("\"");
    }

    bool ReadNumber(JsonValue &value)
    {
        const char *start = text.c_str() + at;
        char *end = NULL;
        value.number = strtod(start, &end);
        if (end == start) {
            return false;
        }
        at += end - start;
        value.kind = JsonValue::Number;
        return true;
    }

    template <typename Member>
    bool ReadList(char close, Member readMember)
    {
        SkipSpace();
        if (Take(std::string(1, close).c_str())) {
            return true;
        }
        do {
            SkipSpace();
            if (!readMember()) {
                return false;
            }
            SkipSpace();
        } while (Take(","));
        return Take(std::string(1, close).c_str());
    }

    bool ReadValue(JsonValue &value)
    {
        SkipSpace();
        if (Take("{")) {
            value.kind = JsonValue::Object;
            return ReadList('}', [&] {
                std::pair<std::string, JsonValue> member;
                bool named = ReadString(member.first);
                SkipSpace();
                bool read = named && Take(":") && ReadValue(member.second);
                value.members.push_back(member);
                return read;
            });
        }
        if (Take("[")) {
            value.kind = JsonValue::Array;
            return ReadList(']', [&] {
                value.items.emplace_back();
                return ReadValue(value.items.back());
            });
        }
        if (at < text.size() && text[at] == '"') {
            value.kind = JsonValue::String;
            return ReadString(value.text);
        }
        if (Take("true") || Take("false")) {
            value.kind = JsonValue::Boolean;
            value.boolean = text[at - 1] == 'e' && text[at - 2] == 'u';   // "true", not "false"
            return true;
        }
        if (Take("null")) {
            value.kind = JsonValue::Null;
            return true;
        }
        return ReadNumber(value);
    }
};
}

bool ParseJson(const std::string &text, JsonValue &value)
{
    JsonReader reader = {text, 0};
    value = JsonValue();
    bool read = reader.ReadValue(value);
    reader.SkipSpace();
    return read && reader.at == text.size();
}

const JsonValue &JsonValue::operator[](const char *name) const
{
    static const JsonValue missing;
    for (const std::pair<std::string, JsonValue> &member : members) {
        if (member.first == name) {
            return member.second;
        }
    }
    return missing;
}

const JsonValue &JsonValue::Item(size_t index) const
{
    static const JsonValue missing;
    return index < items.size() ? items[index] : missing;
}

std::string JsonValue::Show() const
{
    char number[32];
    switch (kind) {
    case Null:
        return "null";
    case Boolean:
        return boolean ? "true" : "false";
    case Number:
        snprintf(number, sizeof(number), "%g", this->number);
        return number;
    case String:
        return "\"" + text + "\"";
    case Array:
        return "array of " + std::to_string(items.size());
    case Object:
        return "object";
    default:
        return "<missing>";
    }
}
