// Classes and message sends: the built-in answers of every value, message
// tables (order, growth, replacement, CRC-32 collisions), visibility scopes,
// variables and forwarding, instantiation, QSUPER, and the class-definition
// functions from pcode.
#include "tests/support/errorsys_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <utility>

using namespace xb;
using namespace xb::test;

namespace {

// Natives that answer a message with a marker number.
const Function answerOne = {[]() -> uint16_t { retInt(1); return 0; }, nullptr, nullptr};
const Function answerTwo = {[]() -> uint16_t { retInt(2); return 0; }, nullptr, nullptr};
const Function answerThree = {[]() -> uint16_t { retInt(3); return 0; }, nullptr, nullptr};

class ClassTest : public ErrorSystemTest {
protected:
    // An object of class h built into a kept static-area Item.
    Item* newObject(uint16_t h) {
        Item* t = tempAlloc();
        classInstantiate(h, t);
        return t;
    }
    uint16_t newClass(const char* name, uint16_t capacity = 16, uintptr_t owner = 0) {
        return classCreate(capacity, findOrCreateSymbol(name), owner);
    }
    static Item nil() { return Item{}; }
};

const char* const kSendModule = R"(
symbol CN proc
symbol CH proc
symbol CNSTR proc
symbol CNARRAY proc
symbol CNBLOCK proc
symbol CNSYMBOL proc
symbol EVALIT proc
symbol CLASSNAME
symbol CLASSH
symbol EVAL
proc CN
    FRAME 1 0
    PUSHSYM CLASSNAME
    PUSHLOCAL 1
    SEND 0
    POPRET
    ENDPROC
end
proc CH
    FRAME 1 0
    PUSHSYM CLASSH
    PUSHLOCAL 1
    SEND 0
    POPRET
    ENDPROC
end
proc CNSTR
    PUSHSYM CLASSNAME
    PUSHSTR "texto"
    SEND 0
    POPRET
    ENDPROC
end
proc CNARRAY
    PUSHSYM CLASSNAME
    ONE
    ARRAYGEN 1
    SEND 0
    POPRET
    ENDPROC
end
proc CNBLOCK
    PUSHSYM CLASSNAME
    PUSHBLOCK {
        ONE
        ENDBLOCK
    }
    SEND 0
    POPRET
    ENDPROC
end
proc CNSYMBOL
    PUSHSYM CLASSNAME
    PUSHSYM CLASSH
    SEND 0
    POPRET
    ENDPROC
end
proc EVALIT
    FRAME 1 0
    PUSHSYM EVAL
    PUSHLOCAL 1
    PUSHINT 41
    SEND 1
    POPRET
    ENDPROC
end
)";

}  // namespace

TEST_F(ClassTest, EveryValueAnswersClassNameAndClassH) {
    loadWithClasses(kSendModule);
    Item date{};
    date.type = T_DATE;
    date.v.l = 2451545;
    Item word{};
    word.type = T_WORD;
    word.v.l = 3;
    Item* memo = keepString("memo");
    memo->type = T_MEMO;

    EXPECT_EQ(text(call("CN", {intItem(5)})), "NUMERIC");
    EXPECT_EQ(text(call("CN", {doubleItem(2.5, 10, 1)})), "NUMERIC");
    EXPECT_EQ(text(call("CN", {date})), "DATE");
    EXPECT_EQ(text(call("CN", {logicalItem(false)})), "LOGICAL");
    EXPECT_EQ(text(call("CN", {nil()})), "NIL");
    EXPECT_EQ(text(call("CN", {*memo})), "CHARACTER");
    EXPECT_EQ(text(call("CN", {word})), "NIL");
    EXPECT_EQ(text(call("CNSTR")), "CHARACTER");
    EXPECT_EQ(text(call("CNARRAY")), "ARRAY");
    EXPECT_EQ(text(call("CNBLOCK")), "BLOCK");
    EXPECT_EQ(text(call("CNSYMBOL")), "NIL");

    uint16_t h = newClass("PUNTO");
    Item* obj = newObject(h);
    EXPECT_EQ(text(call("CN", {*obj})), "PUNTO");
    EXPECT_EQ(call("CH", {*obj}).v.l, h);
    EXPECT_EQ(call("CH", {*memo}).v.l, 0);
    EXPECT_EQ(call("CH", {intItem(7)}).v.l, 0);
    EXPECT_TRUE(errors.empty());
}

