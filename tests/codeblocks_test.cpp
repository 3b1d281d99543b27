// Codeblocks run through the interpreter: the creator's locals seen live and
// after the creator returned, locals shared by the blocks of one call, blocks
// made inside blocks, parameters, outer references, EVALSEND and SEND of
// EVAL, blocks of macro code, and the collector's view of detached locals.
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <vector>

using namespace xb;
using xb::test::VmTest;

namespace {

std::vector<Item> seen;

}  // namespace

XB_NATIVE(fnCbTestProbe, "CBPROBE") {
    seen.push_back(vm.frame[2]);
    if (vm.frame[2].type & M_REF) {
        Item* target = derefItem(&vm.frame[2]);
        itemClear(target);
        target->type = T_INTEGER;
        target->v.l = 8;
    }
    return 0;
}

XB_NATIVE(fnCbTestCollect, "CBCOLLECT") {
    collectGarbage(true);
    retInt(int32_t(liveObjectCount()));
    return 0;
}

// Runs the pcode of procedure MACROCODE as macro-compiled code would run.
XB_NATIVE(fnCbTestMacro, "CBMACRO") {
    const Function* f = findSymbol("MACROCODE")->function;
    uint16_t flags = vm.frameFlags;
    vm.frameFlags |= FF_MACRO;
    uint16_t r = execute(f->pcode, f->module);
    vm.frameFlags = flags;
    return r;
}

class Codeblocks : public VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        seen.clear();
    }
    static const Item& element(const Item& array, uint32_t i) { return arrayItems(&array)[i - 1]; }
    static Codeblock* record(const Item& block) { return static_cast<Codeblock*>(bodyOf(&block)->data); }
};

TEST_F(Codeblocks, BlockSeesItsCreatorsLocalChangeWhileTheCreatorRuns) {
    load(R"(
symbol LIVE proc
symbol EVAL
proc LIVE
    FRAME 0 2
    ONE
    POPLOCAL 1
    PUSHBLOCK {
        PUSHOUTER 1
        ENDBLOCK
    }
    DETACHLOCALS
    POPLOCAL 2
    PUSHINT 2
    POPLOCAL 1
    PUSHSYM EVAL
    PUSHLOCAL 2
    EVALSEND 0
    PUSHINT 3
    POPLOCAL 1
    PUSHSYM EVAL
    PUSHLOCAL 2
    SEND 0
    ARRAYGEN 2
    POPRET
    ENDPROC
end)");
    Item r = call("LIVE");
    ASSERT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(element(r, 1).v.l, 2);
    EXPECT_EQ(element(r, 2).v.l, 3);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(vm.top, vm.stack);
}

const char* const kMaker = R"(
symbol MAKER proc
symbol USE proc
symbol EVAL
symbol CBCOLLECT
proc MAKER
    FRAME 0 2
    PUSHINT 4
    POPLOCAL 1
    PUSHINT 40
    POPLOCAL 2
    PUSHBLOCK {             ; {|v| x := v, x}
        FRAME 1 0
        PUSHLOCAL 1
        POPOUTER 1
        PUSHOUTER 1
        ENDBLOCK
    }
    DETACHLOCALS
    PUSHBLOCK {             ; {|| x}
        PUSHOUTER 1
        ENDBLOCK
    }
    DETACHLOCALS
    PUSHINT 5               ; changed after the blocks were made
    POPLOCAL 1
    ARRAYGEN 2
    POPRET
    ENDPROC
end
proc USE
    FRAME 0 1
    PUSHSYMNIL MAKER
    FUNC 0
    POPLOCAL 1
    PUSHSYMNIL CBCOLLECT
    FUNC 0
    PUSHSYM EVAL            ; getter
    PUSHLOCAL 1
    ARRAYGETC 2
    EVALSEND 0
    PUSHSYM EVAL            ; setter, by SEND
    PUSHLOCAL 1
    ARRAYGETC 1
    PUSHINT 9
    SEND 1
    PUSHSYM EVAL
    PUSHLOCAL 1
    ARRAYGETC 2
    EVALSEND 0
    PUSHLOCAL 1
    ARRAYGEN 5
    POPRET
    ENDPROC
end)";

