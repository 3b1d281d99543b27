// The default error handling end to end: small programs run by xbrun (the
// native build, or xbrun.exe when this is the Windows test binary) behind the
// six standard modules, with the report read byte for byte from the Error.txt
// beside a private copy of the runner. Then, in process over the same
// compiled modules, what the lock-retry wrapper and DEFERROR answer to
// raises that no pcode-reachable function produces yet (lock and
// append-lock failures, sharing violations).
#include "modules/modules.h"
#include "tests/support/errorsys_fixture.h"
#include "tests/support/program_run.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace xb;
using namespace xb::test;

namespace {

// Every program declares this exit procedure: its marker in Error.txt shows
// that (and when) the exit procedures ran.
const char* const kByeProc = R"(
proc BYE
    PUSHSYMNIL OUTERR
    PUSHSTR "[salida]"
    DO 1
    ENDPROC
end
)";

class ErrorRunTest : public ::testing::Test {
protected:
    ProgramRun scratch;
    std::string xbrun;

    void SetUp() override {
        xbrun = scratch.copyProgram("xbrun");
        if (xbrun.empty()) GTEST_SKIP() << "xbrun was not built (build all targets)";
    }

    // Runs the module text (its BYE exit procedure appended).
    RunResult runModule(const std::string& text) {
        std::string file = scratch.write("prog.xbasm", text + kByeProc);
        return scratch.run(xbrun, {file});
    }
    std::string log() const { return scratch.read("Error.txt"); }

    // What one piece of the error output looks like on standard error: xbrun
    // is a console program, which writes every piece there as it is (where
    // the windowed product shows a message box per piece).
    static std::string box(const std::string& text) { return text; }
    static bool boxesVisible() {
#ifdef _WIN32
        return false;  // the run helper does not capture standard error there
#else
        return true;
#endif
    }
};

TEST_F(ErrorRunTest, UndefinedFunctionWritesTheReportAndQuitsWithLevelOne) {
    // Left over by an earlier run: the first write of this one empties it.
    scratch.write("Error.txt", "viejo informe que debe desaparecer\r\n");
    RunResult r = runModule(R"(
symbol MAIN proc
symbol NOSUCHFUNC
symbol BYE exit proc
symbol OUTERR
proc MAIN
    LINE 5
    PUSHSYMNIL NOSUCHFUNC
    DO 0
    LINE 6
    PUSHSYMNIL OUTERR
    PUSHSTR "[no debe verse]"
    DO 1
    ENDPROC
end
)");
    EXPECT_EQ(r.exitCode, 1);
    // DEFERROR's levels start at 2: the wrapper of INITHANDLER$ and its
    // handler come first, then the routine standing for the missing
    // function, then MAIN. No " (DOS Error" part for osCode 0.
    const std::string report =
        "Error BASE/1001  Funci\xF3n no definida: NOSUCHFUNC\r\n"
        "\r\n- Llamado desde LOCKERRHANDLER(19)  "
        "\r\n- Llamado desde (b)INITHANDLER$(28)  "
        "\r\n- Llamado desde NOSUCHFUNC(0)  "
        "\r\n- Llamado desde MAIN(5)  ";
    // __QUIT is a normal way out: the exit procedure runs after the report
    EXPECT_EQ(log(), report + "[salida]");
    if (boxesVisible()) {
        EXPECT_EQ(r.err, box(report) + box("[salida]"));
    }
}

TEST_F(ErrorRunTest, ExitProceduresAfterAReportHaveTheirErrorsHandled) {
    // __QUIT leaves the error block for good: in the exit procedure that
    // runs then, a division by zero still gives 0, and an undefined call is
    // reported in turn (that report's stack runs down through __QUIT into
    // the first error's frames).
    std::string file = scratch.write("prog.xbasm", R"(
symbol MAIN proc
symbol NOSUCHFUNC
symbol LAST exit proc
symbol OUTERR
symbol OTHERFUNC
proc MAIN
    LINE 5
    PUSHSYMNIL NOSUCHFUNC
    DO 0
    ENDPROC
end
proc LAST
    LINE 9
    PUSHSYMNIL OUTERR
    PUSHINT 7
    ZERO
    DIVIDE
    DO 1
    LINE 10
    PUSHSYMNIL OTHERFUNC
    DO 0
    ENDPROC
end
)");
    RunResult r = scratch.run(xbrun, {file});
    EXPECT_EQ(r.exitCode, 1);
    const std::string tail =
        "\r\n- Llamado desde LOCKERRHANDLER(19)  "
        "\r\n- Llamado desde (b)INITHANDLER$(28)  "
        "\r\n- Llamado desde NOSUCHFUNC(0)  "
        "\r\n- Llamado desde MAIN(5)  ";
    EXPECT_EQ(log(),
              "Error BASE/1001  Funci\xF3n no definida: NOSUCHFUNC\r\n" + tail +
                  "         0"
                  "Error BASE/1001  Funci\xF3n no definida: OTHERFUNC\r\n"
                  "\r\n- Llamado desde LOCKERRHANDLER(19)  "
                  "\r\n- Llamado desde (b)INITHANDLER$(28)  "
                  "\r\n- Llamado desde OTHERFUNC(0)  "
                  "\r\n- Llamado desde LAST(10)  "
                  "\r\n- Llamado desde __QUIT(0)  "
                  "\r\n- Llamado desde DEFERROR(85)  "
                  "\r\n- Llamado desde (b)ERRORSYS(8)  " +
                  tail);
}

