// part of multifile.prg
STATIC sWho := "library file"

FUNCTION LibGreet(c)
   RETURN "Hello, " + c + " from " + Helper()

FUNCTION LibWho()
   RETURN sWho

STATIC FUNCTION Helper()
   RETURN "the library"
