// The error system end to end on the interpreter: the ErrorObject of a raise
// and its messages, the error block and its answers (substitute, default,
// unwinding, the failure stops), ERRORBLOCK, NETERR, DOSERROR, PROCNAME and
// PROCLINE.
#include "tests/support/errorsys_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace xb;
using namespace xb::test;

namespace {

// What the error block's ESTKEEP saw and answers.
Item* keptObject;     // the last ErrorObject (a static-area temporary)
Item keepAnswer;      // ESTKEEP's result, the block's answer
int keepCalls;

void resetKeep() {
    keptObject = nullptr;
    itemClear(&keepAnswer);
    keepCalls = 0;
}

Item intValue(int32_t v) {
    Item it{};
    it.type = T_INTEGER;
    it.v.l = v;
    return it;
}

Item logicalValue(bool b) {
    Item it{};
    it.type = T_LOGICAL;
    it.v.l = b;
    return it;
}

std::vector<std::pair<std::string, int>> traced;

}  // namespace

XB_NATIVE(fnEstKeep, "ESTKEEP") {
    ++keepCalls;
    if (!keptObject) keptObject = tempAlloc();
    if (Item* e = paramItem(1, M_ANY)) *keptObject = *e;
    retItem(&keepAnswer);
    return 0;
}

// Raises an open error on a table with the call's arguments as operands.
XB_NATIVE(fnEstRaiseOpen, "ESTRAISEOPEN") {
    ErrorDescriptor d{};
    d.severity = 2;
    d.genCode = EG_OPEN;
    d.osCode = 32;
    d.flags = EF_DEFAULT | EF_RETRY;
    d.tries = 2;
    d.subCode = 1001;
    d.subsystem = "DBF";
    d.operation = "DBUSEAREA";
    d.fileName = "clientes.dbf";
    return raiseError(&d, vm.frame + 2, paramCount());
}

XB_NATIVE(fnEstArgError, "ESTARGERROR") { return argumentError("PRUEBA", 3001, EF_SUBSTITUTE | EF_RETRY); }

XB_NATIVE(fnEstNoArea, "ESTNOAREA") {
    uint16_t r = noAreaError("DBCMD", 2001);
    if (r == 0) retInt(-7);  // the default of this function
    return r;
}

// PROCNAME and PROCLINE of every level, called the way pcode calls them.
XB_NATIVE(fnEstTrace, "ESTTRACE") {
    traced.clear();
    for (int32_t level = 0; level < 8; ++level) {
        pushSymbol(findSymbol("PROCNAME"));
        pushNil();
        pushLong(level);
        callSequence(1, CALL_FUNC);
        std::string name = (vm.top->type & M_STRING) ? std::string(strData(vm.top), strLength(vm.top)) : "?";
        pop();
        pushSymbol(findSymbol("PROCLINE"));
        pushNil();
        pushLong(level);
        callSequence(1, CALL_FUNC);
        int line = vm.top->v.l;
        pop();
        traced.emplace_back(name, line);
        if (name.empty()) break;
    }
    return 0;
}

namespace {

const char* const kErrorModule = R"(
symbol SETBLOCK proc
symbol SETBREAKBLOCK proc
symbol CATCH proc
symbol BADCOND proc
symbol ERRORBLOCK
symbol ESTKEEP
symbol ESTRAISEOPEN
symbol GENCODE
proc SETBLOCK
    PUSHSYMNIL ERRORBLOCK
    PUSHBLOCK {
        FRAME 1 0
        PUSHSYMNIL ESTKEEP
        PUSHLOCAL 1
        FUNC 1
        ENDBLOCK
    }
    DO 1
    ENDPROC
end
proc SETBREAKBLOCK
    PUSHSYMNIL ERRORBLOCK
    PUSHBLOCK {
        FRAME 1 0
        PUSHLOCAL 1
        BREAK
        ENDBLOCK
    }
    DO 1
    ENDPROC
end
proc CATCH
    LINE 4
    SEQBEGIN recover
    PUSHSYMNIL ESTRAISEOPEN
    ONE
    FUNC 1
    POP
    SEQEND
    ZERO
    POPRET
    JUMP done
recover:
    PUSHSYM GENCODE
    PUSHRET
    SEND 0
    POPRET
done:
    ENDPROC
end
proc BADCOND
    LINE 3
    LINE 7
    PUSHINT 5
    JUMPFALSE 0
    ENDPROC
end
)";

