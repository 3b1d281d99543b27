// Database start-up: DBFNTX becomes the default driver.

// The module names the database start-up; nothing calls it.

PROCEDURE RddSys
   RETURN


// Both drivers are linked into every program: the index driver is the
// default, the table-only driver stays available by name. Their
// registration procedures run before this one (initialisation
// procedures run from the last registered to the first).

INIT PROCEDURE RddInit
   REQUEST DBFNTX, DBFONLY
   RDDSETDEFAULT("DBFNTX")

   RETURN
