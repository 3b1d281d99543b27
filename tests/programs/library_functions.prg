// Text, array, number and date functions of the library, each result
// written as one line of standard output.
PROCEDURE Main()
   LOCAL a := {3, 1, 2}, n := 0

   Say(ALLTRIM("  hola  ") + "|")
   Say(PADL("7", 3, "0") + PADR("ab", 4, ".") + PADC("x", 5, "*"))
   Say(STRTRAN("uno, dos, tres", ", ", ";"))
   Say(STUFF("abcdef", 3, 2, "ZZZ"))
   Say(RIGHT("programa", 4) + STR(RAT("a", "banana"), 2))
   Say(STRZERO(42, 6))
   Say(MEMOLINE("el perro come pan duro", 10, 2) + "|")
   Say(STR(MLCOUNT("el perro come pan duro", 10), 2))
   ASORT(a)
   Say(Join(a))
   ASORT(a, NIL, NIL, {|x, y| x > y})
   Say(Join(a))
   AADD(a, 9)
   Say(STR(ASCAN(a, 9), 2) + STR(LEN(ACLONE(a)), 2))
   AEVAL(a, {|e| n += e})
   Say(STR(n, 3))
   Say(STR(MOD(-7, 3), 3))
   Say(DTOS(STOD("20240228") + 1))
   Say(ELAPTIME("08:15:00", "17:45:30"))
   Say(TRANSFORM(1234.5, "9,999.99"))
   RETURN

STATIC PROCEDURE Say(cText)
   OUTSTD(cText + CHR(10))
   RETURN

STATIC FUNCTION Join(a)
   LOCAL c := "", i
   FOR i := 1 TO LEN(a)
      c += IIF(i > 1, ",", "") + LTRIM(STR(a[i]))
   NEXT
   RETURN c