TEST_F(ClassTest, EvalEvaluatesBlocksAndIsAMissingMethodElsewhere) {
    loadWithClasses({kSendModule, R"(
symbol MKBLOCK proc
proc MKBLOCK
    PUSHBLOCK {
        FRAME 1 0
        PUSHLOCAL 1
        ONE
        ENDBLOCK
    }
    POPRET
    ENDPROC
end
)"});
    Item* block = keep(call("MKBLOCK"));
    ASSERT_EQ(block->type, T_BLOCK);
    // the block's value is the top of its stack: ONE after the argument
    EXPECT_EQ(call("EVALIT", {*block}).v.l, 1);
    EXPECT_TRUE(errors.empty());

    answerInt(99);
    Item r = call("EVALIT", {intItem(5)});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, EG_NOMETHOD);
    EXPECT_EQ(errors[0].d.subCode, 1004);
    EXPECT_EQ(errors[0].d.flags, EF_SUBSTITUTE);
    EXPECT_EQ(errors[0].operation, "EVAL");
    EXPECT_EQ(errors[0].subsystem, "BASE");
    ASSERT_EQ(errors[0].operands.size(), 2u);  // the receiver, then the argument
    EXPECT_EQ(errors[0].operands[0].v.l, 5);
    EXPECT_EQ(errors[0].operands[1].v.l, 41);
    EXPECT_EQ(r.v.l, 99);  // the handler's answer is the send's result
}

TEST_F(ClassTest, MissingMessagesOfObjectsAndAssignmentsAndReadOnly) {
    loadWithClasses(kSendModule);
    uint16_t h = newClass("PUNTO");
    Item* obj = newObject(h);

    send(*obj, "_FOO", {intItem(4)});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, EG_NOVARMETHOD);
    EXPECT_EQ(errors[0].d.subCode, 1005);
    EXPECT_EQ(errors[0].operation, "FOO");
    ASSERT_EQ(errors[0].operands.size(), 2u);
    EXPECT_EQ(errors[0].operands[1].v.l, 4);

    send(*obj, "MOVER");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1].d.genCode, EG_NOMETHOD);
    EXPECT_EQ(errors[1].operation, "MOVER");

    // a forward without an assignment target makes _NAME read-only
    ASSERT_TRUE(classAddForward(h, "x", 1, MS_PUBLIC, findOrCreateSymbol("CLASSH"), false, nullptr, false));
    answerInt(8);
    Item r = send(*obj, "_X", {intItem(1)});
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[2].d.genCode, EG_READONLY);
    EXPECT_EQ(errors[2].d.subCode, 1005);
    EXPECT_EQ(errors[2].operation, "X");
    EXPECT_EQ(r.v.l, 8);
    EXPECT_EQ(send(*obj, "X").v.l, h);  // the read forwards to CLASSH
}

TEST_F(ClassTest, QuietCallerMakesMissingMethodsFailWithoutARaise) {
    loadWithClasses(kSendModule);
    uint16_t h = newClass("PUNTO");
    Item* obj = newObject(h);
    ASSERT_TRUE(classAddForward(h, "x", 1, MS_PUBLIC, findOrCreateSymbol("CLASSH"), false, nullptr, false));
    vm.frameFlags = FF_QUIET;  // as TYPE sets it around its evaluation
    send(intItem(1), "EVAL");
    EXPECT_EQ(lastStatus, ST_UNWIND);
    send(*obj, "_NADA", {intItem(1)});
    EXPECT_EQ(lastStatus, ST_UNWIND);
    send(*obj, "_X", {intItem(1)});
    EXPECT_EQ(lastStatus, ST_UNWIND);
    EXPECT_EQ(vm.callResult, ST_UNWIND);
    vm.frameFlags = 0;
    EXPECT_TRUE(errors.empty());
    send(*obj, "_X", {intItem(1)});
    EXPECT_EQ(errors.size(), 1u);
}

