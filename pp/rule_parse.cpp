// Reading a rule's text: the pattern's literals, match markers and optional
// clauses, then the result's literals, result markers and optional clauses.
#include <cstring>

#include "pp/rules.h"

namespace xb::pp {
namespace {

constexpr int kMaxNesting = 16;

bool isIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool isIdentChar(char c) { return isIdentStart(c) || (c >= '0' && c <= '9'); }

std::string upperOf(const std::string& s) {
    std::string u = s;
    for (char& c : u)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return u;
}

struct Reader {
    const std::string& s;
    size_t p = 0;
    size_t end = 0;
    std::string* error;
    Rule* rule;

    bool skipSpace() {
        bool any = false;
        while (p < end && (s[p] == ' ' || s[p] == '\t' || s[p] == '\r' || s[p] == '\n')) {
            ++p;
            any = true;
        }
        return any;
    }
    bool eat(char c) {
        if (p < end && s[p] == c) {
            ++p;
            return true;
        }
        return false;
    }
    // A name at p (after blanks); empty when none.
    std::string name() {
        skipSpace();
        size_t b = p;
        if (p < end && isIdentStart(s[p]))
            while (p < end && isIdentChar(s[p])) ++p;
        return s.substr(b, p - b);
    }
    int markerIndex(const std::string& n) const {
        std::string u = upperOf(n);
        for (size_t i = 0; i < rule->markers.size(); ++i)
            if (rule->markers[i] == u) return int(i);
        return -1;
    }
    int depthNow = 0;
    int addMarker(const std::string& n) {
        int i = markerIndex(n);
        if (i >= 0) {
            if (depthNow > 0) rule->optionalMarker[size_t(i)] = true;
            return i;
        }
        rule->markers.push_back(upperOf(n));
        rule->optionalMarker.push_back(depthNow > 0);
        rule->listMarker.push_back(false);
        return int(rule->markers.size() - 1);
    }
    bool fail(const std::string& m) {
        if (error->empty()) *error = m;
        return false;
    }
    // A literal token at p (an escaped byte after '\' taken as it is).
    bool literal(bool space, Token* t) {
        if (s[p] == '\\' && p + 1 < end) {
            t->text = s.substr(p + 1, 1);
            t->kind = TK_OP;
            t->space = space;
            p += 2;
            return true;
        }
        size_t q = p;
        if (lexOne(s, &q, LexMode::Rule, nullptr, t) && q <= end) {
            t->space = space;
            p = q;
            return true;
        }
        // A token running past the end of this part (into "=>"): read the
        // part alone.
        std::string piece = s.substr(p, end - p);
        q = 0;
        if (!lexOne(piece, &q, LexMode::Rule, nullptr, t)) return false;
        t->space = space;
        p += q;
        return true;
    }

    // Pattern marker after '<' (p just past it). False (p unchanged) when
    // the text is not a marker; then '<' is a literal.
    bool patternMarker(PatElem* e) {
        size_t save = p;
        skipSpace();
        e->kind = PatElem::MARKER;
        if (eat('*')) {
            std::string n = name();
            skipSpace();
            if (!n.empty() && eat('*') && (skipSpace(), eat('>'))) {
                e->match = MK_WILD;
                e->marker = addMarker(n);
                return true;
            }
        } else if (eat('(')) {
            std::string n = name();
            skipSpace();
            if (!n.empty() && eat(')') && (skipSpace(), eat('>'))) {
                e->match = MK_EXTENDED;
                e->marker = addMarker(n);
                return true;
            }
        } else {
            std::string n = name();
            skipSpace();
            if (!n.empty()) {
                if (eat('>')) {
                    e->match = MK_REGULAR;
                    e->marker = addMarker(n);
                    return true;
                }
                if (eat(',')) {
                    skipSpace();
                    if (s.compare(p, 3, "...") == 0) {
                        p += 3;
                        skipSpace();
                        if (eat('>')) {
                            e->match = MK_LIST;
                            e->marker = addMarker(n);
                            rule->listMarker[size_t(e->marker)] = true;
                            return true;
                        }
                    }
                } else if (eat(':')) {
                    size_t close = s.find('>', p);
                    if (close != std::string::npos && close < end) {
                        std::string list = s.substr(p, close - p);
                        size_t b = 0;
                        while (b <= list.size()) {
                            size_t c = list.find(',', b);
                            if (c == std::string::npos) c = list.size();
                            Tokens w = lex(list.substr(b, c - b), LexMode::Rule);
                            if (!w.empty()) e->words.push_back(w);
                            b = c + 1;
                        }
                        if (e->words.empty()) {
                            fail("restricted marker <" + n + ":> lists no word");
                            return false;
                        }
                        p = close + 1;
                        e->match = MK_RESTRICTED;
                        e->marker = addMarker(n);
                        return true;
                    }
                }
            }
        }
        p = save;
        e->kind = PatElem::LITERAL;
        return false;
    }

