// Commands a program defines for itself next to the standard ones: a
// #command with optional clauses in any order, a #translate, a #define
// with arguments, STORE, SET DELETED, SET FILTER, RECALL, SKIP and GO.
#command SAY <x,...> => OUTSTD(<x>) ; OUTSTD(CHR(10))
#command SHOW RECORDS [<title>] [FOR <for>] [<up: UPPER>] => ShowRecords(<title>, <{for}>, <.up.>)
#xtranslate Money(<n>) => LTRIM(STR(<n>, 10, 2))
#define TABLE "cmdrule"

PROCEDURE Main()
   LOCAL a, b, c

   STORE 7 TO a, b, c
   SAY "stored:", LTRIM(STR(a + b + c))

   FERASE(TABLE + ".dbf")
   DBCREATE(TABLE, {{"ITEM", "C", 8, 0}, {"PRICE", "N", 7, 2}})
   USE (TABLE) NEW EXCLUSIVE
   AddItem("pen", 1.5)
   AddItem("book", 12)
   AddItem("lamp", 30.25)
   AddItem("cup", 4)

   SHOW RECORDS "all"
   SHOW RECORDS FOR price > 5 UPPER "dear"
   GO 2
   DELETE
   SET DELETED ON
   SHOW RECORDS "without deleted"
   SET FILTER TO price < 20
   SHOW RECORDS "filtered"
   SET FILTER TO
   SET DELETED OFF
   GO 2
   RECALL
   SHOW RECORDS "recalled"
   GO BOTTOM
   SAY "bottom:", TRIM(item), Money(price)
   CLOSE
   FERASE(TABLE + ".dbf")
RETURN

PROCEDURE AddItem(cItem, nPrice)
   APPEND BLANK
   REPLACE item WITH cItem, price WITH nPrice
RETURN

PROCEDURE ShowRecords(cTitle, bFor, lUpper)
   LOCAL cLine := IIF(cTitle == NIL, "records", cTitle) + ":"
   GO TOP
   DO WHILE !EOF()
      IF bFor == NIL .OR. EVAL(bFor)
         cLine := cLine + " " + IIF(lUpper, UPPER(TRIM(item)), TRIM(item)) + "=" + Money(price)
      ENDIF
      SKIP
   ENDDO
   SAY cLine
RETURN
