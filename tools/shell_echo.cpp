// The shell's readable form of a value (see shell_echo.h).
#include "tools/shell_echo.h"

#include <vector>

#include "runtime/display.h"

namespace xb::shell {

namespace {

constexpr int MAX_DEPTH = 8;

std::string shown(const Item* v) {
    DisplayText t = displayText(v);
    return std::string(t.text, t.length);
}

std::string trimmed(std::string s) {
    size_t a = s.find_first_not_of(' ');
    return a == std::string::npos ? std::string() : s.substr(a);
}

void element(const Item* v, int depth, std::vector<const void*>* open, std::string* out) {
    if (v->type & T_ARRAY) {
        const void* body = arrayItems(v);
        for (const void* o : *open)
            if (o == body) {
                *out += "{...}";
                return;
            }
        if (depth >= MAX_DEPTH) {
            *out += "{...}";
            return;
        }
        open->push_back(body);
        *out += "{";
        uint32_t n = arrayLength(v);
        for (uint32_t i = 0; i < n; ++i) {
            if (i) *out += ", ";
            element(&arrayItems(v)[i], depth + 1, open, out);
        }
        *out += "}";
        open->pop_back();
    } else if (v->type & T_BLOCK) {
        *out += "{|| ...}";
    } else if (v->type & T_STRING) {
        *out += "\"" + shown(v) + "\"";
    } else if (v->type == T_NIL) {
        *out += "NIL";
    } else {
        *out += trimmed(shown(v));
    }
}

}  // namespace

std::string echoText(const Item* value) {
    if (!(value->type & (T_ARRAY | T_BLOCK))) return shown(value);
    std::vector<const void*> open;
    std::string out;
    element(value, 0, &open, &out);
    return out;
}

}  // namespace xb::shell