TEST_F(Codeblocks, BlocksOfOneCallShareTheDetachedLocalsAfterItReturns) {
    load(kMaker);
    collectGarbage(true);
    uint32_t base = liveObjectCount();
    Item r = call("USE");
    ASSERT_EQ(r.type, T_ARRAY);
    // after MAKER returned: the pair, the two blocks and their locals survive
    EXPECT_EQ(element(r, 1).v.l, int32_t(base + 4));
    EXPECT_EQ(element(r, 2).v.l, 5);  // the local's last value
    EXPECT_EQ(element(r, 3).v.l, 9);  // the setter's own value
    EXPECT_EQ(element(r, 4).v.l, 9);  // seen through the getter
    const Item& pair = element(r, 5);
    Codeblock* setter = record(element(pair, 1));
    Codeblock* getter = record(element(pair, 2));
    ASSERT_EQ(setter->detachedLocals.type, T_ARRAY);
    EXPECT_EQ(bodyOf(&setter->detachedLocals), bodyOf(&getter->detachedLocals));
    ObjectBody* locals = bodyOf(&getter->detachedLocals);
    EXPECT_TRUE(locals->flags & ARRAY_DETACHED);
    ASSERT_EQ(locals->length, 2u);
    // the other local is as the creator left it
    EXPECT_EQ(static_cast<Item*>(locals->data)[0].v.l, 9);
    EXPECT_EQ(static_cast<Item*>(locals->data)[1].v.l, 40);
    EXPECT_EQ(getter->definingFrame, DETACHED);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Codeblocks, BlockMadeInsideABlockUsesTheOuterCreatorsLocals) {
    load(R"(
symbol NESTMAKER proc
symbol USE proc
symbol EVAL
proc NESTMAKER
    FRAME 0 3
    PUSHINT 3
    POPLOCAL 1
    PUSHBLOCK {             ; {|| {|| x}}
        PUSHBLOCK {
            PUSHOUTER 1
            ENDBLOCK
        }
        DETACHLOCALS
        ENDBLOCK
    }
    DETACHLOCALS
    POPLOCAL 2
    PUSHSYM EVAL
    PUSHLOCAL 2
    EVALSEND 0
    POPLOCAL 3              ; an inner block made while NESTMAKER runs
    PUSHSYM EVAL
    PUSHLOCAL 3
    EVALSEND 0
    PUSHINT 6
    POPLOCAL 1
    PUSHLOCAL 2
    PUSHLOCAL 3
    ARRAYGEN 3
    POPRET
    ENDPROC
end
proc USE
    FRAME 0 2
    PUSHSYMNIL NESTMAKER
    FUNC 0
    POPLOCAL 1
    PUSHSYM EVAL            ; the inner block made while the creator ran
    PUSHLOCAL 1
    ARRAYGETC 3
    EVALSEND 0
    PUSHSYM EVAL            ; a new inner block, made after the creator returned
    PUSHLOCAL 1
    ARRAYGETC 2
    EVALSEND 0
    POPLOCAL 2
    PUSHSYM EVAL
    PUSHLOCAL 2
    EVALSEND 0
    PUSHLOCAL 1
    PUSHLOCAL 2
    ARRAYGEN 4
    POPRET
    ENDPROC
end)");
    Item r = call("USE");
    ASSERT_EQ(r.type, T_ARRAY);
    const Item& made = element(r, 3);
    EXPECT_EQ(element(made, 1).v.l, 3);  // inside the creator
    EXPECT_EQ(element(r, 1).v.l, 6);
    EXPECT_EQ(element(r, 2).v.l, 6);
    Codeblock* outer = record(element(made, 2));
    Codeblock* innerEarly = record(element(made, 3));
    Codeblock* innerLate = record(element(r, 4));
    EXPECT_EQ(bodyOf(&innerEarly->detachedLocals), bodyOf(&outer->detachedLocals));
    EXPECT_EQ(bodyOf(&innerLate->detachedLocals), bodyOf(&outer->detachedLocals));
    EXPECT_EQ(innerLate->localCount, 3);  // the creator's locals, not the outer block's
    EXPECT_TRUE(errors.empty());
}

TEST_F(Codeblocks, BlockParametersAreItsOwnLocals) {
    load(R"(
symbol P proc
symbol EVAL
proc P
    FRAME 0 1
    PUSHBLOCK {
        FRAME 2 0
        PUSHLOCAL 2
        ENDBLOCK
    }
    POPLOCAL 1
    PUSHSYM EVAL
    PUSHLOCAL 1
    ONE
    PUSHINT 2
    EVALSEND 2
    PUSHSYM EVAL
    PUSHLOCAL 1
    ONE
    EVALSEND 1
    ARRAYGEN 2
    POPRET
    ENDPROC
end)");
    Item r = call("P");
    ASSERT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(element(r, 1).v.l, 2);
    EXPECT_EQ(element(r, 2).type, T_NIL);
}