TEST_F(ClassTest, MessageTableStaysSortedGrowsBy128AndReplaces) {
    loadWithClasses(kSendModule);
    uint16_t h = newClass("TABLA", 29);
    ClassRecord* c = classRecord(h);
    std::vector<GlobalSymbol*> names;
    for (int i = 0; i < 30; ++i) names.push_back(findOrCreateSymbol(("MSG" + std::to_string(i)).c_str()));
    for (int i = 0; i < 29; ++i) ASSERT_NE(classAddMessage(h, names[i], &answerOne), nullptr);
    EXPECT_EQ(c->methodCapacity, 29);
    EXPECT_EQ(c->methodCount, 29);
    ASSERT_NE(classAddMessage(h, names[29], &answerTwo), nullptr);
    EXPECT_EQ(c->methodCapacity, 29 + 128);
    EXPECT_EQ(c->methodCount, 30);
    for (uint32_t i = 1; i < c->methodCount; ++i) EXPECT_GE(c->methods[i - 1].key, c->methods[i].key) << i;
    for (int i = 0; i < 30; ++i) {
        MethodEntry* e = classFindMessage(c, names[i]);
        ASSERT_NE(e, nullptr) << i;
        EXPECT_EQ(e->message, names[i]);
        EXPECT_EQ(e->key, names[i]->hash);
        EXPECT_EQ(e->ownerClass, h);
    }

    // the same message again: one entry, the second function
    classAddMessage(h, names[3], &answerThree);
    EXPECT_EQ(c->methodCount, 30);
    EXPECT_EQ(classFindMessage(c, names[3])->function, &answerThree);
    Item* obj = newObject(h);
    EXPECT_EQ(send(*obj, "MSG3").v.l, 3);
    EXPECT_EQ(send(*obj, "MSG29").v.l, 2);

    // capacity 0 answers nothing of its own until something is added
    uint16_t empty = newClass("VACIA", 0);
    EXPECT_EQ(classFindMessage(classRecord(empty), names[0]), nullptr);
    ASSERT_NE(classAddMessage(empty, names[0], &answerOne), nullptr);
    EXPECT_EQ(classRecord(empty)->methodCapacity, 128);
    EXPECT_NE(classFindMessage(classRecord(empty), names[0]), nullptr);
}

namespace {

// Two different names with one CRC-32, found by search: short names that
// differ within 32 bits never collide, so the names are 8 random letters.
std::pair<std::string, std::string> crcCollision() {
    std::unordered_map<uint32_t, std::string> seen;
    uint32_t x = 12345;
    for (;;) {
        std::string s;
        for (int k = 0; k < 8; ++k) {
            x = (x * 1103515245u + 12345u) & 0x7FFFFFFFu;
            s += char('A' + (x >> 16) % 26);
        }
        auto [it, fresh] = seen.emplace(symbolCrc(s.c_str()), s);
        if (!fresh && it->second != s) return {it->second, s};
    }
}

}  // namespace

TEST_F(ClassTest, NamesWithOneCrcAreTwoMessages) {
    loadWithClasses(kSendModule);
    auto [a, b] = crcCollision();
    GlobalSymbol* sa = findOrCreateSymbol(a.c_str());
    GlobalSymbol* sb = findOrCreateSymbol(b.c_str());
    ASSERT_EQ(sa->hash, sb->hash);
    ASSERT_NE(a, b);

    uint16_t h = newClass("CHOQUE");
    classAddMessage(h, findOrCreateSymbol("OTRO"), &answerThree);
    classAddMessage(h, sa, &answerOne);
    EXPECT_EQ(classFindMessage(classRecord(h), sb), nullptr);
    classAddMessage(h, sb, &answerTwo);
    EXPECT_EQ(classRecord(h)->methodCount, 3);
    Item* obj = newObject(h);
    EXPECT_EQ(send(*obj, a.c_str()).v.l, 1);
    EXPECT_EQ(send(*obj, b.c_str()).v.l, 2);
    // replacing one leaves the other alone
    classAddMessage(h, sb, &answerThree);
    EXPECT_EQ(send(*obj, a.c_str()).v.l, 1);
    EXPECT_EQ(send(*obj, b.c_str()).v.l, 3);
    EXPECT_EQ(classRecord(h)->methodCount, 3);
    EXPECT_TRUE(errors.empty());
}

TEST_F(ClassTest, RunsOfForcedEqualKeysAreScannedByName) {
    loadWithClasses(kSendModule);
    // records of our own whose key is forced: five names share one key,
    // among neighbours with larger and smaller keys
    ModuleSymbol names[9]{};
    GlobalSymbol records[9]{};
    const uint32_t keys[9] = {500, 500, 900, 500, 100, 500, 700, 500, 300};
    for (int i = 0; i < 9; ++i) {
        std::snprintf(names[i].name, sizeof names[i].name, "FORZADO%d", i);
        records[i].name = &names[i];
        records[i].hash = keys[i];
    }
    static const Function fns[9] = {};
    uint16_t h = newClass("FORZADA", 4);
    for (int i = 0; i < 9; ++i) ASSERT_NE(classAddMessage(h, &records[i], &fns[i]), nullptr);
    ClassRecord* c = classRecord(h);
    ASSERT_EQ(c->methodCount, 9);
    for (uint32_t i = 1; i < 9; ++i) EXPECT_GE(c->methods[i - 1].key, c->methods[i].key);
    for (int i = 0; i < 9; ++i) {
        MethodEntry* e = classFindMessage(c, &records[i]);
        ASSERT_NE(e, nullptr) << i;
        EXPECT_EQ(e->function, &fns[i]) << i;
    }
    // same text, another record (a static symbol of some module): same message
    ModuleSymbol twinName{};
    std::strcpy(twinName.name, "FORZADO5");
    GlobalSymbol twin{};
    twin.name = &twinName;
    twin.hash = 500;
    EXPECT_EQ(classFindMessage(c, &twin)->function, &fns[5]);
    ModuleSymbol strangerName{};
    std::strcpy(strangerName.name, "FORZADO9");
    GlobalSymbol stranger{};
    stranger.name = &strangerName;
    stranger.hash = 500;
    EXPECT_EQ(classFindMessage(c, &stranger), nullptr);
}

