// Every kind of variable and where it is seen.
STATIC sFile := "file static"
MEMVAR gPublic

PROCEDURE Main
   LOCAL nLocal := 1
   PUBLIC gPublic := "public"
   PRIVATE cPrivate := "private of Main"
   ? nLocal, sFile, gPublic, cPrivate
   Callee()
   ? "back in Main:", cPrivate, gPublic
   ? "counter", Counter(), Counter(), Counter()
   Undeclared()
   ? "after Undeclared, xFree is", TYPE("xFree")
   RETURN

PROCEDURE Callee
   LOCAL nLocal := 2
   ? "Callee sees", nLocal, cPrivate, gPublic, sFile
   PRIVATE cPrivate := "private of Callee"
   gPublic := "changed by Callee"
   ? "Callee hides:", cPrivate
   Deeper()
   RETURN

PROCEDURE Deeper
   ? "Deeper sees", cPrivate
   RETURN

FUNCTION Counter()
   STATIC nCount := 0
   nCount++
   RETURN nCount

PROCEDURE Undeclared
   xFree := "created private"
   ? "Undeclared:", xFree
   RETURN
