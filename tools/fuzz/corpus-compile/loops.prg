// Loops and choices: DO WHILE with EXIT and LOOP, FOR with steps, DO CASE.
PROCEDURE Main
   LOCAL n := 0, i, nStep := -2
   DO WHILE .T.
      n++
      IF n % 2 == 0
         LOOP
      ENDIF
      IF n > 7
         EXIT
      ENDIF
      ?? n
   ENDDO
   ? "n =", n
   FOR i := 1 TO 3
      ?? " up", i
   NEXT
   ? "after the loop", i
   FOR i := 10 TO 1 STEP -3
      ?? i
   NEXT
   ?
   FOR i := 5 TO 1 STEP nStep
      ?? i
   NEXT
   ?
   FOR i := 1 TO 0
      ? "never"
   NEXT
   FOR i := 1 TO 4
      DO CASE
      CASE i == 1
         ? "one"
      CASE i == 2 .OR. i == 3
         ? "two or three"
      OTHERWISE
         ? "other"
      ENDCASE
   NEXT
   n := 0
   WHILE n < 3
      n += 1
   END
   ? "WHILE/END:", n
   IF n == 1
      ? "no"
   ELSEIF n == 3
      ? "elseif"
   ELSE
      ? "else"
   ENDIF
   RETURN
