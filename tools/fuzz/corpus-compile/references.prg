// Parameters by reference: @ in calls, DO ... WITH, statics and memvars.
STATIC sValue := 10
MEMVAR mValue

PROCEDURE Main
   LOCAL a := 1, b := 2, c := "x", aList := {1, 2}
   PUBLIC mValue := 100
   Swap(@a, @b)
   ? "after Swap:", a, b
   DO Append WITH c, "y"
   ? "after DO WITH:", c
   Append(c, "z")
   ? "by value:", c
   Twice(@sValue)
   Twice(@mValue)
   ? "static and memvar:", sValue, mValue
   Grow(aList)
   ? "arrays are shared:", LEN(aList)
   RETURN

PROCEDURE Swap(x, y)
   LOCAL t := x
   x := y
   y := t
   RETURN

PROCEDURE Append(s, t)
   s += t
   RETURN

PROCEDURE Twice(n)
   n *= 2
   RETURN

PROCEDURE Grow(a)
   AADD(a, 3)
   RETURN