class ErrorSysTest : public ErrorSystemTest {
protected:
    void SetUp() override {
        ErrorSystemTest::SetUp();
        resetKeep();
    }
    void TearDown() override {
        resetKeep();
        ErrorSystemTest::TearDown();
    }
    // The running ErrorObject's answer to a message.
    Item ask(const char* message, std::initializer_list<Item> args = {}) { return send(*keptObject, message, args); }
};

}  // namespace

TEST_F(ErrorSysTest, RaiseBuildsTheErrorObjectAndTheBlockAnswers) {
    start(kErrorModule);
    call("SETBLOCK");
    keepAnswer = intValue(55);
    Item* arg = keepString("abc");
    Item r = call("ESTRAISEOPEN", {intValue(1), *arg});
    EXPECT_EQ(r.v.l, 55);
    ASSERT_EQ(keepCalls, 1);
    ASSERT_NE(keptObject, nullptr);

    EXPECT_TRUE(isObject(keptObject));
    EXPECT_EQ(arrayLength(keptObject), EO_ELEMENTS);
    EXPECT_EQ(objectClass(keptObject), errorClass());
    EXPECT_EQ(text(ask("CLASSNAME")), "ERROR");
    EXPECT_EQ(ask("CLASSH").v.l, errorClass());
    EXPECT_EQ(text(ask("SUBSYSTEM")), "DBF");
    EXPECT_EQ(ask("GENCODE").v.l, EG_OPEN);
    EXPECT_EQ(ask("OSCODE").v.l, 32);
    EXPECT_EQ(ask("SUBCODE").v.l, 1001);
    EXPECT_EQ(ask("SEVERITY").v.l, 2);
    EXPECT_EQ(ask("TRIES").v.l, 2);
    EXPECT_TRUE(ask("CANDEFAULT").v.l);
    EXPECT_TRUE(ask("CANRETRY").v.l);
    EXPECT_FALSE(ask("CANSUBSTITUTE").v.l);
    EXPECT_EQ(ask("CANSUBSTITUTE").type, T_LOGICAL);
    EXPECT_EQ(text(ask("OPERATION")), "DBUSEAREA");
    EXPECT_EQ(text(ask("DESCRIPTION")), "Error de apertura");
    EXPECT_EQ(text(ask("FILENAME")), "clientes.dbf");
    EXPECT_EQ(ask("CARGO").type, T_NIL);
    Item args = ask("ARGS");
    ASSERT_EQ(args.type, T_ARRAY);
    ASSERT_EQ(arrayLength(&args), 2u);
    EXPECT_EQ(arrayItems(&args)[0].v.l, 1);
    EXPECT_EQ(text(arrayItems(&args)[1]), "abc");
    // element 1: the descriptor's numeric fields in 28 bytes
    const Item* bytes = arrayItems(keptObject);
    ASSERT_TRUE(bytes->type & M_STRING);
    EXPECT_EQ(strLength(bytes), EO_BYTES);
    EXPECT_EQ(call("DOSERROR").v.l, 32);
    EXPECT_FALSE(inErrorHandler());
    EXPECT_EQ(vm.top, vm.stack);

    ClassRecord* c = classRecord(errorClass());
    EXPECT_EQ(c->methodCount, 29);
    EXPECT_EQ(c->methodCapacity, 29);
    ASSERT_NE(memClassSystemStarted, nullptr);
    EXPECT_TRUE(memClassSystemStarted());
}

