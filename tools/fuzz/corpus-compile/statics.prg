// Statics keep their values between calls; blocks see their module's statics.
STATIC sTotal := 0, sNames := {"a", "b"}

PROCEDURE Main
   LOCAL b
   Add(5)
   Add(7)
   ? "total:", sTotal
   b := {|n| sTotal += n}
   EVAL(b, 100)
   ? "through a block:", sTotal, Total()
   ? "array static:", sNames[2], LEN(sNames)
   ? "procedure statics:", Tick(), Tick(), Tock(), Tick()
   RETURN

PROCEDURE Add(n)
   sTotal += n
   RETURN

FUNCTION Total()
   RETURN sTotal

FUNCTION Tick()
   STATIC n := 0
   RETURN ++n

FUNCTION Tock()
   STATIC n := 100
   RETURN ++n