namespace {

// The owner module sends the three messages from plain procedures and from
// a block; the other module does the same, and answers PEEK as a method.
const char* const kOwnerModule = R"(
symbol A_PUB proc
symbol A_PROT proc
symbol A_SECRET proc
symbol A_BLOCK proc
symbol PUB
symbol PROT
symbol SECRET
symbol EVAL
proc A_PUB
    FRAME 1 0
    PUSHSYM PUB
    PUSHLOCAL 1
    SEND 0
    POPRET
    ENDPROC
end
proc A_PROT
    FRAME 1 0
    PUSHSYM PROT
    PUSHLOCAL 1
    SEND 0
    POPRET
    ENDPROC
end
proc A_SECRET
    FRAME 1 0
    PUSHSYM SECRET
    PUSHLOCAL 1
    SEND 0
    POPRET
    ENDPROC
end
proc A_BLOCK
    FRAME 1 0
    PUSHSYM EVAL
    PUSHBLOCK {
        FRAME 1 0
        PUSHSYM SECRET
        PUSHLOCAL 1
        SEND 0
        ENDBLOCK
    }
    PUSHLOCAL 1
    EVALSEND 1
    POPRET
    ENDPROC
end
)";

const char* const kOtherModule = R"(
symbol B_PUB proc
symbol B_PROT proc
symbol B_SECRET proc
symbol B_BLOCK proc
symbol B_PEEK proc
symbol PUB
symbol PROT
symbol SECRET
symbol EVAL
proc B_PUB
    FRAME 1 0
    PUSHSYM PUB
    PUSHLOCAL 1
    SEND 0
    POPRET
    ENDPROC
end
proc B_PROT
    FRAME 1 0
    PUSHSYM PROT
    PUSHLOCAL 1
    SEND 0
    POPRET
    ENDPROC
end
proc B_SECRET
    FRAME 1 0
    PUSHSYM SECRET
    PUSHLOCAL 1
    SEND 0
    POPRET
    ENDPROC
end
proc B_BLOCK
    FRAME 1 0
    PUSHSYM EVAL
    PUSHBLOCK {
        FRAME 1 0
        PUSHSYM SECRET
        PUSHLOCAL 1
        SEND 0
        ENDBLOCK
    }
    PUSHLOCAL 1
    EVALSEND 1
    POPRET
    ENDPROC
end
proc B_PEEK
    FRAME 1 0
    PUSHSYM SECRET
    PUSHLOCAL 1
    SEND 0
    POPRET
    ENDPROC
end
)";

}  // namespace

TEST_F(ClassTest, ScopesDecideWhoSeesAMessage) {
    loadWithClasses({kOwnerModule, kOtherModule});
    uint16_t h = newClass("CAJA", 16, uintptr_t(modules[0].table));
    classAddMessage(h, findOrCreateSymbol("PUB"), &answerOne);
    classAddMessage(h, findOrCreateSymbol("PROT"), &answerTwo)->scope = MS_MODULE;
    classAddMessage(h, findOrCreateSymbol("SECRET"), &answerThree)->scope = MS_CLASS;
    classAddMessage(h, findOrCreateSymbol("PEEK"), findSymbol("B_PEEK")->function);
    Item* obj = newObject(h);
    answerInt(-1);

    EXPECT_EQ(call("A_PUB", {*obj}).v.l, 1);
    EXPECT_EQ(call("B_PUB", {*obj}).v.l, 1);
    EXPECT_EQ(call("A_PROT", {*obj}).v.l, 2);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(call("B_PROT", {*obj}).v.l, -1);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].operation, "PROT");

    // hidden: not even the owner module's plain procedures ...
    EXPECT_EQ(call("A_SECRET", {*obj}).v.l, -1);
    EXPECT_EQ(errors.size(), 2u);
    // ... but a method of the class (self is the object), from any module
    EXPECT_EQ(send(*obj, "PEEK", {*obj}).v.l, 3);
    // ... and a block that the owner module made
    EXPECT_EQ(call("A_BLOCK", {*obj}).v.l, 3);
    EXPECT_EQ(errors.size(), 2u);
    EXPECT_EQ(call("B_BLOCK", {*obj}).v.l, -1);
    EXPECT_EQ(errors.size(), 3u);
    EXPECT_EQ(call("B_SECRET", {*obj}).v.l, -1);
    EXPECT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[3].d.genCode, EG_NOMETHOD);

    // the block rule follows the superclass chain; the self rule does not
    uint16_t sub = classCreateDerived(findOrCreateSymbol("CAJITA"), 0, h);
    Item* child = newObject(sub);
    EXPECT_EQ(call("A_BLOCK", {*child}).v.l, 3);
    EXPECT_EQ(send(*obj, "PEEK", {*child}).v.l, -1);
}