TEST_F(ErrorSysTest, ErrorObjectAssignmentRules) {
    start(kErrorModule);
    call("SETBLOCK");
    keepAnswer = intValue(55);
    call("ESTRAISEOPEN");
    Item* e = keep(*keptObject);
    auto to = [&](const char* m, std::initializer_list<Item> a = {}) { return send(*e, m, a); };

    EXPECT_EQ(to("ARGS").type, T_NIL);  // no operands: no array
    EXPECT_EQ(to("_GENCODE", {intValue(5)}).v.l, 5);
    EXPECT_EQ(to("GENCODE").v.l, 5);
    EXPECT_EQ(text(to("DESCRIPTION")), "Divisi\xF3n por cero");

    Item* x = keepString("x");
    EXPECT_EQ(to("_CANRETRY", {*x}).type, T_NIL);
    EXPECT_TRUE(to("CANRETRY").v.l);
    EXPECT_TRUE(to("CANDEFAULT").v.l);
    Item f = to("_CANRETRY", {logicalValue(false)});
    EXPECT_EQ(f.type, T_LOGICAL);
    EXPECT_FALSE(f.v.l);
    EXPECT_FALSE(to("CANRETRY").v.l);
    EXPECT_TRUE(to("CANDEFAULT").v.l);
    to("_CANSUBSTITUTE", {logicalValue(true)});
    EXPECT_TRUE(to("CANSUBSTITUTE").v.l);

    EXPECT_EQ(to("_SUBSYSTEM", {intValue(5)}).v.l, 5);  // answered, not stored
    EXPECT_EQ(text(to("SUBSYSTEM")), "DBF");
    EXPECT_EQ(text(to("_SUBSYSTEM", {*x})), "x");
    EXPECT_EQ(text(to("SUBSYSTEM")), "x");
    to("_ARGS", {*x});
    EXPECT_EQ(to("ARGS").type, T_NIL);
    to("_FILENAME", {logicalValue(true)});
    EXPECT_EQ(text(to("FILENAME")), "clientes.dbf");
    to("_CARGO", {logicalValue(true)});
    EXPECT_EQ(to("CARGO").type, T_LOGICAL);
    EXPECT_EQ(to("_SUBCODE", {doubleItem(12.7, 4, 1)}).type, T_DOUBLE);
    EXPECT_EQ(to("SUBCODE").v.l, 12);
    EXPECT_EQ(to("_SEVERITY", {intValue(0)}).v.l, 0);
    EXPECT_EQ(to("SEVERITY").v.l, 0);
    EXPECT_EQ(to("GENCODE").v.l, 5);  // the fields are independent
    EXPECT_EQ(keepCalls, 1);

    // a negative number is the argument error of subsystem "ERROR"
    keepAnswer = intValue(77);
    Item r = to("_TRIES", {intValue(-1)});
    EXPECT_EQ(r.v.l, 77);  // the handler's substitute is the message's answer
    ASSERT_EQ(keepCalls, 2);
    EXPECT_EQ(text(ask("SUBSYSTEM")), "ERROR");
    EXPECT_EQ(ask("GENCODE").v.l, EG_ARG);
    EXPECT_EQ(ask("SUBCODE").v.l, 0);
    EXPECT_EQ(text(ask("OPERATION")), "_TRIES");
    EXPECT_TRUE(ask("CANSUBSTITUTE").v.l);
    Item args = ask("ARGS");
    ASSERT_EQ(args.type, T_ARRAY);
    ASSERT_EQ(arrayLength(&args), 1u);
    EXPECT_EQ(arrayItems(&args)[0].v.l, -1);
    EXPECT_EQ(to("TRIES").v.l, 2);
    to("_OSCODE", {*x});
    EXPECT_EQ(keepCalls, 3);
    to("_GENCODE", {Item{}});
    EXPECT_EQ(keepCalls, 4);
    EXPECT_EQ(to("GENCODE").v.l, 5);
}

TEST_F(ErrorSysTest, ErrorBlockIsReplacedClearedAndKeptInOneTemporary) {
    start(kErrorModule);
    EXPECT_EQ(call("ERRORBLOCK").type, T_NIL);
    Item* low = vm.staticsLow;
    call("SETBLOCK");
    ASSERT_NE(currentErrorBlock(), nullptr);
    Item* first = keep(*currentErrorBlock());
    EXPECT_EQ(call("ERRORBLOCK").type, T_BLOCK);  // no argument: asks only
    ASSERT_NE(currentErrorBlock(), nullptr);
    Item previous = call("ERRORBLOCK", {intValue(5)});
    EXPECT_EQ(previous.type, T_BLOCK);
    EXPECT_EQ(bodyOf(&previous), bodyOf(first));
    EXPECT_EQ(currentErrorBlock(), nullptr);
    EXPECT_EQ(call("ERRORBLOCK").type, T_NIL);
    for (int i = 0; i < 10; ++i) {
        call("SETBLOCK");
        call("ERRORBLOCK", {Item{}});
    }
    EXPECT_EQ(currentErrorBlock(), nullptr);
    EXPECT_GE(vm.staticsLow, low - 2);  // the block's temporary is given back each time
}

