// The standard header: every command it defines, written as programmers
// write it, and the call it becomes.
#include <gtest/gtest.h>

#include "pp/std_header.h"
#include "tests/support/pp_fixture.h"

using xb::pptest::runPp;

namespace {

struct Expansion {
    const char* command;
    const char* call;
};

const Expansion kCommands[] = {
    {"USE customers",
     "DBUSEAREA(.F.,, \"customers\",,, .F.)"},
    {"USE customers ALIAS cu NEW SHARED",
     "DBUSEAREA(.T.,, \"customers\", \"cu\", .T., .F.)"},
    {"USE customers EXCLUSIVE",
     "DBUSEAREA(.F.,, \"customers\",,!.T., .F.)"},
    {"USE (cFile) VIA \"DBFNTX\" READONLY INDEX names, (cIdx)",
     "DBUSEAREA(.F., \"DBFNTX\", (cFile),,, .T.) ; ORDLISTADD(\"names\") ; ORDLISTADD((cIdx))"},
    {"USE",
     "DBCLOSEAREA()"},
    {"SELECT 2",
     "DBSELECTAREA(2)"},
    {"SELECT customers",
     "DBSELECTAREA(\"customers\")"},
    {"SELECT (cAlias)",
     "DBSELECTAREA((cAlias))"},
    {"GO TOP",
     "DBGOTOP()"},
    {"GOTO BOTTOM",
     "DBGOBOTTOM()"},
    {"GO 5",
     "DBGOTO(5)"},
    {"GOTO nRec",
     "DBGOTO(nRec)"},
    {"SKIP",
     "DBSKIP(1)"},
    {"SKIP -1",
     "DBSKIP(-1)"},
    {"SKIP ALIAS cu",
     "cu->( DBSKIP(1) )"},
    {"SKIP 3 ALIAS cu",
     "cu->( DBSKIP(3) )"},
    {"SEEK \"SMITH\"",
     "DBSEEK(\"SMITH\",,)"},
    {"SEEK cKey SOFTSEEK LAST",
     "DBSEEK(cKey, .T., .T.)"},
    {"LOCATE FOR city = \"Bilbao\"",
     "__DBLOCATE({|| city = \"Bilbao\" },,,,)"},
    {"LOCATE FOR balance > 0 WHILE !Eof() NEXT 10",
     "__DBLOCATE({|| balance > 0 }, {|| !Eof() }, 10,,)"},
    {"LOCATE REST FOR x",
     "__DBLOCATE({|| x },,,, .T.)"},
    {"CONTINUE",
     "__DBCONTINUE()"},
    {"REPLACE balance WITH 0",
     "_FIELD->balance := 0"},
    {"REPLACE name WITH \"A\", city WITH \"B\" FOR id > 3",
     "DBEVAL({|| _FIELD->name := \"A\", _FIELD->city := \"B\"}, {|| id > 3 },,,,)"},
    {"REPLACE ALL balance WITH balance * 2",
     "DBEVAL({|| _FIELD->balance := balance * 2},,,,,)"},
    {"APPEND BLANK",
     "DBAPPEND()"},
    {"DELETE",
     "DBDELETE()"},
    {"DELETE ALL",
     "DBEVAL({|| DBDELETE()},,,,,)"},
    {"DELETE NEXT 3",
     "DBEVAL({|| DBDELETE()},,, 3,,)"},
    {"DELETE RECORD 7",
     "DBEVAL({|| DBDELETE()},,,, 7,)"},
    {"RECALL",
     "DBRECALL()"},
    {"RECALL ALL FOR balance < 0",
     "DBEVAL({|| DBRECALL()}, {|| balance < 0 },,,,)"},
    {"PACK",
     "__DBPACK()"},
    {"ZAP",
     "__DBZAP()"},
    {"INDEX ON name TO names",
     "ORDCREATE(\"names\",, \"name\", {|| name },)"},
    {"INDEX ON UPPER(city) + name TO cities UNIQUE",
     "ORDCREATE(\"cities\",, \"UPPER(city) + name\", {|| UPPER(city) + name }, .T.)"},
    {"INDEX ON balance TAG bal TO custx DESCENDING FOR balance > 0",
     "ORDCONDSET(\"balance > 0\", {|| balance > 0 }, , , , , , , , , .T.) ; ORDCREATE(\"custx\", \"bal\", \"balance\", {|| balance },)"},
    {"INDEX ON id TAG ids",
     "ORDCREATE(, \"ids\", \"id\", {|| id },)"},
    {"SET INDEX TO names, cities",
     "iif(.F., NIL, ORDLISTCLEAR()) ; ORDLISTADD(\"names\") ; ORDLISTADD(\"cities\")"},
    {"SET INDEX TO names ADDITIVE",
     "iif(.T., NIL, ORDLISTCLEAR()) ; ORDLISTADD(\"names\")"},
    {"SET INDEX TO",
     "iif(.F., NIL, ORDLISTCLEAR())"},
    {"REINDEX",
     "ORDLISTREBUILD()"},
    {"SET ORDER TO 2",
     "ORDSETFOCUS(2)"},
    {"SET ORDER TO TAG bal",
     "ORDSETFOCUS(\"bal\")"},
    {"SET ORDER TO",
     "ORDSETFOCUS(0)"},
    {"SET FILTER TO balance > 100",
     "DBSETFILTER({|| balance > 100 }, \"balance > 100\")"},
    {"SET FILTER TO",
     "DBCLEARFILTER()"},
    {"SET RELATION TO id INTO orders",
     "iif(.F., NIL, DBCLEARRELATION()) ; DBSETRELATION(\"orders\", {|| id }, \"id\")"},
    {"SET RELATION TO id INTO orders, code INTO codes ADDITIVE",
     "iif(.T., NIL, DBCLEARRELATION()) ; DBSETRELATION(\"orders\", {|| id }, \"id\") ; DBSETRELATION(\"codes\", {|| code }, \"code\")"},
    {"SET RELATION TO",
     "DBCLEARRELATION()"},
    {"SET DELETED ON",
     "SET(11, \"ON\")"},
    {"SET EXACT OFF",
     "SET(1, \"OFF\")"},
    {"SET SOFTSEEK ON",
     "SET(9, \"ON\")"},
    {"SET DELETED (lDel)",
     "SET(11, lDel)"},
    {"SET EXCLUSIVE OFF",
     "SET(8, \"OFF\")"},
    {"SET DATE BRITISH",
     "SET(4, iif(\"YYYY\" $ UPPER(SET(4)), \"dd/mm/yyyy\", \"dd/mm/yy\"))"},
    {"SET DATE TO ANSI",
     "SET(4, iif(\"YYYY\" $ UPPER(SET(4)), \"yyyy.mm.dd\", \"yy.mm.dd\"))"},
    {"SET DATE FORMAT TO \"yyyy-mm-dd\"",
     "SET(4, \"yyyy-mm-dd\")"},
    {"SET EPOCH TO 1950",
     "SET(5, 1950)"},
    {"SET DECIMALS TO 4",
     "SET(3, 4)"},
    {"SET DECIMALS TO",
     "SET(3, 0)"},
    {"SET DEFAULT TO data",
     "SET(7, \"data\")"},
    {"SET DEFAULT TO",
     "SET(7, \"\")"},
    {"SET PATH TO (cPath)",
     "SET(6, cPath)"},
    {"COMMIT",
     "DBCOMMITALL()"},
    {"UNLOCK",
     "DBRUNLOCK()"},
    {"UNLOCK ALL",
     "DBUNLOCKALL()"},
    {"CLOSE",
     "DBCLOSEAREA()"},
    {"CLOSE ALL",
     "DBCLOSEALL()"},
    {"CLOSE DATABASES",
     "DBCLOSEALL()"},
    {"CLOSE INDEXES",
     "ORDLISTCLEAR()"},
    {"CLOSE orders",
     "orders->( DBCLOSEAREA() )"},
    {"COPY TO backup",
     "__DBCOPY(\"backup\", { },,,,,,)"},
    {"COPY TO backup FIELDS name, city FOR balance > 0 VIA \"DBFNTX\"",
     "__DBCOPY(\"backup\", { \"name\", \"city\" }, {|| balance > 0 },,,,, \"DBFNTX\")"},
    {"COPY TO out.txt SDF",
     "__DBSDF(.T., \"out.txt\", { },,,,,)"},
    {"COPY TO out.csv DELIMITED",
     "__DBDELIM(.T., \"out.csv\",, { },,,,,)"},
    {"COPY TO out.csv DELIMITED WITH ';' FIELDS name",
     "__DBDELIM(.T., \"out.csv\", ';', { \"name\" },,,,,)"},
    {"COPY TO out.csv FIELDS name, balance DELIMITED WITH BLANK",
     "__DBDELIM(.T., \"out.csv\", \"BLANK\", { \"name\", \"balance\" },,,,,)"},
    {"APPEND FROM backup FOR balance > 0",
     "__DBAPP(\"backup\", { }, {|| balance > 0 },,,,,)"},
    {"APPEND FROM out.txt SDF",
     "__DBSDF(.F., \"out.txt\", { },,,,,)"},
    {"APPEND FROM out.csv DELIMITED",
     "__DBDELIM(.F., \"out.csv\",, { },,,,,)"},
    {"APPEND FROM out.csv FIELDS name DELIMITED WITH \"|\"",
     "__DBDELIM(.F., \"out.csv\", \"|\", { \"name\" },,,,,)"},
    {"COPY STRUCTURE TO empty",
     "__DBCOPYSTRUCT(\"empty\", { })"},
    {"COPY STRUCTURE TO empty FIELDS name, city",
     "__DBCOPYSTRUCT(\"empty\", { \"name\", \"city\" })"},
    {"SORT TO sorted ON name",
     "__DBSORT(\"sorted\", { \"name\" },,,,,)"},
    {"SORT TO sorted ON city /D, name /A/C FOR balance > 0",
     "__DBSORT(\"sorted\", { \"city /D\", \"name /A/C\" }, {|| balance > 0 },,,,)"},
    {"SORT ON name TO sorted",
     "__DBSORT(\"sorted\", { \"name\" },,,,,)"},
    {"COUNT TO n",
     "n := 0 ; DBEVAL({|| n := n + 1},,,,,)"},
    {"COUNT TO n FOR balance > 100 WHILE city = \"B\"",
     "n := 0 ; DBEVAL({|| n := n + 1}, {|| balance > 100 }, {|| city = \"B\" },,,)"},
    {"SUM balance TO total",
     "total := 0 ; DBEVAL({|| total := total + balance},,,,,)"},
    {"SUM balance, id TO total, ids REST",
     "total := ids := 0 ; DBEVAL({|| total := total + balance, ids := ids + id},,,,, .T.)"},
    {"AVERAGE balance TO avg",
     "avg := {0, 0} ; DBEVAL({|| avg[1] := avg[1] + 1, avg[2] := avg[2] + balance},,,,,) ; avg := iif(avg[1] == 0, 0, avg[2] / avg[1])"},
    {"AVERAGE balance, id TO avg, avgId FOR id > 0",
     "avg := {0, 0, avgId := 0} ; DBEVAL({|| avg[1] := avg[1] + 1, avg[2] := avg[2] + balance, avgId := avgId + id}, {|| id > 0 },,,,) ; avgId := iif(avg[1] == 0, 0, avgId / avg[1]) ; avg := iif(avg[1] == 0, 0, avg[2] / avg[1])"},
    {"LIST",
     "__DBLIST(.F., { }, .T.,,,,,)"},
    {"LIST name, balance",
     "__DBLIST(.F., { {|| name }, {|| balance } }, .T.,,,,,)"},
    {"LIST name OFF FOR balance > 0",
     "__DBLIST(.T., { {|| name } }, .T., {|| balance > 0 },,,,)"},
    {"DISPLAY",
     "__DBLIST(.F., { }, .F.,,,,,)"},
    {"DISPLAY name, city",
     "__DBLIST(.F., { {|| name }, {|| city } }, .F.,,,,,)"},
    {"DISPLAY ALL name",
     "__DBLIST(.F., { {|| name } }, .T.,,,,,)"},
    {"DISPLAY NEXT 3 OFF",
     "__DBLIST(.T., { }, .F.,,, 3,,)"},
    {"STORE 0 TO a",
     "a := 0"},
    {"STORE \"x\" TO a, b, c",
     "a := b := c := \"x\""},
    {"RELEASE a",
     "__MVXRELEASE(\"a\")"},
    {"RELEASE a, b",
     "__MVXRELEASE(\"a\", \"b\")"},
    {"RELEASE ALL",
     "__MVRELEASEALL()"},
    {"RELEASE ALL LIKE tmp*",
     "__MVRELEASEALL(\"tmp*\", .T.)"},
    {"RELEASE ALL EXCEPT k?",
     "__MVRELEASEALL(\"k?\", .F.)"},
    {"QUIT",
     "__QUIT()"},
    {"CANCEL",
     "__QUIT()"},
    {"ACCEPT TO cName",
     "cName := __ACCEPT()"},
    {"ACCEPT \"Name? \" TO cName",
     "cName := __ACCEPT(\"Name? \")"},
    {"INPUT \"Number? \" TO n",
     "n := __INPUT(\"Number? \")"},
    {"INPUT TO n",
     "n := __INPUT()"},
    {"ERASE old.txt",
     "FERASE(\"old.txt\")"},
    {"DELETE FILE (cFile)",
     "FERASE((cFile))"},
    {"RENAME a.txt TO b.txt",
     "FRENAME(\"a.txt\", \"b.txt\")"},
    {"COPY FILE a.txt TO b.txt",
     "__COPYFILE(\"a.txt\", \"b.txt\")"},
    {"?",
     "QOUT()"},
    {"? \"a\", 1",
     "QOUT(\"a\", 1)"},
    {"?? \"b\"",
     "QQOUT(\"b\")"},
};

}  // namespace

