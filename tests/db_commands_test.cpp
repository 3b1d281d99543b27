// The natives behind the database commands over a real table: LOCATE and
// CONTINUE, COPY TO / APPEND FROM another table, COPY STRUCTURE, delimited
// text (CSV) and SDF both ways, LIST/DISPLAY, RELEASE, COPY FILE and CLOSE
// ALL. The CSV is also read and rewritten by Python's csv module (when
// python3 is there) and read back. Table CUST: NAME C 12, CITY C 8,
// BALANCE N 8.2, SINCE D, ACTIVE L; three records.
#include "tests/support/macro_fixture.h"
#include "tests/support/native_call.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "rdd/areas.h"
#include "rdd/registry.h"
#include "runtime/files.h"
#include "runtime/output.h"

using namespace xb;
using xb::test::MacroTest;

namespace {

std::string* captured = nullptr;

bool captureWrite(os::Handle h, const void* buf, uint32_t n, uint32_t* done) {
    if (h == 1 && captured) {
        captured->append(static_cast<const char*>(buf), n);
        *done = n;
        return true;
    }
    return defaultFileSyscalls().writeFile(h, buf, n, done);
}

std::string readFile(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void writeFile(const std::string& name, const std::string& text) {
    std::ofstream f(name, std::ios::binary);
    f << text;
}

class DbCommands : public MacroTest {
protected:
    void SetUp() override {
        scratch = std::string("dbc_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        os::createDirectory(scratch.c_str());
        ASSERT_TRUE(os::setCurrentDirectory(scratch.c_str()));
        MacroTest::SetUp();
        resetDriverRegistry();
        registerDriver("DBF", 1);
        databaseEvent(EVENT_START);
        setDefaultDriver("DBF");
        answerUnwind();
        run("DBCREATE('cust', {{'NAME', 'C', 12, 0}, {'CITY', 'C', 8, 0}, {'BALANCE', 'N', 8, 2},"
            " {'SINCE', 'D', 8, 0}, {'ACTIVE', 'L', 1, 0}})");
        run("DBUSEAREA(.T., 'DBF', 'cust', 'CUST')");
        addRecord("'Ana'", "'Bilbao'", "10.5", "STOD('20200102')", ".T.");
        addRecord("'Luis \"El\", G'", "'Madrid'", "-3", "STOD('')", ".F.");
        addRecord("'Eva'", "'Bilbao'", "1234.25", "STOD('19991231')", ".T.");
        run("DBGOTOP()");
        ASSERT_TRUE(errors.empty());
        output.clear();
        captured = &output;
        fileSyscalls().writeFile = captureWrite;
    }
    void TearDown() override {
        fileSyscalls() = defaultFileSyscalls();
        captured = nullptr;
        databaseEvent(EVENT_STOP);
        resetDriverRegistry();
        MacroTest::TearDown();
        for (const char* f : {"cust.dbf", "cust2.dbf", "empty.dbf", "out.txt", "out.csv", "in.csv", "py.csv",
                              "sdf.txt", "copy.dbf", "back.dbf", "plain.txt"})
            fsDelete(f);
        os::setCurrentDirectory("..");
        os::removeDirectory(scratch.c_str());
    }
    void addRecord(const std::string& name, const std::string& city, const std::string& balance,
                   const std::string& since, const std::string& active) {
        run("DBAPPEND()");
        run("FIELDPUT(1, " + name + ")");
        run("FIELDPUT(2, " + city + ")");
        run("FIELDPUT(3, " + balance + ")");
        run("FIELDPUT(4, " + since + ")");
        run("FIELDPUT(5, " + active + ")");
    }
    Item run(const std::string& text) {
        Item r = eval(text);
        EXPECT_TRUE(errors.empty()) << text << ": " << (errors.empty() ? 0 : errors.back().d.genCode) << "/"
                                    << (errors.empty() ? 0 : errors.back().d.subCode) << " "
                                    << (errors.empty() ? "" : errors.back().operation);
        return r;
    }
    double number(const std::string& text) {
        Item r = run(text);
        return r.type == T_DOUBLE ? r.v.d : r.v.l;
    }
    std::string text(const std::string& t) { return test::textOf(run(t)); }
    bool logical(const std::string& t) {
        Item r = run(t);
        EXPECT_EQ(r.type, T_LOGICAL) << t;
        return r.type == T_LOGICAL && r.v.l;
    }
    // Every record of the current area as "name|city|balance|since|active" lines.
    std::string dump() {
        std::string out;
        run("DBGOTOP()");
        while (!logical("EOF()")) {
            out += text("TRIM(FIELDGET(1)) + '|' + TRIM(FIELDGET(2)) + '|' + LTRIM(STR(FIELDGET(3), 8, 2)) + '|' +"
                        " DTOS(FIELDGET(4)) + '|' + IF(FIELDGET(5), 'T', 'F') + IF(DELETED(), '*', '')") +
                   "\n";
            run("DBSKIP()");
        }
        return out;
    }
    std::string scratch;
    std::string output;
};

const char* const kDump =
    "Ana|Bilbao|10.50|20200102|T\n"
    "Luis \"El\", G|Madrid|-3.00|        |F\n"
    "Eva|Bilbao|1234.25|19991231|T\n";

TEST_F(DbCommands, LocateAndContinueWalkTheMatchesAndSetFound) {
    run("__DBLOCATE({|| CITY = 'Bilbao'})");
    EXPECT_TRUE(logical("FOUND()"));
    EXPECT_EQ(number("RECNO()"), 1);
    run("__DBCONTINUE()");
    EXPECT_TRUE(logical("FOUND()"));
    EXPECT_EQ(number("RECNO()"), 3);
    run("__DBCONTINUE()");
    EXPECT_FALSE(logical("FOUND()"));
    EXPECT_TRUE(logical("EOF()"));
    // a scope of the next record only, from record 2: no match there
    run("DBGOTO(2)");
    run("__DBLOCATE({|| CITY = 'Bilbao'}, NIL, 1)");
    EXPECT_FALSE(logical("FOUND()"));
    // a while condition stops the search at the first record it rejects
    run("DBGOTOP()");
    run("__DBLOCATE({|| BALANCE > 1000}, {|| BALANCE > 0})");
    EXPECT_FALSE(logical("FOUND()"));
    EXPECT_EQ(number("RECNO()"), 2);
    run("__DBLOCATE({|| BALANCE > 1000}, NIL, NIL, NIL, .T.)");  // REST from record 2
    EXPECT_TRUE(logical("FOUND()"));
    EXPECT_EQ(number("RECNO()"), 3);
    // CONTINUE without a LOCATE in a new table finds nothing
    run("DBCREATE('copy', {{'X', 'N', 2, 0}})");
    run("DBUSEAREA(.T., 'DBF', 'copy')");
    run("__DBCONTINUE()");
    EXPECT_FALSE(logical("FOUND()"));
}

TEST_F(DbCommands, CopyToATableAndAppendFromIt) {
    EXPECT_TRUE(logical("__DBCOPY('cust2', {'name', 'Balance'}, {|| CITY = 'Bilbao'})"));
    EXPECT_EQ(number("SELECT()"), 1);  // the current area stays current
    run("DBUSEAREA(.T., 'DBF', 'cust2', 'C2')");
    EXPECT_EQ(number("FCOUNT()"), 2);
    EXPECT_EQ(number("LASTREC()"), 2);
    run("DBGOTO(2)");
    EXPECT_EQ(text("TRIM(FIELDGET(1))"), "Eva");
    EXPECT_EQ(number("FIELDGET(2)"), 1234.25);
    run("DBCLOSEAREA()");
    run("DBSELECTAREA(1)");
    // APPEND FROM with a scope read in the source: one record
    EXPECT_TRUE(logical("__DBAPP('cust2', NIL, {|| BALANCE < 100})"));
    EXPECT_EQ(number("LASTREC()"), 4);
    run("DBGOTO(4)");
    EXPECT_EQ(text("TRIM(FIELDGET(1)) + '|' + FIELDGET(2)"), "Ana|        ");
    EXPECT_EQ(number("FIELDGET(3)"), 10.5);
    // every field, every record
    EXPECT_TRUE(logical("__DBCOPY('copy')"));
    run("DBUSEAREA(.T., 'DBF', 'copy')");
    EXPECT_EQ(number("LASTREC()"), 4);
    EXPECT_EQ(number("FCOUNT()"), 5);
}

TEST_F(DbCommands, CopyStructureMakesAnEmptyTableOfTheChosenFields) {
    EXPECT_TRUE(logical("__DBCOPYSTRUCT('empty', {'CITY', 'SINCE'})"));
    run("DBUSEAREA(.T., 'DBF', 'empty')");
    EXPECT_EQ(number("LASTREC()"), 0);
    Item s = run("DBSTRUCT()");
    ASSERT_EQ(s.type, T_ARRAY);
    ASSERT_EQ(arrayLength(&s), 2u);
    EXPECT_EQ(test::textOf(arrayItems(&arrayItems(&s)[0])[0]), "CITY");
    EXPECT_EQ(test::textOf(arrayItems(&arrayItems(&s)[1])[1]), "D");
}

TEST_F(DbCommands, CopyToDelimitedWritesCsv) {
    EXPECT_TRUE(logical("__DBDELIM(.T., 'out.csv')"));
    EXPECT_EQ(readFile("out.csv"),
              "\"Ana\",\"Bilbao\",10.50,20200102,T\r\n"
              "\"Luis \"\"El\"\", G\",\"Madrid\",-3.00,,F\r\n"
              "\"Eva\",\"Bilbao\",1234.25,19991231,T\r\n");
    // a name without extension gets .txt; fields chosen; a scope
    EXPECT_TRUE(logical("__DBDELIM(.T., 'out', NIL, {'city', 'name'}, {|| ACTIVE})"));
    EXPECT_EQ(readFile("out.txt"), "\"Bilbao\",\"Ana\"\r\n\"Bilbao\",\"Eva\"\r\n");
    // NEXT counts from the current record: at the end of file nothing is left
    EXPECT_TRUE(logical("__DBDELIM(.T., 'out.txt', 'BLANK', {'NAME', 'BALANCE'}, NIL, NIL, 1)"));
    EXPECT_EQ(readFile("out.txt"), "");
    run("DBGOTOP()");
    EXPECT_TRUE(logical("__DBDELIM(.T., 'out.txt', 'BLANK', {'NAME', 'BALANCE'}, NIL, NIL, 1)"));
    EXPECT_EQ(readFile("out.txt"), "Ana 10.50\r\n");
    EXPECT_TRUE(logical("__DBDELIM(.T., 'out.txt', \"'\", {'NAME', 'ACTIVE'}, NIL, NIL, NIL, 3)"));
    EXPECT_EQ(readFile("out.txt"), "'Eva',T\r\n");
}

TEST_F(DbCommands, AppendFromDelimitedReadsWhatSpreadsheetsWrite) {
    run("__DBCOPYSTRUCT('back')");
    run("DBUSEAREA(.T., 'DBF', 'back')");
    writeFile("in.csv",
              "\"Zoe, Jr.\",\"Paris\",12.5,20210505,T\r\n"
              "plain,Lyon,7,,F\n"
              "\"say \"\"hi\"\"\",\"X\",-1.25,1999-12-31,y\r"
              "\n"
              "\"two\nlines\",Oslo,0,20000101,.T.\r\n"
              "\x1A");
    EXPECT_TRUE(logical("__DBDELIM(.F., 'in.csv')"));
    EXPECT_EQ(dump(),
              "Zoe, Jr.|Paris|12.50|20210505|T\n"
              "plain|Lyon|7.00|        |F\n"
              "say \"hi\"|X|-1.25|19991231|T\n"
              "two\nlines|Oslo|0.00|20000101|T\n");
    // NEXT 1 reads one line
    run("__DBZAP()");
    EXPECT_TRUE(logical("__DBDELIM(.F., 'in.csv', NIL, NIL, NIL, NIL, 1)"));
    EXPECT_EQ(number("LASTREC()"), 1);
}

TEST_F(DbCommands, DelimitedTextRoundTripsThroughTheTable) {
    EXPECT_TRUE(logical("__DBDELIM(.T., 'out.csv')"));
    run("__DBCOPYSTRUCT('back')");
    run("DBUSEAREA(.T., 'DBF', 'back')");
    EXPECT_TRUE(logical("__DBDELIM(.F., 'out.csv')"));
    EXPECT_EQ(dump(), kDump);
}

TEST_F(DbCommands, CsvRoundTripsThroughPythonsCsvModule) {
#ifdef _WIN32
    GTEST_SKIP() << "the Python round trip runs on POSIX hosts";
#else
    if (std::system("python3 -c 'import csv' > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not available";
    EXPECT_TRUE(logical("__DBDELIM(.T., 'out.csv')"));
    // Python reads every row, checks the values it sees, and writes the rows
    // back with its own quoting (only where needed).
    writeFile("check.py",
              "import csv, sys\n"
              "rows = list(csv.reader(open('out.csv', newline='', encoding='cp1252')))\n"
              "want = [['Ana', 'Bilbao', '10.50', '20200102', 'T'],\n"
              "        ['Luis \"El\", G', 'Madrid', '-3.00', '', 'F'],\n"
              "        ['Eva', 'Bilbao', '1234.25', '19991231', 'T']]\n"
              "if rows != want:\n"
              "    print(rows); sys.exit(1)\n"
              "with open('py.csv', 'w', newline='', encoding='cp1252') as f:\n"
              "    csv.writer(f).writerows(rows)\n");
    int status = std::system("python3 check.py > py.out 2>&1");
    EXPECT_EQ(status, 0) << readFile("py.out");
    std::remove("check.py");
    std::remove("py.out");
    if (status != 0) return;
    EXPECT_EQ(readFile("py.csv").substr(0, 27), "Ana,Bilbao,10.50,20200102,T");
    run("__DBCOPYSTRUCT('back')");
    run("DBUSEAREA(.T., 'DBF', 'back')");
    EXPECT_TRUE(logical("__DBDELIM(.F., 'py.csv')"));
    EXPECT_EQ(dump(), kDump);
#endif
}

TEST_F(DbCommands, SdfWritesFixedWidthAndReadsItBack) {
    EXPECT_TRUE(logical("__DBSDF(.T., 'sdf.txt')"));
    EXPECT_EQ(readFile("sdf.txt"),
              "Ana         Bilbao     10.5020200102T\r\n"
              "Luis \"El\", GMadrid     -3.00        F\r\n"
              "Eva         Bilbao   1234.2519991231T\r\n");
    run("__DBCOPYSTRUCT('back')");
    run("DBUSEAREA(.T., 'DBF', 'back')");
    EXPECT_TRUE(logical("__DBSDF(.F., 'sdf.txt')"));
    EXPECT_EQ(dump(), kDump);
    // FOR on import: the rejected record is marked deleted
    run("__DBZAP()");
    EXPECT_TRUE(logical("__DBSDF(.F., 'sdf.txt', NIL, {|| ACTIVE})"));
    EXPECT_EQ(number("LASTREC()"), 3);
    run("DBGOTO(2)");
    EXPECT_TRUE(logical("DELETED()"));
}

TEST_F(DbCommands, TextFilesThatCannotBeOpenedRaiseTheOpenError) {
    answerLogical(false);
    Item r = eval("__DBDELIM(.F., 'missing.csv')");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, 21);
    EXPECT_EQ(errors[0].d.subCode, 1005);
    // the name itself lived only during the raise; that one was given
    EXPECT_NE(errors[0].d.fileName, nullptr);
    EXPECT_EQ(r.type, T_LOGICAL);
    EXPECT_EQ(r.v.l, 0);
    errors.clear();
    answerUnwind();
    eval("__DBDELIM(.T., 5)");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.subCode, 1001);
}

TEST_F(DbCommands, ListAndDisplayWriteToStandardOutput) {
    run("__DBLIST(.F., {{|| NAME}, {|| BALANCE}}, .T.)");
    EXPECT_EQ(output,
              "      1 Ana             10.50\n"
              "      2 Luis \"El\", G    -3.00\n"
              "      3 Eva           1234.25\n");
    output.clear();
    run("DBGOTO(2)");
    run("__DBLIST(.T., {{|| TRIM(CITY)}, {|| ACTIVE}}, .F.)");  // DISPLAY: this record
    EXPECT_EQ(output, "Madrid .F.\n");
    output.clear();
    run("__DBLIST(.T., {{|| RECNO()}}, .F., {|| CITY = 'Bilbao'})");  // DISPLAY FOR
    EXPECT_EQ(output, "      1\n      3\n");  // RECNO() shows 7 wide
}

TEST_F(DbCommands, ReleaseSetsVariablesToNil) {
    setVar("ALPHA", intItem(1));
    setVar("BETA", intItem(2));
    run("__MVXRELEASE('alpha', 'nothing')");
    EXPECT_EQ(var("ALPHA").type, T_NIL);
    EXPECT_EQ(var("BETA").v.l, 2);
}

TEST_F(DbCommands, CopyFileCopiesBytesAndCloseAllClosesEveryArea) {
    writeFile("plain.txt", std::string("a\0b\r\nc", 6));
    EXPECT_TRUE(logical("__COPYFILE('plain.txt', 'out.txt')"));
    EXPECT_EQ(readFile("out.txt"), std::string("a\0b\r\nc", 6));
    answerLogical(false);
    Item r = eval("__COPYFILE('nothing.txt', 'out.txt')");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].d.genCode, 21);
    EXPECT_EQ(r.v.l, 0);
    errors.clear();
    answerUnwind();
    run("DBCREATE('copy', {{'X', 'N', 2, 0}})");
    run("DBUSEAREA(.T., 'DBF', 'copy')");
    run("DBCLOSEALL()");
    EXPECT_FALSE(logical("USED()"));
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(areaAt(uint32_t(n)), nullptr) << n;
}

}  // namespace
