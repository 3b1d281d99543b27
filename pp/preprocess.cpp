// The preprocessor's driver: directives, conditional sections, #include,
// definitions and the rule loop over each logical line.
#include "pp/preprocess.h"

#include <map>
#include <set>
#include <memory>

#include "pp/lex.h"
#include "pp/rules.h"
#include "pp/source.h"
#include "pp/std_header.h"

namespace xb::pp {
namespace {

constexpr int kMaxIncludeDepth = 32;
constexpr int kMaxIncludes = 1024;        // files read by #include in one call
constexpr int kMaxApplications = 1000;   // rule and definition uses on one line
constexpr size_t kMaxLineTokens = 20000;

struct Define {
    bool function = false;
    std::vector<std::string> params;
    Tokens body;
};

struct Conditional {
    bool active;        // lines here are read
    bool parentActive;  // the section around it is read
    bool elseSeen;
    int line;
};

// Definitions and rules in force. The standard header's set is read once
// per process and shared, unchanged, by every call; a call's own directives
// go to its own set, which is consulted first.
struct RuleSet {
    std::map<std::string, Define> defines;
    std::vector<Rule> commands;
    std::vector<Rule> translates;
    // Every statement meets every command rule and every token every
    // translation: the rules are filed by the first byte (upper case) of the
    // keyword they start with, so a token meets only the rules it may start.
    // Rules starting with anything but a name are in `other`. Rule numbers
    // ascending.
    struct Index {
        std::vector<uint32_t> byFirst[256];
        std::vector<uint32_t> other;
    };
    Index commandIndex, translateIndex;

    void add(Rule r) {
        std::vector<Rule>& list = r.command ? commands : translates;
        Index& index = r.command ? commandIndex : translateIndex;
        const Token& k = r.pattern[0].tok;
        auto n = uint32_t(list.size());
        if (k.kind == TK_IDENT && !k.text.empty()) index.byFirst[firstKey(k.text)].push_back(n);
        else index.other.push_back(n);
        list.push_back(std::move(r));
    }
    static uint8_t firstKey(const std::string& text) {
        auto c = uint8_t(text[0]);
        return c >= 'a' && c <= 'z' ? uint8_t(c - 32) : c;
    }
    // Calls f on the rules of the list that may start with `first`, latest
    // first, until it returns true.
    template <typename F>
    bool each(bool command, const Token& first, F& f) const {
        const std::vector<Rule>& list = command ? commands : translates;
        const Index& index = command ? commandIndex : translateIndex;
        static const std::vector<uint32_t> none;
        const std::vector<uint32_t>& named =
            first.kind == TK_IDENT && !first.text.empty() ? index.byFirst[firstKey(first.text)] : none;
        size_t a = named.size(), b = index.other.size();
        while (a || b) {
            uint32_t n = !b || (a && named[a - 1] > index.other[b - 1]) ? named[--a] : index.other[--b];
            if (f(list[n])) return true;
        }
        return false;
    }
};

struct State {
    State(const Options& o, std::vector<Line>* lines, std::vector<Diagnostic>* d) : options(o), out(lines), diags(d) {}

    const Options& options;
    std::vector<Line>* out;
    std::vector<Diagnostic>* diags;
    RuleSet own;
    const RuleSet* base = nullptr;
    std::set<std::string> hidden;  // base definitions removed by #undef
    std::map<std::string, int> errorCounts;
    int includes = 0;
    bool failed = false;

