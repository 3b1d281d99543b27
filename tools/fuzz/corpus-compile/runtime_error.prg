// A run-time error is reported with the procedure and the line.
PROCEDURE Main
   ? "before"
   Fails()
   ? "not reached"
   RETURN

PROCEDURE Fails
   LOCAL n := 1
   n := n + "x"
   RETURN
