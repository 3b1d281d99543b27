// Field access through the FieldAccess interface: no table open (the missing
// variable and alias errors with their retries), a stand-in database with the
// same name in two areas, aliased access and the aliased-expression opcodes.
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace xb;
using xb::test::VmTest;

namespace {

// A stand-in database: areas 1 and 2 open, each with two fields.
struct FakeArea {
    bool open;
    FieldDescriptor fields[2];
    std::string texts[2];
    double numbers[2];
};
FakeArea areas[4];
uint16_t current = 1;
std::vector<std::string> calls;
uint16_t getValueStatus;
uint16_t putValueStatus;

uint16_t fakeCurrent() { return current; }
bool fakeExists(uint16_t a) { return a < 4 && areas[a].open; }
uint32_t fakePosition(uint16_t a, const FieldDescriptor* d) { return uint32_t(d - areas[a].fields); }

uint16_t fakeGetValue(uint16_t a, uint32_t pos, Item* out) {
    calls.push_back("get " + std::to_string(a) + " " + std::to_string(pos));
    if (getValueStatus) return getValueStatus;
    if (out->type & M_STRING) {
        const std::string& t = areas[a].texts[pos];
        EXPECT_EQ(strLength(out), t.size());  // shaped after the descriptor
        std::memcpy(static_cast<char*>(bodyOf(out)->data), t.data(), t.size());
    } else if (out->type == T_DOUBLE) {
        out->v.d = areas[a].numbers[pos];
    }
    return 0;
}

uint16_t fakeGetVarLen(uint16_t a, uint32_t pos, uint32_t* length) {
    calls.push_back("len " + std::to_string(a) + " " + std::to_string(pos));
    *length = uint32_t(areas[a].texts[pos].size());
    return 0;
}

uint16_t fakePutValue(uint16_t a, uint32_t pos, Item* value) {
    calls.push_back("put " + std::to_string(a) + " " + std::to_string(pos));
    if (putValueStatus) return putValueStatus;
    if (value->type & M_STRING) areas[a].texts[pos].assign(strData(value), strLength(value));
    return 0;
}

uint16_t fakeSelect(uint16_t a) {
    calls.push_back("select " + std::to_string(a));
    uint16_t previous = current;
    if (a == 0) {
        a = 1;
        while (a < 4 && areas[a].open) ++a;
    }
    current = a;
    return previous;
}

const FieldAccess fakeAccess = {fakeCurrent, fakeExists,   fakePosition, fakeGetValue,
                                fakeGetVarLen, fakePutValue, fakeSelect};

FieldDescriptor field(uint16_t type, uint16_t length, uint16_t decimals, uint16_t area) {
    FieldDescriptor d{};
    d.type = type;
    d.length = length;
    d.decimals = decimals;
    d.area = area;
    return d;
}

// Opens the stand-in tables: binds every descriptor to its name's chain,
// the later area in front, as the database layer does.
void openFakeTables() {
    for (auto& a : areas) a = FakeArea{};
    areas[1].open = areas[2].open = true;
    areas[1].fields[0] = field(T_STRING, 5, 0, 1);
    areas[1].fields[1] = field(T_DOUBLE, 8, 2, 1);
    areas[1].texts[0] = "uno  ";
    areas[1].numbers[1] = 12.5;
    areas[2].fields[0] = field(T_STRING, 5, 0, 2);
    areas[2].fields[1] = field(T_MEMO, 10, 0, 2);
    areas[2].texts[0] = "dos  ";
    areas[2].texts[1] = "nota larga";
    const char* names[3][2] = {{}, {"NAME", "AMOUNT"}, {"NAME", "NOTES"}};
    for (int a = 1; a <= 2; ++a)
        for (int f = 0; f < 2; ++f) {
            GlobalSymbol* s = findOrCreateSymbol(names[a][f]);
            FieldDescriptor* d = &areas[a].fields[f];
            d->symbol = s;
            d->next = s->fieldChain;
            s->fieldChain = d;
        }
    current = 1;
    calls.clear();
    getValueStatus = putValueStatus = 0;
    setFieldAccess(&fakeAccess);
}

// Launcher for the retry tests: answers true; on the try numbered openOnTry
// it runs the action (opening the tables, binding an alias).
struct Plan {
    std::vector<ErrorDescriptor> seen;
    std::vector<std::string> operations;
    uint16_t actOnTry = 0;
    void (*action)() = nullptr;
    bool unwind = false;
};
Plan* plan;

uint16_t planLauncher(ErrorDescriptor* d, const Item*, uint16_t) {
    plan->seen.push_back(*d);
    plan->operations.push_back(d->operation);
    if (plan->unwind) {
        vm.callResult = ST_UNWIND;
        return ST_UNWIND;
    }
    if (plan->action && d->tries == plan->actOnTry) plan->action();
    itemClear(returnItem());
    returnItem()->type = T_LOGICAL;
    returnItem()->v.l = 1;
    return 0;
}

}  // namespace

