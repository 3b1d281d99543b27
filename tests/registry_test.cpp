// The driver registry: registration by name, the default driver, method
// tables obtained from the driver modules with inheritance and use counts,
// and the database layer's start and stop.
#include "rdd/registry.h"
#include "tests/support/native_call.h"
#include "tests/support/vm_fixture.h"

#include <gtest/gtest.h>

#include <string>

#include "rdd/areas.h"
#include "runtime/output.h"
#include "runtime/settings_block.h"
#include "vm/settings.h"

using namespace xb;
using test::Arg;
using test::invoke;
using test::textOf;

namespace {

class RegistryTest : public test::VmTest {
protected:
    void SetUp() override {
        VmTest::SetUp();
        load("symbol P proc\nproc P\nENDPROC\nend\n");
        resetDriverRegistry();
    }
    void TearDown() override {
        resetDriverRegistry();
        VmTest::TearDown();
    }
    DriverEntry* entry(const char* name) {
        for (int i = 0; i < driverRegistry().count; ++i)
            if (std::string(driverRegistry().entries[i].name) == name) return &driverRegistry().entries[i];
        return nullptr;
    }
    std::vector<std::string> list(Arg kind) {
        Item a = invoke("RDDLIST", {kind});
        std::vector<std::string> out;
        for (uint32_t i = 0; i < arrayLength(&a); ++i) out.push_back(textOf(arrayItems(&a)[i]));
        return out;
    }
};

}  // namespace

TEST_F(RegistryTest, OneEntryPerNormalisedName) {
    invoke("RDDREGISTER", {"DBF", 1});
    invoke("RDDREGISTER", {"dbf  ", 2});
    invoke("RDDREGISTER", {"DbfNtx"});
    EXPECT_EQ(driverRegistry().count, 2);
    ASSERT_NE(entry("DBF"), nullptr);
    EXPECT_EQ(entry("DBF")->kind, 1);  // the first registration stays
    ASSERT_NE(entry("DBFNTX"), nullptr);
    EXPECT_EQ(entry("DBFNTX")->kind, 0);
    EXPECT_EQ(entry("DBF")->module, nullptr);  // nothing is loaded before it is used
    EXPECT_EQ(list(1), (std::vector<std::string>{"DBF"}));
    EXPECT_EQ(list(0), (std::vector<std::string>{"DBF"}));
    EXPECT_EQ(list(Arg::nil()), (std::vector<std::string>{"DBF"}));
    invoke("RDDREGISTER", {"DBFNTX", 255});
    EXPECT_TRUE(list(255).empty());  // the first kind stays
}

TEST_F(RegistryTest, TheThirtyThirdDriverIsSilentlyLeftOut) {
    for (int i = 0; i < 32; ++i) EXPECT_TRUE(registerDriver(("D" + std::to_string(i)).c_str(), 1));
    EXPECT_FALSE(registerDriver("ONE MORE", 1));
    EXPECT_TRUE(registerDriver("d5", 3));  // an existing name still answers
    EXPECT_EQ(driverRegistry().count, 32);
    char normalised[60];
    normaliseDriverName("abc\xE1z  ", 7, normalised);
    EXPECT_STREQ(normalised, "ABC\xE1Z");  // a to z only
    normaliseDriverName(std::string(70, 'q').c_str(), 70, normalised);
    EXPECT_EQ(std::string(normalised), std::string(58, 'Q'));
}

TEST_F(RegistryTest, RegisteringSomethingThatIsNoDriverIsFatal) {
    EXPECT_EXIT(invoke("RDDREGISTER", {""}), ::testing::ExitedWithCode(1), "9001");
    EXPECT_EXIT(invoke("RDDREGISTER", {5}), ::testing::ExitedWithCode(1), "9001");
    EXPECT_EXIT(invoke("RDDREGISTER", {std::string(59, 'D')}), ::testing::ExitedWithCode(1), "9003");
    EXPECT_EXIT(invoke("RDDREGISTER", {"SDF"}), ::testing::ExitedWithCode(1), "9002");
}

