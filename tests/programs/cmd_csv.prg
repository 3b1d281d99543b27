// Copying a table to CSV and back with commands: COPY TO ... DELIMITED,
// the text as written, ZAP, APPEND FROM ... DELIMITED, a copy of some
// fields for some records, and COPY STRUCTURE / APPEND FROM a table.
#command SAY <x,...> => OUTSTD(<x>) ; OUTSTD(CHR(10))

PROCEDURE Main()
   LOCAL nCount

   FERASE("cmdcsv.dbf")
   FERASE("cmdcsv.csv")
   FERASE("cmdcsv2.csv")
   FERASE("cmdcsv3.dbf")
   DBCREATE("cmdcsv", {{"NAME", "C", 12, 0}, {"CITY", "C", 10, 0}, {"BALANCE", "N", 8, 2}, ;
                       {"SINCE", "D", 8, 0}, {"VIP", "L", 1, 0}})
   USE cmdcsv ALIAS cust NEW EXCLUSIVE
   APPEND BLANK
   REPLACE name WITH "Smith", city WITH "Bilbao", balance WITH 120.5, since WITH CTOD("01/15/99"), vip WITH .T.
   APPEND BLANK
   REPLACE name WITH 'Bar "B"', city WITH "Leon, MX", balance WITH -3.25, since WITH CTOD("03/02/05"), vip WITH .F.
   APPEND BLANK
   REPLACE name WITH "Adams", city WITH "Madrid", balance WITH 0, since WITH CTOD("12/31/98"), vip WITH .F.

   COPY TO cmdcsv.csv DELIMITED
   ShowText("cmdcsv.csv")

   COPY TO cmdcsv2.csv FIELDS name, balance FOR balance > 0 DELIMITED
   ShowText("cmdcsv2.csv")

   ZAP
   SAY "after zap:", LTRIM(STR(LASTREC()))
   APPEND FROM cmdcsv.csv DELIMITED
   SAY "after append:", LTRIM(STR(LASTREC()))
   GO TOP
   DO WHILE !EOF()
      SAY "[" + TRIM(name) + "]", "[" + TRIM(city) + "]", LTRIM(STR(balance, 10, 2)), DTOS(since), IIF(vip, "T", "F")
      SKIP
   ENDDO

   COPY STRUCTURE TO cmdcsv3
   // the source must not be open elsewhere in exclusive use: that open would
   // fail as a sharing conflict (NETERR() set, nothing copied)
   USE
   USE cmdcsv3 NEW EXCLUSIVE
   APPEND FROM cmdcsv FOR balance >= 0
   COUNT TO nCount
   SAY "copied by APPEND FROM a table:", LTRIM(STR(nCount))
   CLOSE DATABASES
   FERASE("cmdcsv.dbf")
   FERASE("cmdcsv.csv")
   FERASE("cmdcsv2.csv")
   FERASE("cmdcsv3.dbf")
RETURN

// Writes a text file's lines, each ended by "|" where the file has CR LF.
PROCEDURE ShowText(cFile)
   LOCAL h, cText, nAt
   h := FOPEN(cFile)
   cText := FREADSTR(h, 4096)
   FCLOSE(h)
   DO WHILE LEN(cText) > 0
      nAt := AT(CHR(13) + CHR(10), cText)
      IF nAt == 0
         SAY cText
         EXIT
      ENDIF
      SAY LEFT(cText, nAt - 1) + "|"
      cText := SUBSTR(cText, nAt + 2)
   ENDDO
RETURN
