// Names in assembler text: symbol, module and label names, and the module's
// symbol declarations that procedures refer to.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace xb::pcasm {

// Letters (ASCII or Windows-1252 above 127), digits, '_' and '$', not
// starting with a digit or '$'.
bool isName(const std::string& text);
// Upper-cased with the runtime's case map, as module tables hold names.
std::string upperName(const std::string& text);
// Keyword comparison: word against a lower-case keyword, ignoring ASCII case.
bool sameWord(const std::string& word, const char* keyword);

struct SymbolDecl {
    std::string name;  // upper case
    uint8_t scope;
    bool isProc;
    uint32_t line;
};

// The `symbol` lines in table order; entry n is decls[n - 1].
struct SymbolTable {
    std::vector<SymbolDecl> decls;
    std::unordered_map<std::string, uint16_t> byName;  // upper-case name -> entry number

    // Entry number of the name, 0 when undeclared.
    uint16_t find(const std::string& upper) const {
        auto it = byName.find(upper);
        return it == byName.end() ? 0 : it->second;
    }
    uint32_t count() const { return uint32_t(decls.size() + 1); }
};

}  // namespace xb::pcasm
