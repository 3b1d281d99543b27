#include "tools/asm/names.h"

#include "base/casemap.h"

namespace xb::pcasm {

bool isName(const std::string& text) {
    if (text.empty()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = uint8_t(text[i]);
        bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
        bool digit = (c >= '0' && c <= '9') || c == '$';
        if (!letter && !(digit && i > 0)) return false;
    }
    return true;
}

std::string upperName(const std::string& text) {
    std::string u(text);
    for (char& c : u) c = char(toUpper(uint8_t(c)));
    return u;
}

bool sameWord(const std::string& word, const char* keyword) {
    size_t i = 0;
    for (; i < word.size() && keyword[i]; ++i) {
        char c = word[i];
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
        if (c != keyword[i]) return false;
    }
    return i == word.size() && !keyword[i];
}

}  // namespace xb::pcasm
