// Fields of a table: declared with FIELD (and IN alias), aliased, through
// FIELD->, and undeclared names that find a field before a memory variable.
FIELD Name, Qty IN Stock

PROCEDURE Main
   LOCAL nTotal := 0
   DBCREATE("stock", {{"NAME", "C", 10, 0}, {"QTY", "N", 5, 0}})
   DBUSEAREA(.T., NIL, "stock")
   DBAPPEND()
   Stock->Name := "bolt"
   Stock->Qty := 12
   DBAPPEND()
   FIELD->Name := "nut"
   Qty := 30
   DBGOTOP()
   DO WHILE !EOF()
      ? TRIM(Name), Stock->Qty, Undeclared()
      nTotal += Qty
      DBSKIP()
   ENDDO
   ? "total", nTotal
   DBGOTOP()
   ? "records:", Stock->(LASTREC()), (1)->Qty
   DBCLOSEAREA()
   RETURN

FUNCTION Undeclared()
   RETURN Name
