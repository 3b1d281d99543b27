// Recursion: factorial, Fibonacci and a mutual pair.
PROCEDURE Main
   LOCAL i
   FOR i := 0 TO 10
      ?? STR(Fact(i), 8)
   NEXT
   ? "fib(20) =", Fib(20)
   ? "even(7):", IsEven(7), "even(10):", IsEven(10)
   RETURN

FUNCTION Fact(n)
   IF n <= 1
      RETURN 1
   ENDIF
   RETURN n * Fact(n - 1)

FUNCTION Fib(n)
   RETURN IIF(n < 2, n, Fib(n - 1) + Fib(n - 2))

FUNCTION IsEven(n)
   RETURN IIF(n == 0, .T., IsOdd(n - 1))

FUNCTION IsOdd(n)
   RETURN IIF(n == 0, .F., IsEven(n - 1))
