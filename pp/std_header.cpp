// The standard header. Every command becomes a call of a runtime function;
// scope clauses (FOR, WHILE, NEXT, RECORD, REST, ALL) may come in any order
// and always reach the function as the arguments bFor, bWhile, nNext,
// nRecord, lRest (empty, and so NIL, when not written). Rules written later
// are tried first, so a bare form (DELETE) follows its scoped form.
#include "pp/std_header.h"

namespace xb::pp {
namespace {

#define XB_SCOPE "[FOR <for>] [WHILE <while>] [NEXT <next>] [RECORD <rec>] [<rest: REST>] [ALL]"
#define XB_SCOPE_ARGS "<{for}>, <{while}>, <next>, <rec>, [<.rest.>]"
#define XB_FIELDS "[FIELDS <fields,...>] " XB_SCOPE
#define XB_FIELDS_ARG "{ <(fields)> }"

const char* const kHeader =
    // Setting numbers for SET().
    "#define _SET_EXACT 1\n"
    "#define _SET_FIXED 2\n"
    "#define _SET_DECIMALS 3\n"
    "#define _SET_DATEFORMAT 4\n"
    "#define _SET_EPOCH 5\n"
    "#define _SET_PATH 6\n"
    "#define _SET_DEFAULT 7\n"
    "#define _SET_EXCLUSIVE 8\n"
    "#define _SET_SOFTSEEK 9\n"
    "#define _SET_DELETED 11\n"
    "#define _SET_COLOR 15\n"

    // Console output.
    "#command ? [<list,...>] => QOUT(<list>)\n"
    "#command ?? [<list,...>] => QQOUT(<list>)\n"

    // Opening, selecting and closing tables.
    "#command USE <(db)> [VIA <rdd>] [ALIAS <a>] [<new: NEW>] [<ex: EXCLUSIVE>] [<sh: SHARED>] [<ro: READONLY>]"
    " [INDEX <(index1)> [, <(indexN)>]]"
    " => DBUSEAREA(<.new.>, <rdd>, <(db)>, <(a)>, [<.sh.>][!<.ex.>], <.ro.>)"
    " [; ORDLISTADD(<(index1)>)] [; ORDLISTADD(<(indexN)>)]\n"
    "#command USE => DBCLOSEAREA()\n"
    "#command SELECT <area> => DBSELECTAREA(<(area)>)\n"
    "#command CLOSE <alias> => <alias>->( DBCLOSEAREA() )\n"
    "#command CLOSE => DBCLOSEAREA()\n"
    "#command CLOSE ALL => DBCLOSEALL()\n"
    "#command CLOSE DATABASES => DBCLOSEALL()\n"
    "#command CLOSE INDEXES => ORDLISTCLEAR()\n"
    "#command COMMIT => DBCOMMITALL()\n"
    "#command UNLOCK => DBRUNLOCK()\n"
    "#command UNLOCK ALL => DBUNLOCKALL()\n"

    // Moving.
    "#command GO <n> => DBGOTO(<n>)\n"
    "#command GOTO <n> => DBGOTO(<n>)\n"
    "#command GO TOP => DBGOTOP()\n"
    "#command GOTO TOP => DBGOTOP()\n"
    "#command GO BOTTOM => DBGOBOTTOM()\n"
    "#command GOTO BOTTOM => DBGOBOTTOM()\n"
    "#command SKIP => DBSKIP(1)\n"
    "#command SKIP <n> => DBSKIP(<n>)\n"
    "#command SKIP ALIAS <a> => <a>->( DBSKIP(1) )\n"
    "#command SKIP <n> ALIAS <a> => <a>->( DBSKIP(<n>) )\n"
    "#command SEEK <key> [<soft: SOFTSEEK>] [<last: LAST>] => DBSEEK(<key>, [<.soft.>], [<.last.>])\n"
    "#command LOCATE " XB_SCOPE " => __DBLOCATE(" XB_SCOPE_ARGS ")\n"
    "#command CONTINUE => __DBCONTINUE()\n"