TEST_F(Codeblocks, OuterReferenceReachesTheLiveLocalAndIsNilOnceDetached) {
    load(R"(
symbol MAKER proc
symbol USE proc
symbol EVAL
symbol CBPROBE
proc MAKER
    FRAME 0 2
    PUSHBLOCK {
        PUSHSYMNIL CBPROBE
        PUSHOUTERREF 1
        DO 1
        PUSHOUTER 1
        ENDBLOCK
    }
    DETACHLOCALS
    POPLOCAL 2
    PUSHSYM EVAL
    PUSHLOCAL 2
    EVALSEND 0
    POP
    PUSHLOCAL 1
    PUSHLOCAL 2
    ARRAYGEN 2
    POPRET
    ENDPROC
end
proc USE
    FRAME 0 1
    PUSHSYMNIL MAKER
    FUNC 0
    POPLOCAL 1
    PUSHSYM EVAL
    PUSHLOCAL 1
    ARRAYGETC 2
    EVALSEND 0
    PUSHLOCAL 1
    ARRAYGETC 1
    ARRAYGEN 2
    POPRET
    ENDPROC
end)");
    Item r = call("USE");
    ASSERT_EQ(r.type, T_ARRAY);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].type, T_ITEMREF);   // while MAKER ran
    EXPECT_EQ(element(r, 2).v.l, 8);      // MAKER's local, set through it
    EXPECT_EQ(seen[1].type, T_NIL);       // after MAKER returned
    EXPECT_EQ(element(r, 1).v.l, 8);      // the block reads the detached copy
}

TEST_F(Codeblocks, MacroCodeBlocksOwnACopyOfTheirCode) {
    load(R"(
symbol P proc
symbol MACROCODE proc
symbol CBMACRO
symbol EVAL
proc MACROCODE
    PUSHBLOCK {
        PUSHINT 7
        ENDBLOCK
    }
    POPRET
    ENDPROC
end
proc P
    FRAME 0 1
    PUSHSYMNIL CBMACRO
    FUNC 0
    POPLOCAL 1
    PUSHSYM EVAL
    PUSHLOCAL 1
    EVALSEND 0
    PUSHLOCAL 1
    ARRAYGEN 2
    POPRET
    ENDPROC
end)");
    collectGarbage(true);
    int32_t before = memInUse();
    Item r = call("P");
    ASSERT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(element(r, 1).v.l, 7);
    Codeblock* cb = record(element(r, 2));
    EXPECT_EQ(cb->flags, CB_OWNED);
    const uint8_t* start = modules[0].code;
    EXPECT_TRUE(cb->code < start || cb->code >= start + modules[0].codeLength);
    EXPECT_EQ(cb->code[0], 0x36);  // PUSHINT
    itemClear(returnItem());
    collectGarbage(true);
    EXPECT_EQ(memInUse(), before);  // the copy went with its block
}

// The outer block is not bound to the locals itself and has a parameter of
// its own: the array its inner block makes must still hold all of the
// creator's locals, not as many as the outer block's FRAME declared.
TEST_F(Codeblocks, InnerBlockOfAnUnboundOuterBlockDetachesAllTheCreatorsLocals) {
    load(R"(
symbol MAKER proc
symbol USE proc
symbol EVAL
proc MAKER
    FRAME 0 3
    PUSHBLOCK {             ; {|p| {|| z}}
        FRAME 1 0
        PUSHBLOCK {
            PUSHOUTER 3
            ENDBLOCK
        }
        DETACHLOCALS
        ENDBLOCK
    }
    POPLOCAL 1
    PUSHSYM EVAL
    PUSHLOCAL 1
    EVALSEND 0
    POPLOCAL 2
    PUSHINT 9
    POPLOCAL 3
    PUSHLOCAL 2
    POPRET
    ENDPROC
end
proc USE
    PUSHSYM EVAL
    PUSHSYMNIL MAKER
    FUNC 0
    EVALSEND 0
    POPRET
    ENDPROC
end)");
    Item r = call("USE");
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(r.type, T_INTEGER);
    EXPECT_EQ(r.v.l, 9);
}
