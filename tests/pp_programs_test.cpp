// The programs in tests/programs written in commands: until they run end to
// end, at least every command in them must become a call and nothing may be
// reported.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "pp/preprocess.h"

namespace {

std::string readSource(const std::string& name) {
    std::ifstream f(std::string(XB_SOURCE_DIR) + "/tests/programs/" + name, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string firstWord(const std::string& text) {
    size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = b;
    while (e < text.size() && (isalnum(static_cast<unsigned char>(text[e])) || text[e] == '_')) ++e;
    std::string w = text.substr(b, e - b);
    for (char& c : w) c = char(toupper(static_cast<unsigned char>(c)));
    return w;
}

}  // namespace

TEST(PpPrograms, EveryCommandBecomesACall) {
    const char* programs[] = {"cmd_customers.prg", "cmd_csv.prg", "cmd_rules.prg"};
    const char* commandWords[] = {"USE",   "INDEX",  "SEEK",  "REPLACE", "APPEND", "DELETE", "PACK",
                                  "COPY",  "COUNT",  "SUM",   "AVERAGE", "GO",     "SKIP",   "LOCATE",
                                  "CLOSE", "SET",    "STORE", "SAY",     "SHOW",   "ZAP",    "CONTINUE",
                                  "RECALL"};
    for (const char* name : programs) {
        std::string text = readSource(name);
        ASSERT_FALSE(text.empty()) << name;
        xb::pp::Options o;
        std::vector<xb::pp::Line> lines;
        std::vector<xb::pp::Diagnostic> diags;
        EXPECT_TRUE(xb::pp::preprocess(text, name, o, &lines, &diags)) << name;
        EXPECT_TRUE(diags.empty()) << name << ": " << (diags.empty() ? "" : xb::pp::formatDiagnostic(diags[0]));
        int expanded = 0;
        for (const xb::pp::Line& l : lines) {
            expanded += l.expanded;
            if (l.expanded) continue;
            std::string w = firstWord(l.text);
            for (const char* c : commandWords) EXPECT_NE(w, c) << name << ":" << l.line << ": " << l.text;
        }
        EXPECT_GT(expanded, 10) << name;
    }
}