    // Changing records.
    "#command APPEND BLANK => DBAPPEND()\n"
    "#command REPLACE [<f1> WITH <x1> [, <fN> WITH <xN>]] " XB_SCOPE
    " => DBEVAL({|| _FIELD-><f1> := <x1> [, _FIELD-><fN> := <xN>]}, " XB_SCOPE_ARGS ")\n"
    "#command REPLACE <f1> WITH <x1> [, <fN> WITH <xN>] => _FIELD-><f1> := <x1> [; _FIELD-><fN> := <xN>]\n"
    "#command DELETE " XB_SCOPE " => DBEVAL({|| DBDELETE()}, " XB_SCOPE_ARGS ")\n"
    "#command DELETE => DBDELETE()\n"
    "#command RECALL " XB_SCOPE " => DBEVAL({|| DBRECALL()}, " XB_SCOPE_ARGS ")\n"
    "#command RECALL => DBRECALL()\n"
    "#command PACK => __DBPACK()\n"
    "#command ZAP => __DBZAP()\n"

    // Indexes, filters, relations.
    "#command INDEX ON <key> TO <(file)> [TAG <(tag)>] [FOR <for>] [<u: UNIQUE>] [<d: DESCENDING>]"
    " => [ORDCONDSET(<\"for\">, <{for}>, , , , , , , , , <.d.>) ;]"
    " ORDCREATE(<(file)>, <(tag)>, <\"key\">, <{key}>, [<.u.>])\n"
    "#command INDEX ON <key> TAG <(tag)> [TO <(file)>] [FOR <for>] [<u: UNIQUE>] [<d: DESCENDING>]"
    " => [ORDCONDSET(<\"for\">, <{for}>, , , , , , , , , <.d.>) ;]"
    " ORDCREATE(<(file)>, <(tag)>, <\"key\">, <{key}>, [<.u.>])\n"
    "#command SET INDEX TO [<(index1)> [, <(indexN)>]] [<add: ADDITIVE>]"
    " => iif(<.add.>, NIL, ORDLISTCLEAR()) [; ORDLISTADD(<(index1)>)] [; ORDLISTADD(<(indexN)>)]\n"
    "#command REINDEX => ORDLISTREBUILD()\n"
    "#command SET ORDER TO <n> => ORDSETFOCUS(<n>)\n"
    "#command SET ORDER TO TAG <(tag)> => ORDSETFOCUS(<(tag)>)\n"
    "#command SET ORDER TO => ORDSETFOCUS(0)\n"
    "#command SET FILTER TO <cond> => DBSETFILTER(<{cond}>, <\"cond\">)\n"
    "#command SET FILTER TO => DBCLEARFILTER()\n"
    "#command SET RELATION TO <key1> INTO <(alias1)> [, [TO] <keyN> INTO <(aliasN)>] [<add: ADDITIVE>]"
    " => iif(<.add.>, NIL, DBCLEARRELATION()) ; DBSETRELATION(<(alias1)>, <{key1}>, <\"key1\">)"
    " [; DBSETRELATION(<(aliasN)>, <{keyN}>, <\"keyN\">)]\n"
    "#command SET RELATION TO => DBCLEARRELATION()\n"