TEST_F(ErrorRunTest, DivisionByZeroGivesZeroAndTheLockWrapperAnswersRetryForCode41) {
    // 7/0 through the installed chain gives 0 and the program goes on. Then
    // a block of the program's own sets the generic code of the next error
    // to 41 and hands it to the block INITHANDLER$ installed: its answer
    // (.T., retry) becomes the substituted result of the undefined call.
    RunResult r = runModule(R"(
symbol MAIN proc
symbol OUTERR
symbol ERRORBLOCK
symbol _GENCODE
symbol EVAL
symbol NOSUCHFUNC
symbol BYE exit proc
proc MAIN
    FRAME 0 1
    LINE 4
    PUSHSYMNIL OUTERR
    PUSHINT 7
    ZERO
    DIVIDE
    PUSHSTR "sigue"
    DO 2
    LINE 6
    PUSHSYMNIL ERRORBLOCK
    FUNC 0
    POPLOCAL 1
    LINE 7
    PUSHSYMNIL ERRORBLOCK
    PUSHBLOCK {
        FRAME 1 0
        LINE 8
        PUSHSYM _GENCODE
        PUSHLOCAL 1
        PUSHWORD 41
        SEND 1
        POP
        PUSHSYM EVAL
        PUSHOUTER 1
        PUSHLOCAL 1
        EVALSEND 1
        ENDBLOCK
    }
    DETACHLOCALS
    DO 1
    LINE 10
    PUSHSYMNIL OUTERR
    PUSHSYMNIL NOSUCHFUNC
    FUNC 0
    DO 1
    ENDPROC
end
)");
    EXPECT_EQ(r.exitCode, 0);
    // OUTERR pieces: the integer 0 in its display width, a blank, the text;
    // then the logical; then the exit procedure's marker. No report.
    EXPECT_EQ(log(), "         0 sigue.T.[salida]");
    if (boxesVisible()) {
        EXPECT_EQ(r.err, box("         0") + box(" ") + box("sigue") + box(".T.") + box("[salida]"));
    }
}

TEST_F(ErrorRunTest, SeverityOneIsAWarningAndTheOsCodeIsShown) {
    // The program's block marks the error a warning with operating-system
    // code 5 and passes it on to the standard chain.
    RunResult r = runModule(R"(
symbol MAIN proc
symbol ERRORBLOCK
symbol _SEVERITY
symbol _OSCODE
symbol EVAL
symbol NOSUCHFUNC
symbol BYE exit proc
symbol OUTERR
proc MAIN
    FRAME 0 1
    LINE 3
    PUSHSYMNIL ERRORBLOCK
    FUNC 0
    POPLOCAL 1
    LINE 4
    PUSHSYMNIL ERRORBLOCK
    PUSHBLOCK {
        FRAME 1 0
        LINE 5
        PUSHSYM _SEVERITY
        PUSHLOCAL 1
        ONE
        SEND 1
        POP
        PUSHSYM _OSCODE
        PUSHLOCAL 1
        PUSHWORD 5
        SEND 1
        POP
        LINE 6
        PUSHSYM EVAL
        PUSHOUTER 1
        PUSHLOCAL 1
        EVALSEND 1
        ENDBLOCK
    }
    DETACHLOCALS
    DO 1
    LINE 8
    PUSHSYMNIL NOSUCHFUNC
    DO 0
    ENDPROC
end
)");
    EXPECT_EQ(r.exitCode, 1);
    const std::string report =
        "Warning BASE/1001  Funci\xF3n no definida: NOSUCHFUNC (DOS Error 5) \r\n"
        "\r\n- Llamado desde LOCKERRHANDLER(19)  "
        "\r\n- Llamado desde (b)INITHANDLER$(28)  "
        "\r\n- Llamado desde (b)MAIN(6)  "
        "\r\n- Llamado desde NOSUCHFUNC(0)  "
        "\r\n- Llamado desde MAIN(8)  ";
    EXPECT_EQ(log(), report + "[salida]");
}

// The three failure stops end with exit code 1 without the exit procedures.
TEST_F(ErrorRunTest, WithoutAnErrorBlockTheRunEndsWithTheLocation) {
    RunResult r = runModule(R"(
symbol MAIN proc
symbol ERRORBLOCK
symbol BYE exit proc
symbol OUTERR
proc MAIN
    LINE 3
    PUSHSYMNIL ERRORBLOCK
    PUSHNIL
    DO 1
    LINE 5
    PUSHSYMNIL OUTERR
    ONE
    ZERO
    DIVIDE
    DO 1
    ENDPROC
end
)");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(log(), "\r\nNo ERRORBLOCK() for error at: MAIN (5)");
    if (boxesVisible()) {
        EXPECT_EQ(r.err, box("\r\nNo ERRORBLOCK() for error at: MAIN (5)"));
    }
}

