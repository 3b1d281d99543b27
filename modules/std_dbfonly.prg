// Registration of the DBF table driver.

// Tables without indexes: the method table _VDBF.



PROCEDURE DbfOnly
   RETURN





INIT PROCEDURE DbfInit
   REQUEST _VDBF

   RDDREGISTER("DBF", 1)

   RETURN
