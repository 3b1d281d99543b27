// Compile errors are reported with their line and column.
PROCEDURE Main
   LOCAL x := 1
   x := (2 +
   IF x
   ? "ok"
   ENDDO
   y := 3 4
   RETURN