    bool pattern(std::vector<PatElem>* out, int depth) {
        if (depth > kMaxNesting) return fail("optional clauses nested too deeply");
        depthNow = depth;
        for (;;) {
            depthNow = depth;
            bool space = skipSpace();
            if (p >= end) {
                if (depth > 0) return fail("'[' without its ']' in the rule's pattern");
                return true;
            }
            PatElem e;
            char c = s[p];
            if (c == '[') {
                ++p;
                e.kind = PatElem::OPTIONAL;
                if (!pattern(&e.inner, depth + 1)) return false;
                if (e.inner.empty()) return fail("empty optional clause in the rule's pattern");
                out->push_back(std::move(e));
                continue;
            }
            if (c == ']') {
                if (depth == 0) return fail("']' without its '[' in the rule's pattern");
                ++p;
                return true;
            }
            if (c == '<') {
                ++p;
                if (patternMarker(&e)) {
                    out->push_back(std::move(e));
                    continue;
                }
                if (!error->empty()) return false;
                --p;
            }
            e.kind = PatElem::LITERAL;
            if (!literal(space, &e.tok)) return true;
            out->push_back(std::move(e));
        }
    }

    // Result marker at p ('<' or '#'); false (p unchanged) when none.
    bool resultMarker(ResElem* e) {
        size_t save = p;
        e->kind = ResElem::MARKER;
        auto done = [&](ResultKind k, const std::string& n) {
            int m = markerIndex(n);
            if (m < 0) return false;
            e->marker = m;
            e->result = k;
            return true;
        };
        if (eat('#')) {
            skipSpace();
            if (eat('<')) {
                std::string n = name();
                skipSpace();
                if (eat('>') && done(RK_DUMB, n)) return true;
            }
        } else if (eat('<')) {
            skipSpace();
            struct Form {
                char open, close;
                ResultKind kind;
            };
            static const Form forms[] = {
                {'"', '"', RK_NORMAL}, {'(', ')', RK_SMART}, {'{', '}', RK_BLOCK}, {'.', '.', RK_LOGIFY}};
            bool matched = false;
            for (const Form& f : forms) {
                if (!eat(f.open)) continue;
                std::string n = name();
                skipSpace();
                if (eat(f.close) && (skipSpace(), eat('>')) && done(f.kind, n)) return true;
                matched = true;
                break;
            }
            if (!matched) {
                std::string n = name();
                skipSpace();
                if (eat('>') && done(RK_REGULAR, n)) return true;
            }
        }
        p = save;
        e->kind = ResElem::LITERAL;
        return false;
    }

    bool result(std::vector<ResElem>* out, int depth) {
        if (depth > kMaxNesting) return fail("optional clauses nested too deeply");
        for (;;) {
            bool space = skipSpace();
            if (p >= end) {
                if (depth > 0) return fail("'[' without its ']' in the rule's result");
                return true;
            }
            ResElem e;
            char c = s[p];
            if (c == '[') {
                ++p;
                e.kind = ResElem::OPTIONAL;
                e.tok.space = space;
                if (!result(&e.inner, depth + 1)) return false;
                out->push_back(std::move(e));
                continue;
            }
            if (c == ']') {
                if (depth == 0) return fail("']' without its '[' in the rule's result");
                ++p;
                return true;
            }
            if ((c == '<' || c == '#') && resultMarker(&e)) {
                e.tok.space = space;
                out->push_back(std::move(e));
                continue;
            }
            e.kind = ResElem::LITERAL;
            if (!literal(space, &e.tok)) return true;
            out->push_back(std::move(e));
        }
    }
};

// Where "=>" separates pattern and result: the first one outside strings
// and not escaped.
size_t arrowAt(const std::string& s) {
    char quote = 0;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        char c = s[i];
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '\\') {
            ++i;
            continue;
        }
        if (c == '"' || c == '\'') quote = c;
        else if (c == '=' && s[i + 1] == '>') return i;
    }
    return std::string::npos;
}

}  // namespace

bool parseRule(const std::string& text, bool command, bool exact, Rule* out, std::string* error) {
    *out = Rule{};
    out->command = command;
    out->exact = exact;
    error->clear();
    size_t arrow = arrowAt(text);
    if (arrow == std::string::npos) {
        *error = "rule without '=>'";
        return false;
    }
    Reader r{text, 0, arrow, error, out};
    if (!r.pattern(&out->pattern, 0)) return false;
    if (out->pattern.empty()) {
        *error = "rule with an empty pattern";
        return false;
    }
    if (out->pattern[0].kind != PatElem::LITERAL) {
        *error = "a rule's pattern must start with a word or symbol";
        return false;
    }
    Reader w{text, arrow + 2, text.size(), error, out};
    return w.result(&out->result, 0);
}

}  // namespace xb::pp
