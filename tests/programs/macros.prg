// Macros: &var, &(expr), text substitution in strings, assignment by name.
MEMVAR cName, nValue, cExpr

PROCEDURE Main
   PRIVATE cName := "nValue", nValue := 7, cExpr := "nValue * 6"
   ? &cExpr
   ? &("1 + " + "2")
   ? "name is &cName. and value", &cName
   &cName := 99
   ? "assigned:", nValue
   ? "call by macro:", &("UPPER('abc')")
   RETURN