TEST_F(ErrorSysTest, SubstituteDefaultAndUnwind) {
    start(kErrorModule);
    call("SETBLOCK");
    keepAnswer = intValue(42);
    Item* arg = keepString("q");
    EXPECT_EQ(call("ESTARGERROR", {*arg}).v.l, 42);
    EXPECT_EQ(text(ask("SUBSYSTEM")), "PRUEBA");
    EXPECT_EQ(ask("SUBCODE").v.l, 3001);
    EXPECT_EQ(text(ask("OPERATION")), "ESTARGERROR");
    EXPECT_EQ(text(ask("DESCRIPTION")), "Error de argumento");
    EXPECT_FALSE(ask("CANRETRY").v.l);  // a function error never retries
    Item* args = keep(ask("ARGS"));
    ASSERT_EQ(arrayLength(args), 1u);
    EXPECT_EQ(text(arrayItems(args)[0]), "q");

    keepAnswer = logicalValue(false);
    EXPECT_EQ(call("ESTNOAREA").v.l, -7);
    EXPECT_EQ(ask("GENCODE").v.l, EG_NOTABLE);
    EXPECT_TRUE(ask("CANDEFAULT").v.l);

    // the block breaks out: the raise unwinds to the RECOVER of CATCH
    call("SETBREAKBLOCK");
    EXPECT_EQ(call("CATCH").v.l, EG_OPEN);
    EXPECT_FALSE(inErrorHandler());
    EXPECT_EQ(vm.top, vm.stack);
    // and the next raise is handled normally
    call("SETBLOCK");
    keepAnswer = intValue(9);
    EXPECT_EQ(call("ESTARGERROR").v.l, 9);
}