    // Settings.
    "#command SET EXACT <x: ON, OFF, &> => SET(_SET_EXACT, <(x)>)\n"
    "#command SET EXACT (<x>) => SET(_SET_EXACT, <x>)\n"
    "#command SET FIXED <x: ON, OFF, &> => SET(_SET_FIXED, <(x)>)\n"
    "#command SET FIXED (<x>) => SET(_SET_FIXED, <x>)\n"
    "#command SET EXCLUSIVE <x: ON, OFF, &> => SET(_SET_EXCLUSIVE, <(x)>)\n"
    "#command SET EXCLUSIVE (<x>) => SET(_SET_EXCLUSIVE, <x>)\n"
    "#command SET SOFTSEEK <x: ON, OFF, &> => SET(_SET_SOFTSEEK, <(x)>)\n"
    "#command SET SOFTSEEK (<x>) => SET(_SET_SOFTSEEK, <x>)\n"
    "#command SET DELETED <x: ON, OFF, &> => SET(_SET_DELETED, <(x)>)\n"
    "#command SET DELETED (<x>) => SET(_SET_DELETED, <x>)\n"
    "#command SET DATE FORMAT [TO] <f> => SET(_SET_DATEFORMAT, <f>)\n"
#define XB_DATE(word, short_, long_)                                                          \
    "#command SET DATE [TO] " word " => SET(_SET_DATEFORMAT, iif(\"YYYY\" $ UPPER(SET(_SET_DATEFORMAT)), \"" long_ \
    "\", \"" short_ "\"))\n"
    XB_DATE("AMERICAN", "mm/dd/yy", "mm/dd/yyyy")
    XB_DATE("ANSI", "yy.mm.dd", "yyyy.mm.dd")
    XB_DATE("BRITISH", "dd/mm/yy", "dd/mm/yyyy")
    XB_DATE("FRENCH", "dd/mm/yy", "dd/mm/yyyy")
    XB_DATE("GERMAN", "dd.mm.yy", "dd.mm.yyyy")
    XB_DATE("ITALIAN", "dd-mm-yy", "dd-mm-yyyy")
    XB_DATE("JAPANESE", "yy/mm/dd", "yyyy/mm/dd")
    XB_DATE("USA", "mm-dd-yy", "mm-dd-yyyy")
#undef XB_DATE
    "#command SET EPOCH TO <n> => SET(_SET_EPOCH, <n>)\n"
    "#command SET DECIMALS TO <n> => SET(_SET_DECIMALS, <n>)\n"
    "#command SET DECIMALS TO => SET(_SET_DECIMALS, 0)\n"
    "#command SET DEFAULT TO <(dir)> => SET(_SET_DEFAULT, <(dir)>)\n"
    "#command SET DEFAULT TO => SET(_SET_DEFAULT, \"\")\n"
    "#command SET PATH TO <*dirs*> => SET(_SET_PATH, #<dirs>)\n"
    "#command SET PATH TO (<dirs>) => SET(_SET_PATH, <dirs>)\n"
    "#command SET PATH TO => SET(_SET_PATH, \"\")\n"

    // Copies between tables, text files and folders.
    "#command COPY TO <(file)> " XB_FIELDS " [VIA <rdd>]"
    " => __DBCOPY(<(file)>, " XB_FIELDS_ARG ", " XB_SCOPE_ARGS ", <rdd>)\n"
    "#command COPY TO <(file)> " XB_FIELDS " SDF " XB_FIELDS
    " => __DBSDF(.T., <(file)>, " XB_FIELDS_ARG ", " XB_SCOPE_ARGS ")\n"
    "#command COPY TO <(file)> " XB_FIELDS " DELIMITED [WITH <(delim)>] " XB_FIELDS
    " => __DBDELIM(.T., <(file)>, <(delim)>, " XB_FIELDS_ARG ", " XB_SCOPE_ARGS ")\n"
    "#command COPY TO <(file)> " XB_FIELDS " DELIMITED WITH BLANK " XB_FIELDS
    " => __DBDELIM(.T., <(file)>, \"BLANK\", " XB_FIELDS_ARG ", " XB_SCOPE_ARGS ")\n"
    "#command APPEND FROM <(file)> " XB_FIELDS " [VIA <rdd>]"
    " => __DBAPP(<(file)>, " XB_FIELDS_ARG ", " XB_SCOPE_ARGS ", <rdd>)\n"
    "#command APPEND FROM <(file)> " XB_FIELDS " SDF " XB_FIELDS
    " => __DBSDF(.F., <(file)>, " XB_FIELDS_ARG ", " XB_SCOPE_ARGS ")\n"
    "#command APPEND FROM <(file)> " XB_FIELDS " DELIMITED [WITH <(delim)>] " XB_FIELDS
    " => __DBDELIM(.F., <(file)>, <(delim)>, " XB_FIELDS_ARG ", " XB_SCOPE_ARGS ")\n"
    "#command APPEND FROM <(file)> " XB_FIELDS " DELIMITED WITH BLANK " XB_FIELDS
    " => __DBDELIM(.F., <(file)>, \"BLANK\", " XB_FIELDS_ARG ", " XB_SCOPE_ARGS ")\n"
    "#command COPY STRUCTURE TO <(file)> [FIELDS <fields,...>] => __DBCOPYSTRUCT(<(file)>, " XB_FIELDS_ARG ")\n"
    "#command SORT TO <(file)> ON <fields,...> " XB_SCOPE
    " => __DBSORT(<(file)>, { <(fields)> }, " XB_SCOPE_ARGS ")\n"
    "#command SORT ON <fields,...> TO <(file)> " XB_SCOPE
    " => __DBSORT(<(file)>, { <(fields)> }, " XB_SCOPE_ARGS ")\n"
    "#command COPY FILE <(from)> TO <(to)> => __COPYFILE(<(from)>, <(to)>)\n"
    "#command RENAME <(from)> TO <(to)> => FRENAME(<(from)>, <(to)>)\n"
    "#command ERASE <(file)> => FERASE(<(file)>)\n"
    "#command DELETE FILE <(file)> => FERASE(<(file)>)\n"