class Fields : public VmTest {
protected:
    Plan p;
    void SetUp() override {
        VmTest::SetUp();
        plan = &p;
    }
    void TearDown() override {
        for (const char* n : {"NAME", "AMOUNT", "NOTES"})
            if (GlobalSymbol* s = findSymbol(n)) s->fieldChain = nullptr;
        VmTest::TearDown();
    }
    void usePlan() { errorLauncher = planLauncher; }
    static const Item& element(const Item& array, uint32_t i) { return arrayItems(&array)[i - 1]; }
};

const char* const kFieldModule = R"(
symbol MAIN proc
symbol READ proc
symbol WRITE proc
symbol VARIABLE proc
symbol ALIASED proc
symbol ALIASWRITE proc
symbol NAME
symbol AMOUNT
symbol NOTES
symbol B
symbol NOALIAS
proc READ
    PUSHFIELD NAME
    POPRET
    ENDPROC
end
proc WRITE
    PUSHSTR "nuevo"
    POPFIELD NAME
    ENDPROC
end
proc VARIABLE
    PUSHVARIABLE NAME
    POPRET
    ENDPROC
end
proc MAIN
    PUSHFIELD NAME
    PUSHFIELD AMOUNT
    PUSHALIAS B
    PUSHALIASFIELD NAME
    PUSHALIAS B
    PUSHALIASFIELD NOTES
    ARRAYGEN 4
    POPRET
    ENDPROC
end
proc ALIASED
    PUSHALIAS B
    ALIASSELECT
    PUSHFIELD NAME          ; runs in area 2
    ALIASRESTORE
    PUSHFIELD NAME          ; back in area 1
    ARRAYGEN 2
    POPRET
    ENDPROC
end
proc ALIASWRITE
    PUSHSTR "otro"
    PUSHALIAS B
    POPALIASFIELD NAME
    PUSHALIAS NOALIAS
    POPRET
    ENDPROC
end)";

TEST_F(Fields, WithNoTableOpenFieldReadAndWriteRaiseTheMissingVariableError) {
    load(kFieldModule);
    usePlan();
    p.unwind = true;
    call("READ");
    EXPECT_EQ(lastStatus, ST_UNWIND);
    call("WRITE");
    EXPECT_EQ(lastStatus, ST_UNWIND);
    ASSERT_EQ(p.seen.size(), 2u);
    for (const ErrorDescriptor& d : p.seen) {
        EXPECT_EQ(d.genCode, EG_NOVAR);
        EXPECT_EQ(d.subCode, 1003);
        EXPECT_EQ(d.flags, EF_RETRY);
        EXPECT_EQ(d.tries, 1);
    }
    EXPECT_EQ(p.operations[0], "NAME");
    EXPECT_EQ(vm.top, vm.stack);
}

TEST_F(Fields, FieldReadLooksAgainAfterEveryRetry) {
    load(kFieldModule);
    usePlan();
    p.actOnTry = 2;
    p.action = openFakeTables;
    Item r = call("READ");
    EXPECT_EQ(lastStatus, 0);
    EXPECT_EQ(text(r), "uno  ");
    ASSERT_EQ(p.seen.size(), 2u);
    EXPECT_EQ(p.seen[1].tries, 2);
}

TEST_F(Fields, PushVariablePrefersTheFieldAndFallsBackToTheMemvar) {
    load(kFieldModule);
    usePlan();
    Item* v = newPublic(findSymbol("NAME"));
    v->v.l = 1;  // .T.
    Item r = call("VARIABLE");
    EXPECT_EQ(r.type, T_LOGICAL);
    EXPECT_TRUE(p.seen.empty());

    openFakeTables();
    r = call("VARIABLE");
    EXPECT_EQ(text(r), "uno  ");
    current = 3;  // an empty area: the name is a memory variable again
    r = call("VARIABLE");
    EXPECT_EQ(r.type, T_LOGICAL);
}