TEST_F(RegistryTest, TheDefaultDriver) {
    EXPECT_EQ(textOf(invoke("RDDSETDEFAULT")), "");
    EXPECT_EQ(textOf(invoke("RDDSETDEFAULT", {"dbfntx "})), "");
    EXPECT_EQ(textOf(invoke("RDDSETDEFAULT", {"DBF"})), "DBFNTX");
    EXPECT_EQ(textOf(invoke("RDDSETDEFAULT")), "DBF");
    EXPECT_TRUE(errors.empty());
    invoke("RDDSETDEFAULT", {"NOSUCH"});
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].subsystem, "DBCMD");
    EXPECT_EQ(errors[0].d.subCode, 1015);
    EXPECT_EQ(errors[0].d.genCode, EG_ARG);
    EXPECT_STREQ(storedDefaultDriver(), "DBF");

    char name[60];
    defaultDriverName(name);
    EXPECT_STREQ(name, "DBF");
    clearDefaultDriver();
    registerDriver("DBFNTX", 1);
    defaultDriverName(name);
    EXPECT_STREQ(name, "DBFNTX");
}

TEST_F(RegistryTest, WithoutADefaultDbfntxMustBeRegisteredWithKindOne) {
    registerDriver("DBFNTX", 0);
    char name[60];
    EXPECT_EXIT(defaultDriverName(name), ::testing::ExitedWithCode(1), "9006");
}

TEST_F(RegistryTest, TheChildHoldsOneUseOfItsParentUntilItIsReleased) {
    registerDriver("DBF", 1);
    registerDriver("DBFNTX", 1);
    DriverEntry* found = nullptr;
    EXPECT_EQ(findDriver("NONE", &found), FD_NOT_REGISTERED);
    registerDriver("NOMODULE", 1);
    EXPECT_EQ(findDriver("nomodule", &found), FD_NO_MODULE);

    RddMethodTable* ntx = acquireDriver("dbfntx");
    ASSERT_NE(ntx, nullptr);
    DriverEntry* dbf = entry("DBF");
    DriverEntry* child = entry("DBFNTX");
    EXPECT_EQ(child->useCount, 1);
    EXPECT_NE(child->module, nullptr);
    // building the child's table copied the parent's, which counts as a use
    EXPECT_EQ(dbf->useCount, 1);
    ASSERT_NE(dbf->methods, nullptr);
    // the child's table starts as the parent's (a slot it does not override)
    EXPECT_EQ(ntx->slot[RDD_GETVALUE], dbf->methods->slot[RDD_GETVALUE]);

    RddMethodTable* again = acquireDriver("DBFNTX");
    EXPECT_EQ(again, ntx);
    EXPECT_EQ(child->useCount, 2);
    EXPECT_EQ(dbf->useCount, 1);
    releaseDriver(ntx);
    EXPECT_EQ(child->useCount, 1);
    EXPECT_NE(child->methods, nullptr);
    // the last use: the module's WEP gives back its use of DBF, the tables go
    releaseDriver(ntx);
    EXPECT_EQ(child->useCount, 0);
    EXPECT_EQ(child->methods, nullptr);
    EXPECT_EQ(child->module, nullptr);
    EXPECT_EQ(dbf->useCount, 0);
    EXPECT_EQ(dbf->methods, nullptr);
    // the entries stay registered, and the next use builds the table again
    EXPECT_EQ(driverRegistry().count, 3);
    ASSERT_NE(acquireDriver("DBFNTX"), nullptr);
    EXPECT_EQ(dbf->useCount, 1);
}

TEST_F(RegistryTest, AChildWithoutItsParentCannotBeBuilt) {
    registerDriver("DBFNTX", 1);
    DriverEntry* found = nullptr;
    EXPECT_EQ(findDriver("DBFNTX", &found), FD_TABLE_FAILED);
    EXPECT_EQ(acquireDriver("DBFNTX"), nullptr);
}

TEST_F(RegistryTest, TheDatabaseLayerStartsAndStops) {
    settingSetLogical(SET_EXCLUSIVEOPEN, false);
    setDefaultDriver("DBF");
    databaseEvent(EVENT_START);
    ASSERT_NE(areaTable(), nullptr);
    for (int n = 0; n <= AREA_COUNT; ++n) EXPECT_EQ(areaTable()[n], nullptr);
    EXPECT_EQ(currentAreaNumber(), 1);
    EXPECT_TRUE(settingExclusiveOpen());
    EXPECT_STREQ(storedDefaultDriver(), "");
    registerDriver("DBF", 1);
    ASSERT_NE(acquireDriver("DBF"), nullptr);
    databaseEvent(EVENT_STOP);
    EXPECT_EQ(areaTable(), nullptr);
    EXPECT_EQ(entry("DBF")->methods, nullptr);  // every driver released
    EXPECT_EQ(driverRegistry().count, 1);
}
