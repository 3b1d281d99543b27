// BEGIN SEQUENCE, BREAK and RECOVER, leaving sequences by RETURN and EXIT.
PROCEDURE Main
   LOCAL x, i
   BEGIN SEQUENCE
      ? "inside"
      BREAK "thrown"
      ? "not reached"
   RECOVER USING x
      ? "recovered:", x
   END SEQUENCE
   BEGIN SEQUENCE
      Thrower()
   RECOVER USING x
      ? "from a callee:", x
   END
   BEGIN SEQUENCE
      ? "no break"
   END SEQUENCE
   ? "returned:", Leave()
   FOR i := 1 TO 5
      BEGIN SEQUENCE
         IF i == 3
            EXIT
         ENDIF
         ?? i
      END SEQUENCE
   NEXT
   ? "i after EXIT:", i
   BEGIN SEQUENCE
      ? "error caught:", Divide()
   RECOVER USING x
      ? "error object:", VALTYPE(x)
   END SEQUENCE
   ? "still running"
   RETURN

PROCEDURE Thrower
   BREAK 42
   RETURN

FUNCTION Leave()
   BEGIN SEQUENCE
      BEGIN SEQUENCE
         RETURN "from two sequences"
      END SEQUENCE
   END SEQUENCE
   RETURN "not this"

FUNCTION Divide()
   LOCAL bOld := ERRORBLOCK({|e| BREAK(e)})
   LOCAL n := "a" + 1
   ERRORBLOCK(bOld)
   RETURN n
