// A customer table written in commands: created, filled, indexed, sought,
// changed with scopes, counted, summed, averaged, deleted from and packed.
#command SAY <x,...> => OUTSTD(<x>) ; OUTSTD(CHR(10))

PROCEDURE Main()
   LOCAL nCount, nTotal, nAvg

   FERASE("cmdcust.dbf")
   FERASE("cmdcustn.ntx")
   DBCREATE("cmdcust", {{"NAME", "C", 10, 0}, {"CITY", "C", 10, 0}, {"BALANCE", "N", 8, 2}})
   USE cmdcust NEW EXCLUSIVE
   AddCustomer("Smith", "Bilbao", 120.50)
   AddCustomer("Jones", "Madrid", 80)
   AddCustomer("Brown", "Bilbao", 200.25)
   AddCustomer("Garcia", "Sevilla", 15.75)
   AddCustomer("Adams", "Bilbao", 50)
   SAY "records:", LTRIM(STR(LASTREC()))

   INDEX ON UPPER(name) TO cmdcustn
   SEEK "JONES"
   SAY "seek JONES:", IIF(FOUND(), "found " + TRIM(name), "not found")
   SEEK "MILLER"
   SAY "seek MILLER:", IIF(FOUND(), "found", "not found"), IIF(EOF(), "at end", "not at end")
   SEEK "G" SOFTSEEK
   SAY "softseek G:", IIF(FOUND(), "found", "not found"), TRIM(name)
   GO TOP
   SAY "first by name:", TRIM(name)
   GO BOTTOM
   SAY "last by name:", TRIM(name)
   SKIP -1
   SAY "one before:", TRIM(name)

   REPLACE balance WITH balance + 10 FOR city = "Bilbao"
   COUNT TO nCount FOR city = "Bilbao"
   SUM balance TO nTotal
   AVERAGE balance TO nAvg FOR city = "Bilbao"
   SAY "Bilbao customers:", LTRIM(STR(nCount))
   SAY "total balance:", LTRIM(STR(nTotal, 12, 2))
   SAY "Bilbao average:", LTRIM(STR(nAvg, 12, 2))

   GO TOP
   LOCATE FOR balance > 100
   SAY "locate balance > 100:", TRIM(name)
   CONTINUE
   SAY "continue:", TRIM(name)
   CONTINUE
   SAY "continue again:", IIF(FOUND(), "found", "not found")

   DELETE FOR balance < 70
   COUNT TO nCount FOR DELETED()
   SAY "deleted:", LTRIM(STR(nCount))
   PACK
   SAY "records after pack:", LTRIM(STR(LASTREC()))
   GO TOP
   DO WHILE !EOF()
      SAY TRIM(name), TRIM(city), LTRIM(STR(balance, 12, 2))
      SKIP
   ENDDO
   CLOSE ALL
   FERASE("cmdcust.dbf")
   FERASE("cmdcustn.ntx")
RETURN

PROCEDURE AddCustomer(cName, cCity, nBalance)
   APPEND BLANK
   REPLACE name WITH cName, city WITH cCity, balance WITH nBalance
RETURN
