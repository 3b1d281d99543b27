// Registration of the NTX index driver.

// The driver's method table (_VDBFNTX) inherits from the table-only
// driver, so both are linked whenever this module is.


PROCEDURE DbfNtx
   RETURN





INIT PROCEDURE DbfNtxInit
   REQUEST _VDBFNTX, DBFONLY
   // Registered under its own name, as a full driver (kind 1).

   RDDREGISTER("DBFNTX", 1)

   RETURN