TEST_F(ClassTest, VariablesTemplatesAndSubclasses) {
    loadWithClasses(kSendModule);
    uint16_t h = newClass("PUNTO");
    Item zero = intItem(0);
    ASSERT_TRUE(classAddVariable(h, "x", 1, false, MS_PUBLIC, &zero));
    ASSERT_TRUE(classAddVariable(h, "y", 1, false, MS_PUBLIC, &zero));
    Item seven = intItem(7);
    ASSERT_TRUE(classAddVariable(h, "cuenta", 6, true, MS_PUBLIC, &seven));
    EXPECT_FALSE(classAddVariable(h, "z", 1, false, 3, &zero));
    EXPECT_FALSE(classAddVariable(999, "z", 1, false, MS_PUBLIC, &zero));

    ASSERT_EQ(classInstantiateFromTemplate(h), 0);
    Item* p = keep(*returnItem());
    ASSERT_EQ(classInstantiateFromTemplate(h), 0);
    Item* q = keep(*returnItem());
    EXPECT_EQ(objectClass(p), h);
    EXPECT_EQ(arrayLength(p), 2u);
    EXPECT_EQ(send(*p, "_X", {intItem(3)}).v.l, 3);
    EXPECT_EQ(send(*p, "X").v.l, 3);
    EXPECT_EQ(send(*q, "X").v.l, 0);  // instances do not share instance variables
    EXPECT_EQ(send(*q, "CUENTA").v.l, 7);
    send(*p, "_CUENTA", {intItem(9)});
    EXPECT_EQ(send(*q, "CUENTA").v.l, 9);  // class variables are shared

    // a subclass takes the parent's messages and variables, adds its own
    uint16_t sub = classCreateDerived(findOrCreateSymbol("PUNTO3D"), 0, h);
    ASSERT_TRUE(classAddVariable(sub, "z", 1, false, MS_PUBLIC, &seven));
    EXPECT_EQ(classRecord(sub)->superclass, h);
    EXPECT_EQ(classRecord(sub)->methodCapacity, 128);
    ASSERT_EQ(classInstantiateFromTemplate(sub), 0);
    Item* r = keep(*returnItem());
    EXPECT_EQ(send(*r, "Z").v.l, 7);
    EXPECT_EQ(send(*r, "_Y", {intItem(5)}).v.l, 5);
    EXPECT_EQ(send(*r, "Y").v.l, 5);
    EXPECT_EQ(send(*r, "CUENTA").v.l, 9);
    EXPECT_TRUE(classIsKindOf(sub, "punto", 5));
    EXPECT_TRUE(classIsKindOf(sub, "Punto3D", 7));
    EXPECT_FALSE(classIsKindOf(h, "PUNTO3D", 7));
    EXPECT_FALSE(classIsKindOf(sub, "PUNT", 4));
    EXPECT_EQ(text(call("CN", {*r})), "PUNTO3D");
    EXPECT_TRUE(errors.empty());

    // names are upper-cased and cut to the symbol length
    std::string longName(70, 'v');
    ASSERT_TRUE(classAddVariable(h, longName.c_str(), 70, false, MS_PUBLIC, &zero));
    EXPECT_NE(classFindMessage(classRecord(h), findOrCreateSymbol(std::string(58, 'V').c_str())), nullptr);
    EXPECT_NE(classFindMessage(classRecord(h), findOrCreateSymbol(("_" + std::string(57, 'V')).c_str())), nullptr);
}

