// RELEASE ALL [LIKE | EXCEPT] on the privates of the calling procedure (a
// pcode procedure creates them and calls the native), and ACCEPT, INPUT and
// INKEY(0) reading standard input (fed through the file layer's read).
#include "tests/support/vm_fixture.h"
#include "tests/support/native_call.h"

#include <string>

#include "runtime/files.h"

using namespace xb;
using xb::test::invoke;
using xb::test::VmTest;

namespace {

std::string* input = nullptr;
std::string* written = nullptr;

bool feedRead(os::Handle h, void* buf, uint32_t n, uint32_t* done) {
    if (h != os::stdInput() || !input) return defaultFileSyscalls().readFile(h, buf, n, done);
    uint32_t k = n < input->size() ? n : uint32_t(input->size());
    input->copy(static_cast<char*>(buf), k);
    input->erase(0, k);
    *done = k;
    return true;
}

bool captureWrite(os::Handle h, const void* buf, uint32_t n, uint32_t* done) {
    if (h == 1 && written) {
        written->append(static_cast<const char*>(buf), n);
        *done = n;
        return true;
    }
    return defaultFileSyscalls().writeFile(h, buf, n, done);
}

class ReleaseAll : public VmTest {
protected:
    // MAIN(mask, like): privates AB, AC and XY of 1, 2, 3; the release; then
    // {AB, AC, XY} as the procedure sees them.
    void SetUp() override {
        VmTest::SetUp();
        load(R"(symbol MAIN proc
symbol RELALL proc
symbol __MVRELEASEALL
symbol AB
symbol AC
symbol XY
proc MAIN
    FRAME 2 0
    PUSHSYM AB
    PUSHSYM AC
    PUSHSYM XY
    PRIVATE 3
    PUSHINT 1
    POPMEMVAR AB
    PUSHINT 2
    POPMEMVAR AC
    PUSHINT 3
    POPMEMVAR XY
    PUSHSYMNIL RELALL
    DO 0
    PUSHSYMNIL __MVRELEASEALL
    PUSHLOCAL 1
    PUSHLOCAL 2
    DO 2
    PUSHMEMVAR AB
    PUSHMEMVAR AC
    PUSHMEMVAR XY
    ARRAYGEN 3
    POPRET
    ENDPROC
end
proc RELALL
    PUSHSYMNIL __MVRELEASEALL
    DO 0
    ENDPROC
end)");
    }
    std::string run(const Item& mask, const Item& like) {
        Item r = call("MAIN", {mask, like});
        std::string out;
        if (r.type != T_ARRAY) return "not an array";
        for (uint32_t i = 0; i < arrayLength(&r); ++i) {
            const Item& e = arrayItems(&r)[i];
            out += e.type == T_NIL ? "NIL" : std::to_string(e.v.l);
            out += i + 1 < arrayLength(&r) ? " " : "";
        }
        return out;
    }
    Item text(const char* s) {
        Item* t = tempAlloc();
        makeString(t, s, uint32_t(std::strlen(s)));
        pinned.push_back(t);
        return *t;
    }
    std::vector<Item*> pinned;
    void TearDown() override {
        for (Item* t : pinned) tempRelease(t);
        VmTest::TearDown();
    }
};

TEST_F(ReleaseAll, ReleasesTheCallersPrivatesAllLikeOrExcept) {
    // RELALL releases nothing of MAIN's: the privates belong to MAIN
    EXPECT_EQ(run(nilItem(), nilItem()), "NIL NIL NIL");
    EXPECT_EQ(run(text("A*"), logicalItem(true)), "NIL NIL 3");
    EXPECT_EQ(run(text("a?"), logicalItem(false)), "1 2 NIL");
    EXPECT_EQ(run(text("*B"), logicalItem(true)), "NIL 2 3");
    EXPECT_TRUE(errors.empty());
}

class StandardInput : public VmTest {
protected:
    std::string in, out;
    void SetUp() override {
        VmTest::SetUp();
        load("symbol MAIN proc\nproc MAIN\n    ENDPROC\nend\n");
        input = &in;
        written = &out;
        fileSyscalls().readFile = feedRead;
        fileSyscalls().writeFile = captureWrite;
    }
    void TearDown() override {
        fileSyscalls() = defaultFileSyscalls();
        input = nullptr;
        written = nullptr;
        VmTest::TearDown();
    }
};

TEST_F(StandardInput, AcceptReadsLinesAndTheEndOfInputIsEmpty) {
    in = "first line\r\nsecond\nlast";
    EXPECT_EQ(test::textOf(invoke("__ACCEPT", {"Name: "})), "first line");
    EXPECT_EQ(out, "Name: ");
    EXPECT_EQ(test::textOf(invoke("__ACCEPT")), "second");
    EXPECT_EQ(test::textOf(invoke("__ACCEPT")), "last");
    EXPECT_EQ(test::textOf(invoke("__ACCEPT")), "");
    EXPECT_TRUE(errors.empty());
}

TEST_F(StandardInput, InputEvaluatesTheLineAndAnEmptyLineIsNil) {
    in = "1 + 2 * 3\n\n'abc' + 'd'\n{1, 2}\n";
    Item a = invoke("__INPUT", {"? "});
    EXPECT_EQ(itemDouble(&a), 7);
    EXPECT_EQ(invoke("__INPUT").type, T_NIL);
    EXPECT_EQ(test::textOf(invoke("__INPUT")), "abcd");
    Item arr = invoke("__INPUT");
    ASSERT_EQ(arr.type, T_ARRAY);
    EXPECT_EQ(arrayLength(&arr), 2u);
    EXPECT_EQ(out, "? ");
    EXPECT_TRUE(errors.empty());
    // an expression that fails raises as the & operator does
    in = "1 + 'a'\n";
    answerWith(intItem(9));
    Item r = invoke("__INPUT");
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(r.v.l, 9);
}

TEST_F(StandardInput, InkeyZeroReadsTheNextByte) {
    in = "Az";
    EXPECT_EQ(invoke("INKEY", {0}).v.l, 'A');
    EXPECT_EQ(invoke("INKEY").v.l, 0);  // without an argument nothing waits
    EXPECT_EQ(invoke("INKEY", {0}).v.l, 'z');
    EXPECT_EQ(invoke("INKEY", {0}).v.l, 0);  // end of input
    invoke("INKEY", {"x"});
    EXPECT_EQ(errors.size(), 1u);
}

}  // namespace