TEST(PpStandardHeader, ReadsWithoutDiagnostics) {
    auto r = runPp("", true);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.errors(), "");
    EXPECT_TRUE(r.lines.empty());
}

TEST(PpStandardHeader, EveryCommandBecomesItsCall) {
    for (const Expansion& e : kCommands) {
        auto r = runPp(std::string(e.command) + "\n", true);
        EXPECT_TRUE(r.ok) << e.command << "\n" << r.errors();
        EXPECT_EQ(r.text(), e.call) << e.command;
        ASSERT_EQ(r.lines.size(), 1u) << e.command;
        EXPECT_TRUE(r.lines[0].expanded) << e.command;
    }
}

TEST(PpStandardHeader, CommandsIgnoreCaseAndTakeFourLetterAbbreviations) {
    const Expansion cases[] = {
        {"use customers alias cu new", "DBUSEAREA(.T.,, \"customers\", \"cu\",, .F.)"},
        {"REPL balance WITH 1 FOR id = 2", "DBEVAL({|| _FIELD->balance := 1}, {|| id = 2 },,,,)"},
        {"DELE ALL", "DBEVAL({|| DBDELETE()},,,,,)"},
        {"INDE ON name TO n UNIQ", "ORDCREATE(\"n\",, \"name\", {|| name }, .T.)"},
        {"SET DELE ON", "SET(11, \"ON\")"},
        {"APPE BLAN", "DBAPPEND()"},
        {"Sele 1", "DBSELECTAREA(1)"},
        {"GO BOTT", "DBGOBOTTOM()"},
        {"CLOS DATA", "DBCLOSEALL()"},
    };
    for (const Expansion& e : cases) {
        auto r = runPp(std::string(e.command) + "\n", true);
        EXPECT_EQ(r.text(), e.call) << e.command;
    }
}

