// The translation rules of #command, #xcommand, #translate and #xtranslate:
// their parsed form, how a rule is read from its directive text, and how it
// is matched against tokens and turned into its result.
//
// Owners: a Rule owns its pattern and result; matching reads the tokens and
// writes only the output it is given.
#pragma once
#include <string>
#include <vector>

#include "pp/lex.h"

namespace xb::pp {

// Match markers: <x> <x,...> <x: W1, W2> <*x*> <(x)>.
enum MatchKind : uint8_t { MK_REGULAR, MK_LIST, MK_RESTRICTED, MK_WILD, MK_EXTENDED };
// Result markers: <x> #<x> <"x"> <(x)> <{x}> <.x.>.
enum ResultKind : uint8_t { RK_REGULAR, RK_DUMB, RK_NORMAL, RK_SMART, RK_BLOCK, RK_LOGIFY };

struct PatElem {
    enum Kind : uint8_t { LITERAL, MARKER, OPTIONAL } kind = LITERAL;
    Token tok;                  // LITERAL
    int marker = -1;            // MARKER: index into Rule::markers
    MatchKind match = MK_REGULAR;
    std::vector<Tokens> words;  // MK_RESTRICTED: the words allowed
    std::vector<PatElem> inner; // OPTIONAL
};

struct ResElem {
    enum Kind : uint8_t { LITERAL, MARKER, OPTIONAL } kind = LITERAL;
    Token tok;                   // LITERAL; for MARKER only its space flag counts
    int marker = -1;
    ResultKind result = RK_REGULAR;
    std::vector<ResElem> inner;  // OPTIONAL
};

struct Rule {
    bool command = false;  // #command forms match a whole statement, #translate forms anywhere
    bool exact = false;    // #x forms: keywords in full; otherwise four letters are enough
    std::string origin;    // "#command USE" (directive and first word), for messages
    std::vector<std::string> markers;  // names, upper case
    std::vector<bool> optionalMarker;  // per marker: it stands inside an optional clause of the pattern
    std::vector<bool> listMarker;      // per marker: it is a list marker <x,...>
    std::vector<PatElem> pattern;
    std::vector<ResElem> result;
};

// Reads "pattern => result". False with *error set when the text is not a
// rule (no "=>", an empty pattern, unbalanced brackets, a marker without a
// name, optional clauses nested too deeply).
bool parseRule(const std::string& text, bool command, bool exact, Rule* out, std::string* error);

// Does keyword (from a rule) accept word (from the source)? Without regard
// to case; unless exact, the first four letters of a longer keyword do.
bool keywordMatches(const Token& keyword, const Token& word, bool exact);

// Work allowed to one line's matching before it gives up (a bound on rules
// whose optional clauses would make matching take very long).
struct MatchBudget {
    long steps = 200000;
    bool exhausted = false;
};

// Tries the rule on in[from, end). A command must take every token up to
// end; a translation takes a prefix of at least one token. On a match the
// result replaces nothing yet: *taken is one past the last token used and
// *result holds the result's tokens.
bool applyRule(const Rule& rule, const Tokens& in, size_t from, size_t end, MatchBudget* budget, size_t* taken,
               Tokens* result);

// Text in quotes that read back as the text itself ("...", '...' or [...]).
std::string quoteText(const std::string& s);

}  // namespace xb::pp
