// A key expression that fails on one record: the failure the key's own
// evaluation raises is the only error reported (the index is not called
// damaged after it) when an index is built, when a key changes and when the
// order is walked.
#command SAY <x,...> => OUTSTD(<x>) ; OUTSTD(CHR(10))

STATIC nBad := 0

PROCEDURE Main()
   LOCAL aSeen := {}, bOld, i
   DBCREATE("keyerr", {{"NAME", "C", 8, 0}})
   USE keyerr NEW EXCLUSIVE
   FOR i := 1 TO 5
      APPEND BLANK
      REPLACE name WITH "n" + LTRIM(STR(i))
   NEXT
   bOld := ERRORBLOCK({|e| AADD(aSeen, e:subSystem + "/" + LTRIM(STR(e:subCode))), BREAK(e)})

   nBad := 3
   BEGIN SEQUENCE
      INDEX ON KeyOf() TO keyerr
   END SEQUENCE
   SAY "build:", Seen(aSeen)

   nBad := 0
   INDEX ON KeyOf() TO keyerr
   SAY "built, keys:", LTRIM(STR(Count()))
   nBad := 4
   GOTO 4
   BEGIN SEQUENCE
      REPLACE name WITH "m4"
   END SEQUENCE
   SAY "key change:", Seen(aSeen)

   nBad := 2
   GOTO 2
   BEGIN SEQUENCE
      SKIP
   END SEQUENCE
   SAY "skip:", Seen(aSeen)

   nBad := 1
   BEGIN SEQUENCE
      INDEX ON KeyOf() TO keyerru UNIQUE
   END SEQUENCE
   SAY "unique build:", Seen(aSeen)

   ERRORBLOCK(bOld)
   CLOSE ALL
   FERASE("keyerr.dbf")
   FERASE("keyerr.ntx")
   FERASE("keyerru.ntx")
RETURN

FUNCTION KeyOf()
RETURN IF(RECNO() == nBad, 1 + "x", FIELD->name)

FUNCTION Count()
   LOCAL n := 0
   GO TOP
   DO WHILE !EOF()
      n++
      SKIP
   ENDDO
RETURN n

// The errors seen since the last call, then forgets them.
FUNCTION Seen(aSeen)
   LOCAL c := "", i
   FOR i := 1 TO LEN(aSeen)
      c += IF(i > 1, " ", "") + aSeen[i]
   NEXT
   ASIZE(aSeen, 0)
RETURN IF(EMPTY(c), "none", c)