TEST(PpStandardHeader, CallsAndAssignmentsNamedLikeCommandsStayAsTheyAre) {
    const char* lines[] = {
        "Display()",       "x := Used()",   "Deleted()",       "Continue := 1", "Skip_count := 2",
        "Close(1)",        "lDel := .T.",   "nCount := 0",     "Use := 1",      "QOut(\"a\")",
    };
    for (const char* l : lines) {
        auto r = runPp(std::string(l) + "\n", true);
        EXPECT_TRUE(r.ok) << l << r.errors();
        EXPECT_EQ(r.text(), l) << l;
        ASSERT_EQ(r.lines.size(), 1u);
        EXPECT_FALSE(r.lines[0].expanded) << l;
    }
}

TEST(PpStandardHeader, SettingNumbersHaveNames) {
    auto r = runPp("? _SET_EXACT, _SET_DECIMALS, _SET_DATEFORMAT, _SET_EPOCH, _SET_PATH, _SET_DEFAULT, "
                   "_SET_EXCLUSIVE, _SET_SOFTSEEK, _SET_DELETED\n",
                   true);
    EXPECT_EQ(r.text(), "QOUT(1, 3, 4, 5, 6, 7, 8, 9, 11)");
}

TEST(PpStandardHeader, CanBeTurnedOff) {
    auto r = runPp("USE customers\n", false);
    EXPECT_EQ(r.text(), "USE customers");
    EXPECT_FALSE(r.lines[0].expanded);
}

