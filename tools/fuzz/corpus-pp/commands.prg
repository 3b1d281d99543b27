USE customers INDEX names NEW SHARED
INDEX ON UPPER(name) TO names FOR balance > 0 UNIQUE
REPLACE balance WITH balance + 10, name WITH "x" FOR city = "Bilbao"
COPY TO out.csv FIELDS name DELIMITED WITH ";" NEXT 10
AVERAGE balance, id TO a, b WHILE !Eof()
SET RELATION TO id INTO orders ADDITIVE
#ifdef FUZZ
#include "x.ch"
#endif