TEST_F(ClassTest, TemplateCopyIsDeepKeepsClassesAndSharingAndSurvivesCycles) {
    loadWithClasses(kSendModule);
    uint16_t inner = newClass("INTERIOR");
    uint16_t h = newClass("EXTERIOR");
    Item* shared = tempAlloc();
    makeArray(shared, 1);
    Item* innerObj = newObject(inner);
    arrayItems(shared)[0] = *innerObj;
    ASSERT_TRUE(classAddVariable(h, "a", 1, false, MS_PUBLIC, shared));
    ASSERT_TRUE(classAddVariable(h, "b", 1, false, MS_PUBLIC, shared));
    // the template holds itself: the copy must end
    Item* tmpl = classRecord(h)->instanceTemplate;
    ASSERT_TRUE(classAddVariable(h, "yo", 2, false, MS_PUBLIC, tmpl));

    ASSERT_EQ(classInstantiateFromTemplate(h), 0);
    Item* obj = keep(*returnItem());
    Item* e = arrayItems(obj);
    ASSERT_EQ(arrayLength(obj), 3u);
    EXPECT_NE(bodyOf(&e[0]), bodyOf(shared));            // copied ...
    EXPECT_EQ(bodyOf(&e[0]), bodyOf(&e[1]));             // ... once for both uses
    Item* nested = arrayItems(&e[0]);
    EXPECT_NE(bodyOf(nested), bodyOf(innerObj));
    EXPECT_EQ(objectClass(nested), inner);               // nested objects keep their class
    EXPECT_EQ(bodyOf(&e[2]), bodyOf(obj));               // the cycle points at the copy
    EXPECT_EQ(bodyOf(tmpl)->classHandle, 0);             // the template stays a plain array
}

TEST_F(ClassTest, InstantiationHooksRunWithTheNewObjectAsSelf) {
    loadWithClasses({kSendModule, R"(
symbol INITHOOK proc
symbol _X
proc INITHOOK
    PUSHSYM _X
    PUSHLOCAL 0
    PUSHINT 12
    SEND 1
    POP
    ENDPROC
end
)"});
    uint16_t h = newClass("CONHOOK");
    Item zero = intItem(0);
    ASSERT_TRUE(classAddVariable(h, "x", 1, false, MS_PUBLIC, &zero));
    ASSERT_TRUE(classSetHook(h, 1, findSymbol("INITHOOK")));
    EXPECT_FALSE(classSetHook(h, 3, findSymbol("INITHOOK")));
    ASSERT_EQ(classInstantiateFromTemplate(h), 0);
    Item* obj = keep(*returnItem());
    EXPECT_EQ(send(*obj, "X").v.l, 12);
    EXPECT_EQ(vm.top, vm.stack);
    // plain instantiation: one NIL per message, no hooks
    Item* plain = newObject(h);
    EXPECT_EQ(arrayLength(plain), classRecord(h)->methodCount);
    EXPECT_EQ(send(*plain, "X").type, T_NIL);
}

TEST_F(ClassTest, QSuperSearchesTheParentAndOpcodesComeWithTheFirstClass) {
    loadWithClasses(R"(
symbol SUPERWHO proc
symbol WHO
proc SUPERWHO
    PUSHSYM WHO
    QSUPER
    SEND 0
    POPRET
    ENDPROC
end
)");
    EXPECT_FALSE(hasOpHandler(OP_QSUPER));
    EXPECT_FALSE(hasOpHandler(OP_CLASSNOP));
    uint16_t a = newClass("BASE");
    EXPECT_TRUE(hasOpHandler(OP_QSUPER));
    EXPECT_TRUE(hasOpHandler(OP_CLASSNOP));
    EXPECT_FALSE(hasOpHandler(208));
    EXPECT_FALSE(hasOpHandler(210));
    classAddMessage(a, findOrCreateSymbol("WHO"), &answerOne);
    uint16_t b = classCreateDerived(findOrCreateSymbol("HIJA"), 0, a);
    classAddMessage(b, findOrCreateSymbol("WHO"), &answerTwo);
    classAddMessage(b, findOrCreateSymbol("SUPERWHO"), findSymbol("SUPERWHO")->function);
    classAddMessage(a, findOrCreateSymbol("SUPERWHO"), findSymbol("SUPERWHO")->function);
    Item* child = newObject(b);
    Item* base = newObject(a);
    EXPECT_EQ(send(*child, "WHO").v.l, 2);
    EXPECT_EQ(send(*child, "SUPERWHO").v.l, 1);
    EXPECT_TRUE(errors.empty());
    // the root has no parent: the search class becomes 0 and the class's noMethod answers
    send(*base, "SUPERWHO");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].operation, "WHO");
    EXPECT_EQ(itemReceiver(&errors[0].operands[0]), 1);
    EXPECT_EQ(itemClassHandle(&errors[0].operands[0]), 0);

    freeClasses();
    EXPECT_FALSE(hasOpHandler(OP_QSUPER));
    EXPECT_FALSE(hasOpHandler(OP_CLASSNOP));
    EXPECT_TRUE(classSystemStarted());
}

