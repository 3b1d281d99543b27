// Codeblocks: parameters, reading and changing their creator's locals, also
// after the creator has returned, and blocks made inside blocks.
PROCEDURE Main
   LOCAL aPair, bAdd, bMake, bInner
   bAdd := {|x, y| x + y}
   ? "add:", EVAL(bAdd, 2, 3)
   aPair := MakeCounter(10)
   ? "counter:", EVAL(aPair[1]), EVAL(aPair[1]), EVAL(aPair[1])
   EVAL(aPair[2], 100)
   ? "after reset:", EVAL(aPair[1])
   bMake := MakeMaker("n")
   bInner := EVAL(bMake)
   ? "nested:", EVAL(bInner), EVAL(bInner)
   ? "sees later changes:", Later()
   ? "no parameters:", EVAL({|| "empty"}), VALTYPE({|| 1})
   RETURN

// Two blocks sharing one local of a procedure that has returned.
FUNCTION MakeCounter(nStart)
   LOCAL n := nStart
   RETURN {{|| ++n}, {|v| n := v}}

FUNCTION MakeMaker(cName)
   LOCAL nCalls := 0
   RETURN {|| {|| cName + STR(++nCalls, 2)}}

FUNCTION Later()
   LOCAL n := 1
   LOCAL b := {|| n * 10}
   n := 5
   RETURN EVAL(b)