    void error(const std::string& file, int line, const std::string& message) {
        failed = true;
        int& n = errorCounts[file];
        if (++n > MAX_ERRORS_PER_FILE) return;
        diags->push_back(Diagnostic{file, line, 0, false, message});
    }
    const Define* findDefine(const std::string& name) const {
        auto it = own.defines.find(name);
        if (it != own.defines.end()) return &it->second;
        if (!base || hidden.count(name)) return nullptr;
        auto b = base->defines.find(name);
        return b == base->defines.end() ? nullptr : &b->second;
    }
    void define(const std::string& name, Define d) {
        hidden.erase(name);
        own.defines[name] = std::move(d);
    }
    void undefine(const std::string& name) {
        own.defines.erase(name);
        if (base && base->defines.count(name)) hidden.insert(name);
    }
    // Rules to try, latest first: the call's own, then the shared ones.
    // Only rules whose first keyword may accept `first` are offered.
    template <typename F>
    bool eachRule(bool command, const Token& first, F&& f) const {
        if (own.each(command, first, f)) return true;
        return base && base->each(command, first, f);
    }
};

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::string lowerOf(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return s;
}

bool isIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool isIdentChar(char c) { return isIdentStart(c) || (c >= '0' && c <= '9'); }

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool absolutePath(const std::string& p) {
    return (!p.empty() && (p[0] == '/' || p[0] == '\\')) || (p.size() > 1 && p[1] == ':');
}

// "#define NAME text" or "#define NAME(a, b) text"; false with *err.
bool parseDefine(const std::string& rest, std::string* name, Define* d, std::string* err) {
    size_t p = 0;
    while (p < rest.size() && (rest[p] == ' ' || rest[p] == '\t')) ++p;
    size_t b = p;
    if (p >= rest.size() || !isIdentStart(rest[p])) {
        *err = "#define without a name";
        return false;
    }
    while (p < rest.size() && isIdentChar(rest[p])) ++p;
    *name = rest.substr(b, p - b);
    if (p < rest.size() && rest[p] == '(') {
        size_t close = rest.find(')', p);
        if (close == std::string::npos) {
            *err = "#define " + *name + "( without its ')'";
            return false;
        }
        d->function = true;
        Tokens params = lex(rest.substr(p + 1, close - p - 1), LexMode::Rule);
        for (size_t i = 0; i < params.size(); ++i) {
            bool wantName = i % 2 == 0;
            if (wantName ? params[i].kind != TK_IDENT : params[i].text != ",") {
                *err = "#define " + *name + ": parameters must be names separated by commas";
                return false;
            }
            if (wantName) d->params.push_back(params[i].text);
        }
        if (!params.empty() && params.back().text == ",") {
            *err = "#define " + *name + ": parameters must be names separated by commas";
            return false;
        }
        p = close + 1;
    }
    d->body = lex(rest.substr(p), LexMode::Line);
    return true;
}

// Splits the arguments of a pseudo-function call starting at the '(' at
// open; false when the brackets do not close.
bool callArguments(const Tokens& t, size_t open, std::vector<Tokens>* args, size_t* after) {
    int depth = 0;
    Tokens cur;
    for (size_t k = open; k < t.size(); ++k) {
        const Token& x = t[k];
        bool op = x.kind == TK_OP;
        if (op && (x.text == "(" || x.text == "[" || x.text == "{")) {
            if (depth++ == 0) continue;
        } else if (op && (x.text == ")" || x.text == "]" || x.text == "}")) {
            if (--depth == 0) {
                if (!cur.empty() || !args->empty()) args->push_back(cur);
                *after = k + 1;
                return true;
            }
            if (depth < 0) return false;
        } else if (op && x.text == "," && depth == 1) {
            args->push_back(cur);
            cur.clear();
            continue;
        }
        cur.push_back(x);
    }
    return false;
}

// One definition used somewhere in t at or after *from (the tokens before
// it hold none); false when none applies. *from moves to the replacement,
// which is looked at again.
bool applyDefine(const State& st, Tokens* t, size_t* from, std::string* used) {
    for (size_t i = *from; i < t->size(); ++i) {
        const Token& x = (*t)[i];
        if (x.kind != TK_IDENT) continue;
        // A name after '->' or ':' is a field or a message, not a use.
        if (i > 0 && (*t)[i - 1].kind == TK_OP && ((*t)[i - 1].text == "->" || (*t)[i - 1].text == ":")) continue;
        const Define* found = st.findDefine(x.text);
        if (!found) continue;
        const Define& d = *found;
        Tokens repl;
        size_t after = i + 1;
        if (d.function) {
            std::vector<Tokens> args;
            if (after >= t->size() || (*t)[after].text != "(" || !callArguments(*t, after, &args, &after) ||
                args.size() != d.params.size())
                continue;
            for (const Token& b : d.body) {
                size_t k = 0;
                while (k < d.params.size() && !(b.kind == TK_IDENT && b.text == d.params[k])) ++k;
                if (k == d.params.size()) {
                    repl.push_back(b);
                    continue;
                }
                Tokens a = args[k];
                if (!a.empty()) a[0].space = b.space;
                repl.insert(repl.end(), a.begin(), a.end());
            }
        } else {
            repl = d.body;
        }
        if (!repl.empty()) repl[0].space = x.space;
        *used = "#define " + x.text;  // before the edit below moves the token x refers to
        t->erase(t->begin() + long(i), t->begin() + long(after));
        t->insert(t->begin() + long(i), repl.begin(), repl.end());
        *from = i;
        return true;
    }
    *from = t->size();
    return false;
}

bool isSeparator(const Token& t) { return t.kind == TK_OP && t.text == ";"; }

// One translation used somewhere in t.
bool applyTranslate(const State& st, Tokens* t, MatchBudget* budget, std::string* used) {
    size_t start = 0;
    while (start < t->size()) {
        size_t end = start;
        while (end < t->size() && !isSeparator((*t)[end])) ++end;
        for (size_t i = start; i < end; ++i) {
            bool done = st.eachRule(false, (*t)[i], [&](const Rule& rule) {
                size_t taken;
                Tokens result;
                if (!applyRule(rule, *t, i, end, budget, &taken, &result)) return budget->exhausted;
                if (!result.empty()) result[0].space = (*t)[i].space;
                t->erase(t->begin() + long(i), t->begin() + long(taken));
                t->insert(t->begin() + long(i), result.begin(), result.end());
                *used = rule.origin;
                return true;
            });
            if (budget->exhausted) return false;
            if (done) return true;
        }
        start = end + 1;
    }
    return false;
}

// One command rule used on one statement of t.
bool applyCommand(const State& st, Tokens* t, MatchBudget* budget, std::string* used) {
    size_t start = 0;
    while (start < t->size()) {
        size_t end = start;
        while (end < t->size() && !isSeparator((*t)[end])) ++end;
        // NAME( with no blank between is a function call, not a command
        // (a user's Display() or Close()), unless the rule itself expects
        // the bracket there.
        bool call = end - start >= 2 && (*t)[start].kind == TK_IDENT && (*t)[start + 1].kind == TK_OP &&
                    (*t)[start + 1].text == "(" && !(*t)[start + 1].space;
        if (end > start) {
            bool done = st.eachRule(true, (*t)[start], [&](const Rule& rule) {
                if (call && !(rule.pattern.size() > 1 && rule.pattern[1].kind == PatElem::LITERAL &&
                              rule.pattern[1].tok.text == "("))
                    return false;
                size_t taken;
                Tokens result;
                if (!applyRule(rule, *t, start, end, budget, &taken, &result)) return budget->exhausted;
                if (!result.empty()) result[0].space = (*t)[start].space;
                t->erase(t->begin() + long(start), t->begin() + long(end));
                t->insert(t->begin() + long(start), result.begin(), result.end());
                *used = rule.origin;
                return true;
            });
            if (budget->exhausted) return false;
            if (done) return true;
        }
        start = end + 1;
    }
    return false;
}

struct FileReader {
    State& st;