TEST_F(ErrorRunTest, AnAnswerTheFlagsDoNotAllowEndsWithTheRecoveryFailure) {
    // A missing variable may only be retried; the block answers .F. (default).
    RunResult r = runModule(R"(
symbol MAIN proc
symbol ERRORBLOCK
symbol NOSUCHVAR
symbol BYE exit proc
symbol OUTERR
proc MAIN
    LINE 3
    PUSHSYMNIL ERRORBLOCK
    PUSHBLOCK {
        FRAME 1 0
        FALSE
        ENDBLOCK
    }
    DO 1
    LINE 7
    PUSHSYMNIL OUTERR
    PUSHMEMVAR NOSUCHVAR
    DO 1
    ENDPROC
end
)");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(log(), "\r\nFallo en la recuperaci\xF3n de un error, MAIN (7)");
}

TEST_F(ErrorRunTest, AnErrorInsideTheErrorBlockEndsSilently) {
    RunResult r = runModule(R"(
symbol MAIN proc
symbol ERRORBLOCK
symbol NOSUCHFUNC
symbol BYE exit proc
symbol OUTERR
proc MAIN
    LINE 3
    PUSHSYMNIL ERRORBLOCK
    PUSHBLOCK {
        FRAME 1 0
        PUSHSYMNIL NOSUCHFUNC
        FUNC 0
        ENDBLOCK
    }
    DO 1
    LINE 7
    PUSHSYMNIL OUTERR
    ONE
    ZERO
    DIVIDE
    DO 1
    ENDPROC
end
)");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(log(), "<missing>");
    EXPECT_EQ(r.err, "");
}

// ---- in process: the compiled standard modules behind a test module

class StandardHandlerTest : public ErrorSystemTest {
protected:
    // The test module first, then the six standard modules; the error block
    // of a running program: CLIPINIT$ (ERRORSYS) and INITHANDLER$'s wrapper.
    void startStandard(const char* text) {
        modules.push_back(pcasm::assembleOrDie(text));
        image.push_back(pcasm::moduleImage(modules[0]));
        for (uint32_t i = 0; i < modules::STANDARD_MODULE_COUNT; ++i)
            image.push_back(modules::imageModule(*modules::standardModules()[i]));
        os::heapCreate();
        vmStart();
        setImage(image.data(), uint32_t(image.size()));
        registerModuleSymbols();
        pcasm::bindModule(&modules[0]);
        vmBindSymbols();
        up = true;
        errorSystemStart();
        runInit("CLIPINIT$");
        runInit("INITHANDLER$");
    }

    // Initialisation procedures are reached through the init list only.
    static void runInit(const char* name) {
        SymbolList& init = initProcedures();
        bool found = false;
        for (uint32_t i = 0; i < init.count; ++i) {
            if (std::strcmp(symbolName(init.items[i]), name) != 0) continue;
            found = callSymbol(init.items[i], 0, nullptr);
        }
        EXPECT_TRUE(found) << name;
    }

    static ErrorDescriptor descriptor(uint16_t genCode, uint16_t osCode, uint16_t flags) {
        ErrorDescriptor d{};
        d.severity = 2;
        d.genCode = genCode;
        d.osCode = osCode;
        d.flags = flags;
        d.subCode = 1001;
        d.subsystem = "DBFNTX";
        d.operation = "PRUEBA";
        return d;
    }
};

TEST_F(StandardHandlerTest, LockFailuresAreRetriedAndNetworkFailuresTakeTheDefault) {
    startStandard("symbol E2EMAIN proc\nproc E2EMAIN\nENDPROC\nend\n");
    ASSERT_NE(currentErrorBlock(), nullptr);

    // generic code 41 with retry allowed: retry, as often as it comes
    ErrorDescriptor lock = descriptor(EG_LOCK, 33, EF_RETRY | EF_DEFAULT);
    for (uint16_t tries = 0; tries < 3; ++tries) {
        lock.tries = tries;
        EXPECT_EQ(raiseAndDecide(&lock), 1) << tries;
    }
    EXPECT_FALSE(netErr());

    // sharing violation on open, and a refused append lock: NETERR and default
    ErrorDescriptor shared = descriptor(EG_OPEN, 32, EF_RETRY | EF_DEFAULT);
    EXPECT_EQ(raiseAndDecide(&shared), 0);
    EXPECT_TRUE(netErr());
    setNetErr(false);
    ErrorDescriptor append = descriptor(EG_APPENDLOCK, 0, EF_DEFAULT);
    EXPECT_EQ(raiseAndDecide(&append), 0);
    EXPECT_TRUE(netErr());
    EXPECT_FALSE(inErrorHandler());
    EXPECT_EQ(vm.top, vm.stack);
}

}  // namespace