TEST_F(Fields, ValuesAreShapedAfterTheDescriptorOfTheWantedArea) {
    load(kFieldModule);
    openFakeTables();
    Item r = call("MAIN");
    ASSERT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(text(element(r, 1)), "uno  ");
    const Item& amount = element(r, 2);
    EXPECT_EQ(amount.type, T_DOUBLE);
    EXPECT_EQ(amount.width, 8);
    EXPECT_EQ(amount.decimals, 2);
    EXPECT_EQ(amount.v.d, 12.5);
    EXPECT_EQ(text(element(r, 3)), "dos  ");  // same name, the alias's area
    const Item& notes = element(r, 4);
    EXPECT_EQ(notes.type, T_MEMO);
    EXPECT_EQ(text(notes), "nota larga");
    std::vector<std::string> want = {"get 1 0", "get 1 1", "get 2 0", "len 2 1", "get 2 1"};
    EXPECT_EQ(calls, want);
}

TEST_F(Fields, AliasedExpressionSelectsTheAreaAndRestoresIt) {
    load(kFieldModule);
    openFakeTables();
    Item r = call("ALIASED");
    ASSERT_EQ(r.type, T_ARRAY);
    EXPECT_EQ(text(element(r, 1)), "dos  ");
    EXPECT_EQ(text(element(r, 2)), "uno  ");
    EXPECT_EQ(current, 1);
    std::vector<std::string> want = {"select 2", "get 2 0", "select 1", "get 1 0"};
    EXPECT_EQ(calls, want);
}

TEST_F(Fields, AliasSelectTakesNamesNumbersAndOtherwiseTheLowestFreeArea) {
    load(kFieldModule);
    openFakeTables();
    auto select = [](const Item& selector) {
        push(&selector);
        extTable()[OP_ALIASSELECT - 126]();
        Item saved = *vm.top;
        pop();
        return saved;
    };
    pushString(" b ", 3);  // alias names are trimmed and upper-cased
    Item name = *vm.top;
    Item saved = select(name);
    pop();
    EXPECT_EQ(saved.type, T_INTEGER);
    EXPECT_EQ(saved.v.l, 1);
    EXPECT_EQ(current, 2);
    select(intItem(1));
    EXPECT_EQ(current, 1);
    select(logicalItem(true));  // neither alias, number nor name: area 0
    EXPECT_EQ(current, 3);
    Item unknown{};
    pushString("NINGUNO", 7);
    unknown = *vm.top;
    select(unknown);
    pop();
    EXPECT_EQ(calls.back(), "select 0");
}

TEST_F(Fields, WritesGoToTheAreaOfTheAliasAndAMissingAliasRetries) {
    load(kFieldModule);
    openFakeTables();
    usePlan();
    p.actOnTry = 2;
    p.action = [] { findSymbol("NOALIAS")->aliasArea = 7; };
    Item r = call("ALIASWRITE");
    EXPECT_EQ(areas[2].texts[0], "otro");
    EXPECT_EQ(areas[1].texts[0], "uno  ");
    EXPECT_EQ(r.type, T_ALIAS);
    EXPECT_EQ(r.v.area, 7);
    ASSERT_EQ(p.seen.size(), 2u);
    EXPECT_EQ(p.seen[0].genCode, EG_NOALIAS);
    EXPECT_EQ(p.seen[0].subCode, 1002);
    EXPECT_EQ(p.seen[0].flags, EF_RETRY);
    EXPECT_EQ(p.operations[0], "NOALIAS");
    EXPECT_EQ(p.seen[1].tries, 2);
}

TEST_F(Fields, DriverFailuresLeaveTheStackAsItWas) {
    load(kFieldModule);
    openFakeTables();
    Item* before = vm.top;
    getValueStatus = ST_UNWIND;
    EXPECT_EQ(pushField(&areas[1].fields[0]), ST_UNWIND);
    EXPECT_EQ(vm.top, before);  // the shaped Item was popped again

    putValueStatus = opStatus(errorWord(1234, 0, false));
    pushLong(5);
    EXPECT_EQ(popField(&areas[1].fields[0]), putValueStatus);
    EXPECT_EQ(vm.top, before + 1);  // a refused value stays
    putValueStatus = 0;
    EXPECT_EQ(popField(&areas[1].fields[0]), 0);
    EXPECT_EQ(vm.top, before);
}

TEST_F(Fields, ADescriptorOfAnAreaThatIsNotOpenIsFatal) {
    load(kFieldModule);
    openFakeTables();
    areas[1].open = false;  // the chain still names area 1
    EXPECT_EXIT(call("READ"), ::testing::ExitedWithCode(1), "1101");
}
