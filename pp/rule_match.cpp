// Matching a rule's pattern against a statement's tokens and writing its
// result. Matching is greedy and does not go back: a marker takes the
// longest expression it can, a run of optional clauses is tried again and
// again (clauses that start with a keyword before clauses that start with a
// marker) until none of them matches, and a marker inside an optional clause
// keeps every match it makes, so the result's optional clauses can repeat.
#include <cstring>

#include "pp/rules.h"

namespace xb::pp {
namespace {

constexpr size_t npos = size_t(-1);

// One match of a marker: its items (several for a list marker).
using Match = std::vector<Tokens>;

bool isBinaryOp(const Token& t) {
    static const char* const ops[] = {"+",  "-",  "*",  "/",  "%",  "^",  "**", "=",     "==",   "!=", "<>",
                                      "#",  "<",  ">",  "<=", ">=", "$",  ":=", "+=",    "-=",   "*=", "/=",
                                      "%=", "^=", "**=", "|", nullptr};
    if (t.kind != TK_OP) return false;
    if (sameText(t.text, ".AND.") || sameText(t.text, ".OR.")) return true;
    for (const char* const* o = ops; *o; ++o)
        if (t.text == *o) return true;
    return false;
}

bool isPrefixOp(const Token& t) {
    if (t.kind != TK_OP) return false;
    return t.text == "-" || t.text == "+" || t.text == "!" || t.text == "@" || t.text == "++" || t.text == "--" ||
           sameText(t.text, ".NOT.");
}

const char* closerOf(const std::string& t) {
    if (t == "(") return ")";
    if (t == "[") return "]";
    if (t == "{") return "}";
    return nullptr;
}

struct Matcher {
    const Rule& rule;
    const Tokens& in;
    size_t end;
    MatchBudget* budget;
    std::vector<std::vector<Match>> values;

    bool spend() {
        if (budget->steps <= 0) {
            budget->exhausted = true;
            return false;
        }
        --budget->steps;
        return true;
    }

    // Index after the bracket group opening at i, npos when it does not close.
    size_t group(size_t i) const {
        std::vector<const char*> want;
        for (size_t k = i; k < end; ++k) {
            const Token& t = in[k];
            if (t.kind != TK_OP) continue;
            if (const char* c = closerOf(t.text)) {
                want.push_back(c);
            } else if (t.text == ")" || t.text == "]" || t.text == "}") {
                if (want.empty() || t.text != want.back()) return npos;
                want.pop_back();
                if (want.empty()) return k + 1;
            }
        }
        return npos;
    }

    bool isStop(const Token& t, const std::vector<const Token*>& stops) const {
        for (const Token* s : stops)
            if (keywordMatches(*s, t, rule.exact)) return true;
        return false;
    }

    size_t operand(size_t i) const {
        while (i < end && isPrefixOp(in[i])) ++i;
        if (i >= end) return npos;
        const Token& t = in[i];
        if (t.kind == TK_IDENT || t.kind == TK_NUMBER || t.kind == TK_STRING || t.kind == TK_LOGICAL ||
            t.kind == TK_MACRO) {
            ++i;
        } else if (t.text == "(" || t.text == "{") {
            i = group(i);
        } else if (t.text == "&" && i + 1 < end && in[i + 1].text == "(") {
            i = group(i + 1);
        } else if (t.text == "::") {
            ++i;
            if (i < end && in[i].kind == TK_IDENT) ++i;
        } else {
            return npos;
        }
        // Calls, subscripts, messages, aliased expressions, postfix steps.
        while (i != npos && i < end) {
            const Token& n = in[i];
            if (n.kind != TK_OP) break;
            if (n.text == "(" || n.text == "[") {
                i = group(i);
            } else if (n.text == ":" && i + 1 < end && (in[i + 1].kind == TK_IDENT || in[i + 1].kind == TK_MACRO)) {
                i += 2;
            } else if (n.text == "->" && i + 1 < end) {
                const Token& a = in[i + 1];
                if (a.kind == TK_IDENT || a.kind == TK_MACRO) i += 2;
                else if (a.text == "(") i = group(i + 1);
                else return npos;
            } else if (n.text == "++" || n.text == "--") {
                ++i;
            } else {
                break;
            }
        }
        return i;
    }

    // An expression from i; npos when there is none. It does not start with
    // a keyword the pattern expects next and stops before such a symbol.
    size_t expression(size_t i, const std::vector<const Token*>& stops) const {
        if (i >= end || isStop(in[i], stops)) return npos;
        i = operand(i);
        while (i != npos && i < end && isBinaryOp(in[i]) && !isStop(in[i], stops)) i = operand(i + 1);
        return i;
    }

