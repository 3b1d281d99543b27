// The macro code generator: Push and Store of every node, the inline
// built-in functions, blocks, conditionals and aliased references.
// Symbol operands are written through symbolRef (vm/symref.h).
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "vm/symbols.h"
#include "macro/builtins.h"
#include "macro/compiler.h"
#include "macro/node.h"
#include "vm/error.h"
#include "base/memory.h"
#include "vm/opcodes.h"
#include "vm/symref.h"

namespace xb::macro {

namespace {

struct Generator {
    CodeBuffer* out;
    Node* currentBlock;  // the block whose body is being generated, or null

    void byte(uint8_t b) { emitByte(out, b); }
    void op16(uint8_t op, uint16_t v) {
        byte(op);
        byte(uint8_t(v));
        byte(uint8_t(v >> 8));
    }
    void symbol(uint8_t op, const char* name) {
        uint32_t ref = symbolRef(findOrCreateSymbol(name));
        byte(op);
        for (int i = 0; i < 4; ++i) byte(uint8_t(ref >> (8 * i)));
    }
    void patch16(uint32_t at, uint16_t v) {
        if (out->tooLong) return;
        out->data[at] = uint8_t(v);
        out->data[at + 1] = uint8_t(v >> 8);
    }
    void stringPush(const char* text, uint32_t n);
    bool push(Node* n);
    bool store(Node* n);
    bool pushList(NodeList& l);
    bool call(Node* n);
    bool block(Node* n);
    bool aliasedPush(Node* n);
    bool aliasedStore(Node* n);
    bool assignment(Node* n);
    uint16_t paramIndex(const Node* ident) const;
};

bool isConstIndex(const Node* n) { return n->type == N_ZERO || n->type == N_ONE || n->type == N_WORD; }
uint16_t constValue(const Node* n) { return n->type == N_ZERO ? 0 : n->type == N_ONE ? 1 : n->value; }

// 1-based parameter of the innermost block that the name refers to, or 0.
// Both sides are compared over the parameter cut, so a long name finds its
// parameter.
uint16_t Generator::paramIndex(const Node* ident) const {
    if (!currentBlock) return 0;
    uint32_t n = ident->textLength > MACRO_PARAM_MAX ? MACRO_PARAM_MAX : ident->textLength;
    for (uint16_t i = 0; i < currentBlock->params.count; ++i) {
        const Node* p = currentBlock->params.items[i];
        if (p->textLength == n && std::memcmp(p->text, ident->text, n) == 0) return uint16_t(i + 1);
    }
    return 0;
}

void Generator::stringPush(const char* text, uint32_t n) {
    uint32_t piece = n < 256 ? n : 255;
    byte(OP_PUSHSTR);
    byte(uint8_t(piece));
    for (uint32_t i = 0; i < piece; ++i) byte(uint8_t(text[i]));
    byte(0);
    for (uint32_t at = piece; at < n; at += piece) {
        piece = n - at < 255 ? n - at : 255;
        byte(OP_PUSHSTR);
        byte(uint8_t(piece));
        for (uint32_t i = 0; i < piece; ++i) byte(uint8_t(text[at + i]));
        byte(0);
        byte(OP_PLUS);
    }
}

bool Generator::pushList(NodeList& l) {
    for (uint16_t i = 0; i < l.count; ++i)
        if (!push(l.items[i])) return false;
    return true;
}

bool Generator::push(Node* n) {
    switch (n->type) {
    case N_NIL: byte(OP_PUSHNIL); return true;
    case N_ZERO: byte(OP_ZERO); return true;
    case N_ONE: byte(OP_ONE); return true;
    case N_WORD: op16(OP_PUSHWORD, n->value); return true;
    case N_INT: op16(OP_PUSHINT, n->value); return true;
    case N_DOUBLE: {
        byte(OP_PUSHDOUBLE);
        byte(n->width);
        byte(n->decimals);
        uint8_t bytes[8];
        std::memcpy(bytes, &n->number, 8);
        for (uint8_t b : bytes) byte(b);
        return true;
    }
    case N_EMPTYSTR: byte(OP_PUSHEMPTYSTR); return true;
    case N_STRING:
        stringPush(n->text, n->textLength);
        if (n->isMacroText && n->evaluate) byte(OP_MACROEVAL);
        else if (!n->isMacroText && std::memchr(n->text, '&', n->textLength)) byte(OP_MACROTEXT);
        return true;
    case N_BLOCK: return block(n);
    case N_LOGICAL: byte(n->value ? OP_TRUE : OP_FALSE); return true;
    case N_ARRAY:
        if (!pushList(n->list)) return false;
        op16(OP_ARRAYGEN, n->list.count);
        return true;
    case N_IDENT:
        if (uint16_t i = paramIndex(n)) op16(OP_PUSHLOCAL, i);
        else symbol(OP_PUSHVARIABLEX, n->text);
        return true;
    case N_BYREF:
        if (uint16_t i = paramIndex(n)) op16(OP_PUSHLOCALREF, i);
        else symbol(OP_PUSHMEMVARREFX, n->text);
        return true;
    case N_SUBSCRIPT:
        if (!push(n->left)) return false;
        for (uint16_t i = 0; i < n->list.count; ++i) {
            Node* index = n->list.items[i];
            if (isConstIndex(index)) {
                op16(OP_ARRAYGETC, constValue(index));
            } else {
                if (!push(index)) return false;
                byte(OP_ARRAYGET);
            }
        }
        return true;
    case N_CALL: return call(n);
    case N_LIST:
        for (uint16_t i = 0; i < n->list.count; ++i) {
            if (i) byte(OP_POP);
            if (!push(n->list.items[i])) return false;
        }
        if (n->macroPrefix) byte(OP_MACROEVAL);
        return true;
    case N_SEND:
        symbol(OP_PUSHSYMX, n->right->text);
        if (!push(n->left) || !pushList(n->list)) return false;
        op16(OP_SEND, n->list.count);
        return true;
    case N_ALIASED: return aliasedPush(n);
    case 21: case 22: case 23: case 24: case 25: case 26: case 27: return assignment(n);
    case N_NOT:
        if (!push(n->left)) return false;
        byte(OP_NOT);
        return true;
    case N_NEGATE:
        if (!push(n->left)) return false;
        byte(OP_NEGATE);
        return true;
    case N_PREINC:
    case N_PREDEC: return false;
    default:
        if (n->type >= N_OR && n->type <= N_POWER) {
            static const uint8_t OPS[] = {115, 87, 0, 98, 94, 105, 102, 104, 101, 108, 170, 117, 106, 107, 92, 179, 169};
            if (!push(n->left) || !push(n->right)) return false;
            byte(OPS[n->type - N_OR]);
            return true;
        }
        char text[48];
        int len = std::snprintf(text, sizeof text, "PushExpression() de tipo: %ld", long(n->type));
        if (errorOutputWrite) errorOutputWrite(text, uint32_t(len));
        return false;
    }
}

bool Generator::block(Node* n) {
    Node* outer = currentBlock;
    currentBlock = n;
    uint32_t start = out->length;
    op16(OP_PUSHBLOCK, 0);
    if (n->params.count) {
        byte(OP_FRAME);
        byte(uint8_t(n->params.count));
        byte(0);
    }
    bool ok = true;
    for (uint16_t i = 0; i < n->list.count && ok; ++i) {
        if (i) byte(OP_POP);
        ok = push(n->list.items[i]);
    }
    byte(OP_ENDBLOCK);
    uint32_t length = out->length - start - 3;
    if (length > 0xFFFF) ok = false;
    patch16(start + 1, uint16_t(length));
    currentBlock = outer;
    return ok;
}

bool Generator::call(Node* n) {
    if (n->isMacroText) {
        stringPush(n->text, n->textLength);
        byte(OP_MACROSYMBOL);
        byte(OP_PUSHNIL);
        if (!pushList(n->list)) return false;
        op16(OP_FUNC, n->list.count);
        return true;
    }
    if (!n->macroPrefix) {
        if (const Builtin* b = findBuiltin(n->text)) {
            uint8_t op = builtinOpcode(*b, n->list.count);
            if (!op) return false;
            if (op == OP_EVALSEND) {
                symbol(OP_PUSHSYMX, "EVAL");
                if (!pushList(n->list)) return false;
                op16(OP_EVALSEND, uint16_t(n->list.count - 1));
                return true;
            }
            if (!pushList(n->list)) return false;
            byte(op);
            return true;
        }
        if (std::strcmp(n->text, "IF") == 0 || std::strcmp(n->text, "IIF") == 0) {
            if (n->list.count != 3) return false;
            if (!push(n->list.items[0])) return false;
            uint32_t jumpFalse = out->length;
            op16(OP_JUMPFALSE, 0);
            if (!push(n->list.items[1])) return false;
            uint32_t jump = out->length;
            op16(OP_JUMP, 0);
            uint32_t elseAt = out->length;
            if (!push(n->list.items[2])) return false;
            uint32_t distanceElse = elseAt - (jumpFalse + 3);
            uint32_t distanceEnd = out->length - (jump + 3);
            // signed 16-bit distances
            if (distanceElse > 0x7FFF || distanceEnd > 0x7FFF) return false;
            patch16(jumpFalse + 1, uint16_t(distanceElse));
            patch16(jump + 1, uint16_t(distanceEnd));
            return true;
        }
    }
    symbol(OP_PUSHSYMNILX, n->text);
    if (!pushList(n->list)) return false;
    op16(OP_FUNC, n->list.count);
    return true;
}

bool Generator::assignment(Node* n) {
    Node* target = n->left;
    bool compound = n->type != N_ASSIGN;
    if (target->type == N_SEND) {
        if (target->hasParentheses) return false;
        char name[MACRO_PARAM_MAX + 2];
        name[0] = '_';
        std::strcpy(name + 1, target->right->text);
        symbol(OP_PUSHSYMX, name);
        if (!push(target->left)) return false;
    }
    if (compound && !push(target)) return false;
    if (!push(n->right)) return false;
    if (compound) {
        static const uint8_t OPS[] = {117, 106, 107, 92, 179, 169};
        byte(OPS[n->type - 22]);
    }
    if (target->type == N_SEND) {
        op16(OP_SEND, 1);
        return true;
    }
    byte(OP_DUP);
    return store(target);
}

bool Generator::store(Node* n) {
    switch (n->type) {
    case N_STRING:
        if (!n->isMacroText) return false;
        stringPush(n->text, n->textLength);
        byte(OP_MACROASSIGN);
        return true;
    case N_IDENT:
        if (n->macroPrefix) {
            if (uint16_t i = paramIndex(n)) op16(OP_PUSHLOCAL, i);
            else symbol(OP_PUSHVARIABLEX, n->text);
            byte(OP_MACROASSIGN);
        } else if (uint16_t i = paramIndex(n)) {
            op16(OP_POPLOCAL, i);
        } else {
            symbol(OP_POPMEMVARX, n->text);
        }
        return true;
    case N_SUBSCRIPT: {
        if (!push(n->left)) return false;
        uint16_t last = uint16_t(n->list.count - 1);
        for (uint16_t i = 0; i <= last; ++i) {
            Node* index = n->list.items[i];
            bool isLast = i == last;
            if (isConstIndex(index)) {
                op16(isLast ? OP_ARRAYPUTC : OP_ARRAYGETC, constValue(index));
            } else {
                if (!push(index)) return false;
                byte(isLast ? OP_ARRAYPUT : OP_ARRAYGET);
            }
        }
        return true;
    }
    case N_LIST: return n->list.count == 1 && store(n->list.items[0]);
    case N_ALIASED: return !n->fieldParenthesised && aliasedStore(n);
    default: return false;
    }
}

bool nameIs(const Node* n, std::initializer_list<const char*> names) {
    if (n->type != N_IDENT) return false;
    for (const char* s : names)
        if (std::strcmp(n->text, s) == 0) return true;
    return false;
}

// An aliased reference read as a value. Only the last alias of a chain
// (a->b->c) counts, as for stores; an alias part the rules give no code
// for fails, so that no instruction ever reads a value that was not pushed.
bool Generator::aliasedPush(Node* n) {
    Node* alias = n->left;
    while (alias->type == N_ALIASED) alias = alias->right;
    Node* field = n->right;
    bool byName = false, memvarAlias = false, fieldAlias = false;
    if (isConstIndex(alias)) {
        if (!push(alias)) return false;
    } else if (alias->type == N_IDENT) {
        if ((nameIs(alias, {"M"}) && !n->fieldParenthesised) ||
            (nameIs(alias, {"MEMV", "MEMVA", "MEMVAR"}) && !n->fieldParenthesised)) {
            memvarAlias = true;
        } else if (nameIs(alias, {"_FIE", "_FIEL", "_FIELD", "FIEL", "FIELD"}) && !n->fieldParenthesised &&
                   !n->fieldIsMacro) {
            fieldAlias = true;
        } else if (alias->macroPrefix) {
            stringPush(alias->text, alias->textLength);
            byte(OP_MACROALIAS);
            byName = true;
        } else {
            symbol(OP_PUSHALIASX, alias->text);
        }
    } else if (alias->type == N_LIST) {
        if (!push(alias)) return false;
        byName = true;
    } else {
        return false;
    }
    if (n->fieldParenthesised) {
        if (memvarAlias || fieldAlias) return false;
        byte(OP_ALIASSELECT);
        if (!push(field)) return false;
        byte(OP_ALIASRESTORE);
        return true;
    }
    if (field->type != N_IDENT) return false;
    if (byName) {
        stringPush(field->text, field->textLength);
        byte(OP_MACROPUSHALIASFIELD);
    } else if (memvarAlias) {
        symbol(OP_PUSHMEMVARX, field->text);
    } else if (fieldAlias) {
        symbol(OP_PUSHFIELDX, field->text);
    } else {
        symbol(OP_PUSHALIASFIELDX, field->text);
    }
    return true;
}

bool Generator::aliasedStore(Node* n) {
    Node* alias = n->left;
    while (alias->type == N_ALIASED) alias = alias->right;
    Node* field = n->right;
    if (field->type != N_IDENT) return false;
    bool byName = false, memvarAlias = false, fieldAlias = false;
    if (isConstIndex(alias)) {
        if (!push(alias)) return false;
    } else if (alias->type == N_IDENT) {
        if (nameIs(alias, {"M"})) {
            memvarAlias = true;
        } else if (nameIs(alias, {"_FIELD", "FIELD"})) {
            fieldAlias = true;
        } else if (alias->macroPrefix) {
            stringPush(alias->text, alias->textLength);
            byte(OP_MACROALIAS);
        } else {
            symbol(OP_PUSHALIASX, alias->text);
        }
    } else if (alias->type == N_LIST) {
        if (!push(alias)) return false;
        byName = true;
    } else {
        return false;
    }
    if (byName) {
        stringPush(field->text, field->textLength);
        byte(OP_MACROPOPALIASFIELD);
    } else if (memvarAlias) {
        symbol(OP_POPMEMVARX, field->text);
    } else if (fieldAlias) {
        symbol(OP_POPFIELDX, field->text);
    } else {
        symbol(OP_POPALIASFIELDX, field->text);
    }
    return true;
}

}  // namespace

void emitByte(CodeBuffer* out, uint8_t b) {
    if (out->tooLong) return;
    if (out->length == 0xFFFF) {  // pcode lengths are 16 bits
        out->tooLong = true;
        return;
    }
    if (out->length == out->capacity) {
        out->capacity = out->capacity ? out->capacity * 2 : 64;
        out->data = static_cast<uint8_t*>(memRealloc(out->data, out->capacity));
    }
    out->data[out->length++] = b;
}

bool generateRoot(CodeBuffer* out, Node* root, bool storeMode) {
    Generator g{out, nullptr};
    bool ok = storeMode && root->type == N_ALIASED ? !root->fieldParenthesised && g.aliasedStore(root)
                                                   : g.push(root);
    return ok && !out->tooLong;
}

}  // namespace xb::macro