    void directive(const std::string& file, int line, const std::string& body, std::vector<Conditional>* conds,
                   int depth) {
        size_t p = 0;
        while (p < body.size() && isIdentChar(body[p])) ++p;
        std::string word = lowerOf(body.substr(0, p));
        std::string rest = body.substr(p);
        bool active = conds->empty() || conds->back().active;

        if (word == "ifdef" || word == "ifndef") {
            std::string name = trim(rest);
            bool known = st.findDefine(name) != nullptr;
            bool on = word == "ifdef" ? known : !known;
            if (active && (name.empty() || !isIdentStart(name[0]))) {
                st.error(file, line, "#" + word + " without a name");
                on = false;
            }
            conds->push_back(Conditional{active && on, active, false, line});
            return;
        }
        if (word == "else") {
            if (conds->empty() || conds->back().elseSeen) {
                st.error(file, line, conds->empty() ? "#else without #ifdef" : "#else after #else");
                return;
            }
            Conditional& c = conds->back();
            c.elseSeen = true;
            c.active = c.parentActive && !c.active;
            return;
        }
        if (word == "endif") {
            if (conds->empty()) st.error(file, line, "#endif without #ifdef");
            else conds->pop_back();
            return;
        }
        if (!active) return;

        if (word == "define") {
            std::string name, err;
            Define d;
            if (!parseDefine(rest, &name, &d, &err)) st.error(file, line, err);
            else st.define(name, std::move(d));
        } else if (word == "undef") {
            std::string name = trim(rest);
            if (name.empty()) st.error(file, line, "#undef without a name");
            st.undefine(name);
        } else if (word == "include") {
            include(file, line, trim(rest), depth);
        } else if (word == "error") {
            std::string m = trim(rest);
            st.error(file, line, m.empty() ? "#error" : m);
        } else if (word == "command" || word == "xcommand" || word == "translate" || word == "xtranslate") {
            Rule r;
            std::string err;
            bool command = word == "command" || word == "xcommand";
            if (!parseRule(rest, command, word[0] == 'x', &r, &err)) {
                st.error(file, line, "#" + word + ": " + err);
                return;
            }
            r.origin = "#" + word + " " + r.pattern[0].tok.text;
            st.own.add(std::move(r));
        } else if (word.empty()) {
            if (!trim(rest).empty()) st.error(file, line, "'#' without a directive");
        } else {
            st.error(file, line, "unknown directive #" + word);
        }
    }