    size_t list(size_t i, const std::vector<const Token*>& stops, Match* m) const {
        for (;;) {
            size_t j = expression(i, stops);
            if (j == npos) return npos;
            m->push_back(Tokens(in.begin() + long(i), in.begin() + long(j)));
            if (j < end && in[j].text == "," && in[j].kind == TK_OP) {
                size_t k = expression(j + 1, stops);
                if (k == npos) return j;
                i = j + 1;
                continue;
            }
            return j;
        }
    }

    // A name written as it is (contiguous tokens), or an expression in
    // brackets, a string, a macro.
    size_t extended(size_t i, const std::vector<const Token*>& stops) const {
        if (i >= end || isStop(in[i], stops)) return npos;
        const Token& t = in[i];
        if (t.text == "(" || t.kind == TK_STRING || t.kind == TK_MACRO || (t.text == "&" && i + 1 < end))
            return expression(i, stops);
        if (t.kind == TK_OP && (t.text == "," || t.text == ")" || t.text == "]" || t.text == "}")) return npos;
        size_t j = i + 1;
        while (j < end && !in[j].space && !(in[j].kind == TK_OP && in[j].text == ",")) ++j;
        return j;
    }

    size_t restricted(size_t i, const PatElem& e) const {
        if (i >= end) return npos;
        for (const Tokens& w : e.words) {
            if (w.size() == 1 && w[0].text == "&") {
                if (in[i].kind == TK_MACRO) return i + 1;
                if (in[i].text == "&" && i + 1 < end && in[i + 1].text == "(") return group(i + 1);
                continue;
            }
            size_t k = 0;
            while (k < w.size() && i + k < end && keywordMatches(w[k], in[i + k], rule.exact)) ++k;
            if (k == w.size()) return i + k;
        }
        return npos;
    }

    size_t wild(size_t i, const std::vector<const Token*>& stops) const {
        if (stops.empty()) return end;
        int depth = 0;
        for (size_t k = i; k < end; ++k) {
            const Token& t = in[k];
            if (t.kind == TK_OP && closerOf(t.text)) ++depth;
            else if (t.kind == TK_OP && (t.text == ")" || t.text == "]" || t.text == "}")) --depth;
            else if (depth <= 0 && isStop(t, stops)) return k;
        }
        return end;
    }

    static void firstLiterals(const std::vector<PatElem>& els, std::vector<const Token*>* out) {
        for (const PatElem& e : els) {
            if (e.kind == PatElem::LITERAL) {
                out->push_back(&e.tok);
                return;
            }
            if (e.kind == PatElem::MARKER) return;
            firstLiterals(e.inner, out);
        }
    }

    // The symbols that may follow position k of els.
    static std::vector<const Token*> follow(const std::vector<PatElem>& els, size_t k,
                                            const std::vector<const Token*>& outer) {
        std::vector<const Token*> f;
        for (; k < els.size(); ++k) {
            const PatElem& e = els[k];
            if (e.kind == PatElem::LITERAL) {
                f.push_back(&e.tok);
                return f;
            }
            if (e.kind == PatElem::MARKER) return f;
            firstLiterals(e.inner, &f);
        }
        f.insert(f.end(), outer.begin(), outer.end());
        return f;
    }

    static bool startsWithWord(const PatElem& clause) {
        const PatElem& first = clause.inner[0];
        return first.kind == PatElem::LITERAL || (first.kind == PatElem::MARKER && first.match == MK_RESTRICTED);
    }

    std::vector<size_t> mark() const {
        std::vector<size_t> m(values.size());
        for (size_t i = 0; i < values.size(); ++i) m[i] = values[i].size();
        return m;
    }
    void restore(const std::vector<size_t>& m) {
        for (size_t i = 0; i < values.size(); ++i) values[i].resize(m[i]);
    }

