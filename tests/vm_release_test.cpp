// Bringing the VM down with vmRelease gives back what its subsystems hold
// and puts their records back to the start state, so that the next start
// behaves as a fresh process: checked through each subsystem's own counters,
// and by running the same program again after the release.
#include "tests/support/vm_fixture.h"

#include "vm/interp.h"
#include "vm/literals.h"

namespace {

using namespace xb;

class VmRelease : public test::VmTest {
protected:
    static constexpr const char* kProgram = R"(symbol MAIN proc
proc MAIN
    FRAME 1 0
    PUSHSTR "uno"
    PUSHSTR "dos"
    ARRAYGEN 2
    POPLOCAL 1
    PUSHLOCAL 1
    POPRET
    ENDPROC
end
)";

    struct Counters {
        uint32_t symbols, objects, literals, sequences, growth;
        int32_t heap;
    };
    static Counters counters() {
        return {symbolCount(), liveObjectCount(), literalCount(), sequenceDepth(), lastCollectionGrowth(), memInUse()};
    }

    void runOnce(Counters* afterRun) {
        load(kProgram);
        Item r = call("MAIN");
        ASSERT_EQ(lastStatus, 0);
        ASSERT_TRUE(r.type & T_ARRAY);
        EXPECT_EQ(arrayLength(&r), 2u);
        *afterRun = counters();
        down();
        modules.clear();
        image.clear();
    }
};

TEST_F(VmRelease, EverySubsystemStartsOverAndASecondRunMatchesTheFirst) {
    const Counters before = counters();
    Counters first{}, second{};
    runOnce(&first);
    EXPECT_GT(first.symbols, 0u);
    EXPECT_GT(first.objects, 0u);
    EXPECT_GT(first.literals, 0u);

    const Counters released = counters();
    EXPECT_EQ(released.symbols, 0u);
    EXPECT_EQ(released.objects, 0u);
    EXPECT_EQ(released.literals, 0u);
    EXPECT_EQ(released.sequences, 0u);
    EXPECT_EQ(released.growth, 4000000u);  // the collector's starting threshold
    EXPECT_EQ(released.heap, before.heap);  // every block given back

    runOnce(&second);
    EXPECT_EQ(second.symbols, first.symbols);
    EXPECT_EQ(second.objects, first.objects);
    EXPECT_EQ(second.literals, first.literals);
    EXPECT_EQ(second.heap, first.heap);
}

}  // namespace