TEST_F(ErrorSysTest, UndefinedFunctionReachesTheBlockWithItsArguments) {
    start({kErrorModule, R"(
symbol CALLMISSING proc
symbol NOSUCHFUNCTION
proc CALLMISSING
    PUSHSYMNIL NOSUCHFUNCTION
    PUSHINT 3
    PUSHINT 4
    FUNC 2
    POPRET
    ENDPROC
end
)"});
    call("SETBLOCK");
    keepAnswer = intValue(12);
    EXPECT_EQ(call("CALLMISSING").v.l, 12);
    EXPECT_EQ(ask("GENCODE").v.l, EG_NOFUNC);
    EXPECT_EQ(ask("SUBCODE").v.l, 1001);
    EXPECT_EQ(text(ask("OPERATION")), "NOSUCHFUNCTION");
    EXPECT_EQ(text(ask("DESCRIPTION")), "Funci\xF3n no definida");
    Item* args = keep(ask("ARGS"));
    ASSERT_EQ(arrayLength(args), 2u);
    EXPECT_EQ(arrayItems(args)[1].v.l, 4);
}

TEST_F(ErrorSysTest, QuietModeIsTypesAloneNativesRaiseNormally) {
    start(kErrorModule);
    call("SETBLOCK");
    keepAnswer = intValue(1);
    vm.frameFlags = FF_QUIET;
    EXPECT_EQ(call("ESTARGERROR").v.l, 1);
    vm.frameFlags = 0;
    EXPECT_EQ(keepCalls, 1);
}

TEST_F(ErrorSysTest, RaiseInsideTheErrorBlockEndsSilently) {
    start({kErrorModule, R"(
symbol BADBLOCK proc
symbol ERRORBLOCK
symbol NOSUCHFUNCTION
proc BADBLOCK
    PUSHSYMNIL ERRORBLOCK
    PUSHBLOCK {
        FRAME 1 0
        PUSHSYMNIL NOSUCHFUNCTION
        FUNC 0
        ENDBLOCK
    }
    DO 1
    ENDPROC
end
)"});
    call("BADBLOCK");
    EXPECT_EXIT(call("BADCOND"), ::testing::ExitedWithCode(1), "^$");
}

// (The death-test output of a Windows child is read in text mode: a written
// "\r\n" arrives as "\n".)
TEST_F(ErrorSysTest, NoErrorBlockReportsWhere) {
    start(kErrorModule);
    EXPECT_EXIT(call("BADCOND"), ::testing::ExitedWithCode(1), "^\r?\nNo ERRORBLOCK\\(\\) for error at: BADCOND \\(7\\)$");
}

TEST_F(ErrorSysTest, AnswersThatDoNotFitTheFlagsStop) {
    start(kErrorModule);
    call("SETBLOCK");
    keepAnswer = logicalValue(false);  // no default for an operator error
    EXPECT_EXIT(call("BADCOND"), ::testing::ExitedWithCode(1),
                "^\r?\nFallo en la recuperaci.n de un error, BADCOND \\(7\\)$");
    keepAnswer = logicalValue(true);  // no retry for a missing work area
    EXPECT_EXIT(call("ESTNOAREA"), ::testing::ExitedWithCode(1),
                "^\r?\nFallo en la recuperaci.n de un error, ESTNOAREA \\(0\\)$");
}

TEST_F(ErrorSysTest, MemoryExhaustionIsFatalError5304) {
    start(kErrorModule);
    ASSERT_NE(memExhausted, nullptr);
    EXPECT_EXIT(memExhausted(), ::testing::ExitedWithCode(1), "^  Error no recuperable 5304: Error interno\r?\n$");
}

TEST_F(ErrorSysTest, NetErrAndDosError) {
    start(kErrorModule);
    EXPECT_FALSE(call("NETERR").v.l);
    EXPECT_FALSE(call("NETERR", {logicalValue(true)}).v.l);
    EXPECT_TRUE(call("NETERR").v.l);
    EXPECT_TRUE(call("NETERR", {intValue(0)}).v.l);  // not a logical: unchanged
    EXPECT_TRUE(netErr());
    setNetErr(false);
    EXPECT_FALSE(call("NETERR").v.l);

    setLastOsCode(0);
    EXPECT_EQ(call("DOSERROR", {intValue(5)}).v.l, 0);
    EXPECT_EQ(lastOsCode(), 5);
    EXPECT_EQ(call("DOSERROR", {doubleItem(21.0)}).v.l, 5);
    EXPECT_EQ(call("DOSERROR").v.l, 21);
}

TEST_F(ErrorSysTest, ProcNameAndProcLineOfProceduresBlocksAndMethods) {
    start(R"(
symbol MAIN proc
symbol SUB proc
symbol DONDE proc
symbol CALLMETHOD proc
symbol ESTTRACE
symbol EVAL
proc MAIN
    LINE 3
    PUSHSYMNIL SUB
    DO 0
    ENDPROC
end
proc SUB
    LINE 10
    PUSHSYM EVAL
    PUSHBLOCK {
        LINE 11
        PUSHSYMNIL ESTTRACE
        DO 0
        PUSHNIL
        ENDBLOCK
    }
    EVALSEND 0
    POP
    ENDPROC
end
proc DONDE
    LINE 20
    PUSHSYMNIL ESTTRACE
    DO 0
    ENDPROC
end
proc CALLMETHOD
    FRAME 1 0
    LINE 30
    PUSHSYM DONDE
    PUSHLOCAL 1
    SEND 0
    POP
    ENDPROC
end
)");
    call("MAIN");
    using Level = std::pair<std::string, int>;
    EXPECT_EQ(traced, (std::vector<Level>{{"ESTTRACE", 0}, {"(b)SUB", 11}, {"SUB", 10}, {"MAIN", 3}, {"", 0}}));

    uint16_t h = classCreate(4, findOrCreateSymbol("PUNTO"));
    classAddMessage(h, findOrCreateSymbol("DONDE"), findSymbol("DONDE")->function);
    Item* obj = tempAlloc();
    classInstantiate(h, obj);
    call("CALLMETHOD", {*obj});
    EXPECT_EQ(traced, (std::vector<Level>{{"ESTTRACE", 0}, {"PUNTO:DONDE", 20}, {"CALLMETHOD", 30}, {"", 0}}));

    EXPECT_EQ(text(call("PROCNAME", {intValue(-1)})), "");
    EXPECT_EQ(call("PROCLINE", {intValue(-1)}).v.l, 0);
}