    void include(const std::string& file, int line, const std::string& spec, int depth) {
        if (spec.size() < 2 || !((spec[0] == '"' && spec.back() == '"') || (spec[0] == '<' && spec.back() == '>') ||
                                 (spec[0] == '\'' && spec.back() == '\''))) {
            st.error(file, line, "#include needs a file name in quotes");
            return;
        }
        std::string name = spec.substr(1, spec.size() - 2);
        if (name.empty()) {
            st.error(file, line, "#include needs a file name in quotes");
            return;
        }
        if (depth >= kMaxIncludeDepth) {
            st.error(file, line, "#include nested too deeply at \"" + name + "\"");
            return;
        }
        if (++st.includes > kMaxIncludes) {
            st.error(file, line, "more than " + std::to_string(kMaxIncludes) + " #include files read");
            return;
        }
        std::vector<std::string> candidates;
        if (absolutePath(name)) {
            candidates.push_back(name);
        } else {
            candidates.push_back(folderOf(file) + name);
            for (const std::string& dir : st.options.includeDirs) {
                if (dir.empty()) continue;
                char last = dir.back();
                candidates.push_back(dir + (last == '/' || last == '\\' ? "" : "/") + name);
            }
        }
        if (st.options.readFile) {
            for (const std::string& c : candidates) {
                std::string contents;
                if (st.options.readFile(c, &contents)) {
                    read(contents, c, depth + 1);
                    return;
                }
            }
        }
        st.error(file, line, "cannot open #include file \"" + name + "\"");
    }

    // l's text is taken (moved) into the output when no rule changed it.
    void statement(const std::string& file, LogicalLine& l) {
        Tokens t = lex(l.text, LexMode::Line);
        if (t.empty()) return;
        MatchBudget budget;
        size_t defineFrom = 0;
        std::string used;  // the last definition or rule used
        bool changed = false;
        for (int n = 0;; ++n) {
            bool step = applyDefine(st, &t, &defineFrom, &used);
            if (!step && (applyTranslate(st, &t, &budget, &used) || applyCommand(st, &t, &budget, &used))) {
                step = true;
                defineFrom = 0;
            }
            if (budget.exhausted) {
                st.error(file, l.line, "the rules take too long to match this line");
                return;
            }
            if (!step) break;
            changed = true;
            if (n + 1 >= kMaxApplications) {
                st.error(file, l.line,
                         "rules and definitions used more than " + std::to_string(kMaxApplications) +
                             " times on this line (the last one " + used +
                             "): a rule keeps matching its own result");
                return;
            }
            if (t.size() > kMaxLineTokens) {
                st.error(file, l.line, "the rules made this line longer than " + std::to_string(kMaxLineTokens) +
                                           " tokens (the last one " + used + ")");
                return;
            }
        }
        Line out;
        out.file = file;
        out.line = l.line;
        out.expanded = changed;
        out.text = changed ? render(t) : std::move(l.text);
        if (changed && out.text.empty()) return;
        st.out->push_back(std::move(out));
    }

    void read(const std::string& raw, const std::string& file, int depth) {
        std::vector<LogicalLine> lines = logicalLines(toWindows1252(raw));
        std::vector<Conditional> conds;
        for (LogicalLine& l : lines) {
            size_t f = l.text.find_first_not_of(" \t\f");
            if (f == std::string::npos) continue;
            if (l.text[f] == '#') {
                size_t b = l.text.find_first_not_of(" \t", f + 1);
                directive(file, l.line, b == std::string::npos ? "" : l.text.substr(b), &conds, depth);
                continue;
            }
            if (!conds.empty() && !conds.back().active) continue;
            statement(file, l);
        }
        for (const Conditional& c : conds)
            st.error(file, c.line, "#ifdef or #ifndef without its #endif");
    }
};

// The standard header read once: its rules and definitions, and whatever
// it reported (nothing, unless it was edited wrongly).
struct StandardSet {
    RuleSet rules;
    std::vector<Diagnostic> diags;
};

const StandardSet& standardSet() {
    static const StandardSet set = [] {
        StandardSet s;
        Options none;
        std::vector<Line> lines;
        State st(none, &lines, &s.diags);
        FileReader reader{st};
        reader.read(standardHeaderText(), kStandardHeaderName, 0);
        s.rules = std::move(st.own);
        return s;
    }();
    return set;
}

}  // namespace

bool preprocess(const std::string& text, const std::string& fileName, const Options& options,
                std::vector<Line>* out, std::vector<Diagnostic>* diags) {
    State st(options, out, diags);
    if (options.standardHeader) {
        const StandardSet& std = standardSet();
        st.base = &std.rules;
        for (const Diagnostic& d : std.diags) st.error(d.file, d.line, d.message);
    }
    FileReader reader{st};
    for (const auto& d : options.defines) {
        std::string name, err;
        Define def;
        if (!parseDefine(d.first + " " + d.second, &name, &def, &err) || name != d.first)
            st.error(fileName, 0, "bad definition -D" + d.first + (err.empty() ? "" : ": " + err));
        else st.define(name, std::move(def));
    }
    reader.read(text, fileName, 0);
    return !st.failed;
}

}  // namespace xb::pp