    // Totals, through DBEVAL. AVERAGE keeps its count and first sum in an
    // array in the first variable until the end, so it needs no variable of
    // its own.
    "#command COUNT TO <v> " XB_SCOPE " => <v> := 0 ; DBEVAL({|| <v> := <v> + 1}, " XB_SCOPE_ARGS ")\n"
    "#command SUM <x1> [, <xN>] TO <v1> [, <vN>] " XB_SCOPE
    " => <v1> := [<vN> := ] 0 ; DBEVAL({|| <v1> := <v1> + <x1> [, <vN> := <vN> + <xN>]}, " XB_SCOPE_ARGS ")\n"
    "#command AVERAGE <x1> [, <xN>] TO <v1> [, <vN>] " XB_SCOPE
    " => <v1> := {0, 0 [, <vN> := 0]} ;"
    " DBEVAL({|| <v1>\\[1\\] := <v1>\\[1\\] + 1, <v1>\\[2\\] := <v1>\\[2\\] + <x1> [, <vN> := <vN> + <xN>]}, "
    XB_SCOPE_ARGS ")"
    " [; <vN> := iif(<v1>\\[1\\] == 0, 0, <vN> / <v1>\\[1\\])]"
    " ; <v1> := iif(<v1>\\[1\\] == 0, 0, <v1>\\[2\\] / <v1>\\[1\\])\n"

    // Listing records.
    "#command LIST [<list,...>] [<off: OFF>] " XB_SCOPE
    " => __DBLIST(<.off.>, { <{list}> }, .T., " XB_SCOPE_ARGS ")\n"
    "#command DISPLAY [<list,...>] [<off: OFF>] [FOR <for>] [WHILE <while>] [NEXT <next>] [RECORD <rec>]"
    " [<rest: REST>] [<all: ALL>] => __DBLIST(<.off.>, { <{list}> }, <.all.>, " XB_SCOPE_ARGS ")\n"

    // Memory variables, input, the end of the program.
    "#command STORE <v> TO <a> [, <aN>] => <a> := [<aN> := ] <v>\n"
    "#command RELEASE <names,...> => __MVXRELEASE(<\"names\">)\n"
    "#command RELEASE ALL => __MVRELEASEALL()\n"
    "#command RELEASE ALL LIKE <*skel*> => __MVRELEASEALL(#<skel>, .T.)\n"
    "#command RELEASE ALL EXCEPT <*skel*> => __MVRELEASEALL(#<skel>, .F.)\n"
    "#command ACCEPT [<prompt>] TO <v> => <v> := __ACCEPT(<prompt>)\n"
    "#command INPUT [<prompt>] TO <v> => <v> := __INPUT(<prompt>)\n"
    "#command QUIT => __QUIT()\n"
    "#command CANCEL => __QUIT()\n";

}  // namespace

const char* standardHeaderText() { return kHeader; }

}  // namespace xb::pp