    bool sequence(const std::vector<PatElem>& els, size_t* pos, const std::vector<const Token*>& outer) {
        size_t i = *pos;
        for (size_t k = 0; k < els.size(); ++k) {
            if (!spend()) return false;
            const PatElem& e = els[k];
            if (e.kind == PatElem::OPTIONAL) {
                size_t last = k;
                while (last + 1 < els.size() && els[last + 1].kind == PatElem::OPTIONAL) ++last;
                std::vector<const PatElem*> order;
                for (size_t c = k; c <= last; ++c)
                    if (startsWithWord(els[c])) order.push_back(&els[c]);
                for (size_t c = k; c <= last; ++c)
                    if (!startsWithWord(els[c])) order.push_back(&els[c]);
                std::vector<const Token*> after = follow(els, last + 1, outer);
                std::vector<const Token*> inside = after;
                for (size_t c = k; c <= last; ++c) firstLiterals(els[c].inner, &inside);
                bool progress = true;
                while (progress && i < end) {
                    progress = false;
                    for (const PatElem* c : order) {
                        std::vector<size_t> saved = mark();
                        size_t j = i;
                        if (sequence(c->inner, &j, inside) && j > i) {
                            i = j;
                            progress = true;
                            break;
                        }
                        restore(saved);
                        if (budget->exhausted) return false;
                    }
                }
                k = last;
                continue;
            }
            if (e.kind == PatElem::LITERAL) {
                if (i >= end || !keywordMatches(e.tok, in[i], rule.exact)) return false;
                ++i;
                continue;
            }
            std::vector<const Token*> stops = follow(els, k + 1, outer);
            Match m;
            size_t j = npos;
            switch (e.match) {
                case MK_REGULAR:
                    j = expression(i, stops);
                    break;
                case MK_LIST:
                    j = list(i, stops, &m);
                    break;
                case MK_RESTRICTED:
                    j = restricted(i, e);
                    break;
                case MK_WILD:
                    j = wild(i, stops);
                    break;
                case MK_EXTENDED:
                    j = extended(i, stops);
                    break;
            }
            if (j == npos) return false;
            if (e.match != MK_LIST) m.push_back(Tokens(in.begin() + long(i), in.begin() + long(j)));
            values[size_t(e.marker)].push_back(std::move(m));
            i = j;
        }
        *pos = i;
        return true;
    }
};

// ---- results ----

void append(Tokens* out, Tokens t, bool space) {
    if (t.empty()) return;
    t[0].space = space;
    for (Token& x : t) out->push_back(std::move(x));
}

Token stringToken(const std::string& s, bool space) {
    Token t;
    t.text = quoteText(s);
    t.kind = TK_STRING;
    t.space = space;
    return t;
}

bool wholeGroup(const Tokens& item) {
    if (item.empty() || item[0].text != "(" || item[0].kind != TK_OP) return false;
    int depth = 0;
    for (size_t k = 0; k < item.size(); ++k) {
        const Token& t = item[k];
        if (t.kind != TK_OP) continue;
        if (closerOf(t.text)) ++depth;
        else if (t.text == ")" || t.text == "]" || t.text == "}") {
            if (--depth == 0 && k + 1 != item.size()) return false;
        }
    }
    return depth == 0;
}

// <(x)>: a name becomes a string; an expression in brackets, a string or a
// number stays as it is; a macro gives the variable (or expression) it names.
Tokens smart(const Tokens& item) {
    if (item.size() == 1 && (item[0].kind == TK_STRING || item[0].kind == TK_NUMBER)) return item;
    if (wholeGroup(item)) return item;
    if (item.size() == 1 && item[0].kind == TK_MACRO) {
        std::string n = item[0].text.substr(1);
        if (!n.empty() && n.back() == '.') n.pop_back();
        if (n.find('.') == std::string::npos) return lex(n, LexMode::Line);
    }
    if (item.size() >= 2 && item[0].text == "&" && wholeGroup(Tokens(item.begin() + 1, item.end())))
        return Tokens(item.begin() + 1, item.end());
    return Tokens{stringToken(render(item), false)};
}

Tokens block(const Tokens& item) {
    Tokens t = lex("{||", LexMode::Rule);
    Tokens body = item;
    if (!body.empty()) body[0].space = true;
    for (Token& x : body) t.push_back(x);
    Token close;
    close.text = "}";
    close.space = true;
    t.push_back(close);
    return t;
}

struct Writer {
    const Matcher& m;
    Tokens* out;

    // How many times an optional result clause is written: once for every
    // match of its markers that come from optional parts of the pattern
    // (and for every item of a list marker), as many times as the most
    // often matched of them; a clause whose markers all come from the
    // mandatory part is written once, one without markers never.
    bool repeatable(int marker) const {
        return m.rule.optionalMarker[size_t(marker)] || m.rule.listMarker[size_t(marker)];
    }
    int matches(int marker) const {
        const std::vector<Match>& v = m.values[size_t(marker)];
        if (!m.rule.listMarker[size_t(marker)]) return int(v.size());
        int n = 0;
        for (const Match& x : v) n += int(x.size());
        return n;
    }
    void walk(const std::vector<ResElem>& els, bool* anyMarker, bool* anyRepeatable, int* most) const {
        for (const ResElem& e : els) {
            if (e.kind == ResElem::OPTIONAL) {
                walk(e.inner, anyMarker, anyRepeatable, most);
            } else if (e.kind == ResElem::MARKER) {
                *anyMarker = true;
                if (!repeatable(e.marker)) continue;
                *anyRepeatable = true;
                *most = std::max(*most, matches(e.marker));
            }
        }
    }
    int repeatsOf(const std::vector<ResElem>& els) const {
        bool anyMarker = false, anyRepeatable = false;
        int most = 0;
        walk(els, &anyMarker, &anyRepeatable, &most);
        if (!anyMarker) return 0;
        return anyRepeatable ? most : 1;
    }

