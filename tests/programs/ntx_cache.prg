// The index page cache as a program sets it: NTXCACHE() answers and clamps,
// and a table with an index built, changed and read with the cache off, at
// three pages (smaller than the tree) and at the default gives the same
// answers and the same index file, byte for byte. Two shared areas on one
// table see each other's key changes through their caches.
#command SAY <x,...> => OUTSTD(<x>) ; OUTSTD(CHR(10))

PROCEDURE Main()
   LOCAL nDefault, aFiles := {}, aSums := {}, aSizes := {0, 3, 0}, i, lSame

   nDefault := NTXCACHE()
   aSizes[3] := nDefault
   SAY "default is positive:", nDefault > 0
   SAY "set 40, was default:", NTXCACHE(40) == nDefault
   SAY "asked:", LTRIM(STR(NTXCACHE()))
   NTXCACHE(-5)
   SAY "below 0 counts as 0:", LTRIM(STR(NTXCACHE()))
   NTXCACHE(1000000000)
   SAY "capped:", LTRIM(STR(NTXCACHE()))
   NTXCACHE("many")
   SAY "a text changes nothing:", LTRIM(STR(NTXCACHE()))
   NTXCACHE(2.9)
   SAY "fraction dropped:", LTRIM(STR(NTXCACHE()))

   FOR i := 1 TO LEN(aSizes)
      NTXCACHE(aSizes[i])
      AADD(aSums, Exercise())
      AADD(aFiles, MEMOREAD("ntxcache.ntx"))
   NEXT
   lSame := .T.
   FOR i := 2 TO LEN(aSizes)
      IF !(aSums[i] == aSums[1]) .OR. !(aFiles[i] == aFiles[1])
         lSame := .F.
      ENDIF
   NEXT
   SAY "index of", LTRIM(STR(LEN(aFiles[1]))), "bytes"
   SAY "same answers and bytes with 0, 3 and the default:", lSame
   SAY aSums[1]

   NTXCACHE(3)
   SharedAreas("three pages")
   NTXCACHE(nDefault)
   SharedAreas("the default")
   FERASE("ntxcache.dbf")
   FERASE("ntxcache.ntx")
RETURN

// Builds the table and its index, changes keys, and returns a summary of
// what seeks and a walk in key order found.
FUNCTION Exercise()
   LOCAL i, nFound := 0, cLast := "", lOrdered := .T., nKeys := 0, nSum := 0
   FERASE("ntxcache.dbf")
   FERASE("ntxcache.ntx")
   DBCREATE("ntxcache", {{"NAME", "C", 12, 0}, {"NUM", "N", 8, 0}})
   USE ntxcache NEW EXCLUSIVE
   FOR i := 1 TO 3000
      APPEND BLANK
      REPLACE name WITH "k" + STRZERO((i * 7919) % 3001, 6), num WITH i
   NEXT
   INDEX ON name TO ntxcache
   // Key changes move entries between pages; new records split more.
   FOR i := 1 TO 3000 STEP 7
      GO i
      REPLACE name WITH "m" + STRZERO(i, 6)
   NEXT
   FOR i := 1 TO 400
      APPEND BLANK
      REPLACE name WITH "k" + STRZERO((i * 13) % 3001, 6) + "x", num WITH 3000 + i
   NEXT
   FOR i := 1 TO 3001 STEP 11
      SEEK "k" + STRZERO(i, 6)
      IF FOUND()
         nFound++
         nSum += num
      ENDIF
   NEXT
   GO TOP
   DO WHILE !EOF()
      IF name < cLast
         lOrdered := .F.
      ENDIF
      cLast := name
      nKeys++
      SKIP
   ENDDO
   CLOSE ALL
RETURN LTRIM(STR(nKeys)) + " keys" + IIF(lOrdered, " in order", " out of order") + ", " + ;
   LTRIM(STR(nFound)) + " found, record sum " + LTRIM(STR(nSum))

// Two shared areas of one table and index: a key changed in one is found
// by the other after its next lock.
PROCEDURE SharedAreas(cCache)
   USE ntxcache ALIAS one NEW SHARED INDEX ntxcache
   USE ntxcache ALIAS two NEW SHARED INDEX ntxcache
   SELECT one
   SEEK "m000008"
   SAY "cache of " + cCache + ":", "one finds m000008:", FOUND()
   SELECT two
   SEEK "m000008"
   IF FOUND() .AND. RLOCK()
      REPLACE name WITH "n000008"
      COMMIT
      UNLOCK
   ENDIF
   SELECT one
   SEEK "m000008"
   SAY "   after two's change, one finds m000008:", FOUND()
   SEEK "n000008"
   SAY "   and n000008:", FOUND(), "record", LTRIM(STR(RECNO()))
   IF RLOCK()
      REPLACE name WITH "m000008"
      COMMIT
      UNLOCK
   ENDIF
   SELECT two
   SEEK "m000008"
   SAY "   one changed it back; two finds m000008:", FOUND()
   CLOSE ALL
RETURN