TEST_F(ClassTest, SecondClassSystemIsFatalError30) {
    loadWithClasses(kSendModule);
    installOpHandler(OP_CLASSNOP, []() -> uint16_t { return 0; });
    EXPECT_EXIT(newClass("OTRA"), ::testing::ExitedWithCode(1), "Error no recuperable 30: Operaci.n no soportada");
    installOpHandler(OP_CLASSNOP, nullptr);
}

TEST_F(ClassTest, ClassDefinitionFunctionsFromPcode) {
    loadWithClasses({kSendModule, R"(
symbol DEFINE proc
symbol MAKEONE proc
symbol MOVE static proc
symbol __CLASSNEW
symbol __CLASSADDVAR
symbol __CLASSADDMETHOD
symbol __CLASSADDFORWARD
symbol __CLASSFROMTEMPLATE
symbol _X
symbol X
proc DEFINE
    FRAME 0 1
    PUSHSYMNIL __CLASSNEW
    PUSHSTR "Punto"
    PUSHBLOCK {
        ENDBLOCK
    }
    FUNC 2
    POPLOCAL 1
    PUSHSYMNIL __CLASSADDVAR
    PUSHLOCAL 1
    ZERO
    ZERO
    PUSHSTR "x"
    PUSHSTR "y"
    ARRAYGEN 2
    PUSHINT 10
    DO 5
    PUSHSYMNIL __CLASSADDMETHOD
    PUSHLOCAL 1
    ZERO
    ZERO
    PUSHSTR "mover"
    PUSHBLOCK {
        ENDBLOCK
    }
    PUSHSTR "move"
    DO 6
    PUSHSYMNIL __CLASSADDFORWARD
    PUSHLOCAL 1
    ZERO
    PUSHSTR "equis"
    PUSHSTR "x"
    ZERO
    PUSHSTR "_x"
    ZERO
    DO 7
    PUSHLOCAL 1
    POPRET
    ENDPROC
end
proc MAKEONE
    FRAME 1 0
    PUSHSYMNIL __CLASSFROMTEMPLATE
    PUSHLOCAL 1
    FUNC 1
    POPRET
    ENDPROC
end
proc MOVE
    FRAME 1 0
    PUSHSYM _X
    PUSHLOCAL 0
    PUSHLOCAL 1
    SEND 1
    POPRET
    ENDPROC
end
)"});
    Item handle = call("DEFINE");
    ASSERT_EQ(handle.type, T_INTEGER);
    uint16_t h = uint16_t(handle.v.l);
    ASSERT_NE(classRecord(h), nullptr);
    EXPECT_STREQ(className(h), "PUNTO");
    EXPECT_EQ(classRecord(h)->owner, uintptr_t(modules[1].table));
    Item* p = keep(call("MAKEONE", {intItem(h)}));
    ASSERT_EQ(objectClass(p), h);
    EXPECT_EQ(send(*p, "Y").v.l, 10);
    // MOVE is static in its module: reached through the block of that module
    EXPECT_EQ(send(*p, "MOVER", {intItem(4)}).v.l, 4);
    EXPECT_EQ(send(*p, "X").v.l, 4);
    EXPECT_EQ(send(*p, "_EQUIS", {intItem(6)}).v.l, 6);
    EXPECT_EQ(send(*p, "X").v.l, 6);
    EXPECT_EQ(send(*p, "EQUIS").v.l, 6);
    EXPECT_TRUE(errors.empty());
}

TEST_F(ClassTest, DefinitionFunctionsCheckTheirArguments) {
    loadWithClasses(kSendModule);
    Item* name = keepString("cosa");
    Item* empty = keepString("");
    EXPECT_EQ(call("__CLASSNEW", {*name}).v.l, 0);                  // no owner
    EXPECT_EQ(call("__CLASSNEW", {*empty, intItem(1)}).v.l, 0);     // no name
    EXPECT_EQ(call("__CLASSNEW", {*name, intItem(1), intItem(3)}).v.l, 0);  // parent is no object
    Item h = call("__CLASSNEW", {*name, intItem(1)});
    ASSERT_GT(h.v.l, 0);
    EXPECT_EQ(classRecord(uint16_t(h.v.l))->methodCapacity, 128);
    EXPECT_EQ(text(call("__CLASSNAME", {h})), "COSA");
    EXPECT_EQ(text(call("__CLASSNAME", {intItem(999)})), "");

    Item* names = tempAlloc();
    makeArray(names, 2);
    makeString(&arrayItems(names)[0], "a", 1);
    arrayItems(names)[1] = intItem(2);  // not a text: nothing is added
    EXPECT_FALSE(call("__CLASSADDVAR", {h, intItem(0), intItem(0), *names}).v.l);
    EXPECT_EQ(classRecord(uint16_t(h.v.l))->methodCount, 0);
    makeString(&arrayItems(names)[1], "b", 1);
    EXPECT_FALSE(call("__CLASSADDVAR", {h, intItem(2), intItem(0), *names}).v.l);  // shared out of range
    EXPECT_FALSE(call("__CLASSADDVAR", {h, intItem(0), intItem(3), *names}).v.l);  // scope out of range
    EXPECT_TRUE(call("__CLASSADDVAR", {h, intItem(0), intItem(1), *names}).v.l);
    EXPECT_EQ(classFindMessage(classRecord(uint16_t(h.v.l)), findOrCreateSymbol("_B"))->scope, MS_MODULE);

    Item* msg = keepString("saludo");
    Item* fn = keepString("cn");
    Item* nofn = keepString("NOEXISTE");
    EXPECT_FALSE(call("__CLASSADDFUNC", {h, *msg, *nofn}).v.l);
    EXPECT_TRUE(call("__CLASSADDFUNC", {h, *msg, *fn}).v.l);
    Item* obj = keep(call("__CLASSINSTANCE", {h}));
    EXPECT_EQ(objectClass(obj), uint16_t(h.v.l));
    EXPECT_EQ(arrayLength(obj), 5u);  // one element per message
    EXPECT_EQ(text(send(*obj, "SALUDO")), "NIL");  // CN of its (absent) parameter

    Item msgs = call("__CLASSMESSAGES", {h});
    ASSERT_EQ(msgs.type, T_ARRAY);
    std::vector<std::string> got;
    for (uint32_t i = 0; i < arrayLength(&msgs); ++i) got.push_back(text(arrayItems(&msgs)[i]));
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{"A", "B", "SALUDO", "_A", "_B"}));
    EXPECT_EQ(call("__CLASSMESSAGES", {intItem(0)}).type, T_NIL);

    Item* sub = keepString("subcosa");
    Item child = call("__CLASSNEW", {*sub, intItem(1), *obj});
    ASSERT_GT(child.v.l, h.v.l);
    EXPECT_EQ(classRecord(uint16_t(child.v.l))->superclass, h.v.l);
    EXPECT_TRUE(call("__CLASSISKINDOF", {child, *name}).v.l);
    EXPECT_FALSE(call("__CLASSISKINDOF", {h, *sub}).v.l);
    EXPECT_FALSE(call("__CLASSISKINDOF", {intItem(0), *name}).v.l);
    EXPECT_EQ(call("__CLASSFROMTEMPLATE", {intItem(777)}).type, T_NIL);
    EXPECT_TRUE(errors.empty());
}