    void marker(const ResElem& e, int iteration, bool inOptional) {
        const std::vector<Match>& v = m.values[size_t(e.marker)];
        bool space = e.tok.space;
        if (e.result == RK_LOGIFY) {
            Token t;
            t.text = v.empty() ? ".F." : ".T.";
            t.kind = TK_LOGICAL;
            t.space = space;
            out->push_back(t);
            return;
        }
        if (v.empty()) {
            if (e.result == RK_DUMB) out->push_back(stringToken("", space));
            return;
        }
        Match one;
        const Match* chosen = &v[size_t(iteration) < v.size() ? size_t(iteration) : v.size() - 1];
        if (inOptional && m.rule.listMarker[size_t(e.marker)]) {
            // Inside an optional clause a list marker gives one item per
            // repetition.
            std::vector<const Tokens*> items;
            for (const Match& x : v)
                for (const Tokens& item : x) items.push_back(&item);
            if (items.empty()) return;
            one.push_back(*items[size_t(iteration) < items.size() ? size_t(iteration) : items.size() - 1]);
            chosen = &one;
        }
        const Match& match = *chosen;
        if (e.result == RK_DUMB) {
            std::string s;
            for (size_t i = 0; i < match.size(); ++i) s += (i ? ", " : "") + render(match[i]);
            out->push_back(stringToken(s, space));
            return;
        }
        for (size_t i = 0; i < match.size(); ++i) {
            if (i > 0) {
                Token comma;
                comma.text = ",";
                out->push_back(comma);
            }
            bool sp = i == 0 ? space : true;
            switch (e.result) {
                case RK_REGULAR:
                    append(out, match[i], sp);
                    break;
                case RK_NORMAL:
                    out->push_back(stringToken(render(match[i]), sp));
                    break;
                case RK_SMART:
                    append(out, smart(match[i]), sp);
                    break;
                case RK_BLOCK:
                    append(out, block(match[i]), sp);
                    break;
                default:
                    break;
            }
        }
    }

    void write(const std::vector<ResElem>& els, int iteration, bool inOptional) {
        for (const ResElem& e : els) {
            if (e.kind == ResElem::LITERAL) {
                out->push_back(e.tok);
            } else if (e.kind == ResElem::MARKER) {
                marker(e, iteration, inOptional);
            } else {
                int n = repeatsOf(e.inner);
                for (int r = 0; r < n; ++r) {
                    size_t before = out->size();
                    write(e.inner, r, true);
                    if (out->size() > before && (*out)[before].text != ",")
                        (*out)[before].space = (*out)[before].space || e.tok.space;
                }
            }
        }
    }
};

}  // namespace

// Every rule is tried on every statement (and every translation at every
// token), so this is compared in place, without copies.
bool keywordMatches(const Token& keyword, const Token& word, bool exact) {
    if (keyword.kind != TK_IDENT) return word.kind != TK_STRING && sameText(keyword.text, word.text);
    if (word.kind != TK_IDENT) return false;
    const size_t n = word.text.size();
    if (n != keyword.text.size() && (exact || n < 4 || n > keyword.text.size())) return false;
    const char* k = keyword.text.data();
    const char* w = word.text.data();
    for (size_t i = 0; i < n; ++i) {
        char x = k[i], y = w[i];
        if (x >= 'a' && x <= 'z') x = char(x - 32);
        if (y >= 'a' && y <= 'z') y = char(y - 32);
        if (x != y) return false;
    }
    return true;
}

std::string quoteText(const std::string& s) {
    if (s.find('"') == std::string::npos) return "\"" + s + "\"";
    if (s.find('\'') == std::string::npos) return "'" + s + "'";
    if (s.find(']') == std::string::npos) return "[" + s + "]";
    // All three delimiters inside: the double quotes become CHR(34) pieces.
    std::string r = "\"";
    for (char c : s) {
        if (c == '"') r += "\" + CHR(34) + \"";
        else r += c;
    }
    return r + "\"";
}

bool applyRule(const Rule& rule, const Tokens& in, size_t from, size_t end, MatchBudget* budget, size_t* taken,
               Tokens* result) {
    // Every pattern starts with a literal: most rules end here, before any
    // work on their markers.
    if (from >= end || !keywordMatches(rule.pattern[0].tok, in[from], rule.exact)) return false;
    Matcher m{rule, in, end, budget, {}};
    m.values.resize(rule.markers.size());
    size_t i = from;
    if (!m.sequence(rule.pattern, &i, {})) return false;
    if (i == from || (rule.command && i != end)) return false;
    *taken = i;
    result->clear();
    Writer w{m, result};
    w.write(rule.result, 0, false);
    return true;
}

}  // namespace xb::pp