TEST(PpStandardHeader, UserRulesWorkLikeTheStandardOnesAndComeFirst) {
    auto r = runPp("#command USE <x> => MYUSE(<(x)>)\n"
                   "#command TOTAL <v> => SUM balance TO <v>\n"
                   "USE customers\n"
                   "TOTAL t\n",
                   true);
    EXPECT_TRUE(r.ok) << r.errors();
    EXPECT_EQ(r.text(), "MYUSE(\"customers\")\n"
                        "t := 0 ; DBEVAL({|| t := t + balance},,,,,)");
}

TEST(PpStandardHeader, ACallsChangesDoNotReachTheNextCall) {
    auto a = runPp("#undef _SET_DELETED\n#define _SET_EXACT 99\n? _SET_DELETED, _SET_EXACT\n"
                   "#ifdef _SET_DELETED\n? 1\n#endif\n",
                   true);
    EXPECT_EQ(a.text(), "QOUT(_SET_DELETED, 99)");
    auto b = runPp("? _SET_DELETED, _SET_EXACT\n", true);
    EXPECT_EQ(b.text(), "QOUT(11, 1)");
}

TEST(PpStandardHeader, EveryStatementOfALineIsMatched) {
    auto r = runPp("USE a ; SKIP ; x := 1 ; GO TOP\n", true);
    EXPECT_EQ(r.text(), "DBUSEAREA(.F.,, \"a\",,, .F.) ; DBSKIP(1) ; x := 1 ; DBGOTOP()");
}

TEST(PpStandardHeader, ACommandOverSeveralLines) {
    auto r = runPp("REPLACE name WITH \"x\", ;\n        city WITH \"y\" ;\n        FOR id > 1\nSKIP\n", true);
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[0].line, 1);
    EXPECT_EQ(r.lines[0].text, "DBEVAL({|| _FIELD->name := \"x\", _FIELD->city := \"y\"}, {|| id > 1 },,,,)");
    EXPECT_EQ(r.lines[1].line, 4);
}
