// Start-up: the public GETLIST and the default error block.

INIT PROCEDURE ClipInit

   PUBLIC GetList := {}
   ErrorSys()

   RETURN

// Called by nothing; kept for programs that name it.
PROCEDURE SysInit
   RETURN
