// with: _multifile_lib.prg
// A program of two files: public procedures are shared, statics are not.
STATIC sWho := "main file"

PROCEDURE Main
   ? LibGreet("world")
   ? Helper(), sWho, LibWho()
   RETURN

STATIC FUNCTION Helper()
   RETURN "main helper"