TEST_F(ClassTest, FreeClassesGivesBackMemoryAndTheStaticArea) {
    loadWithClasses(kSendModule);
    GlobalSymbol* names[3] = {findOrCreateSymbol("UNO"), findOrCreateSymbol("DOS"), findOrCreateSymbol("_DOS")};
    findOrCreateSymbol("HIJA");
    findOrCreateSymbol("MADRE");
    collectGarbage(true);
    int32_t before = memInUse();
    Item* low = vm.staticsLow;

    uint16_t h = newClass("MADRE", 2);
    Item one = intItem(1);
    for (int i = 0; i < 200; ++i) classAddMessage(h, names[i % 3], &answerOne);
    classAddVariable(h, "dos", 3, false, MS_PUBLIC, &one);
    uint16_t sub = classCreateDerived(findOrCreateSymbol("HIJA"), 0, h);
    classAddVariable(sub, "dos", 3, true, MS_CLASS, &one);
    EXPECT_GT(memInUse(), before);

    freeClasses();
    collectGarbage(true);
    EXPECT_EQ(memInUse(), before);
    EXPECT_EQ(vm.staticsLow, low);
    EXPECT_EQ(classCount(), 0);
    EXPECT_EQ(classRecord(1), nullptr);
    EXPECT_STREQ(className(h), "");
}
