// Initialisation and exit procedures run around the main procedure.
PROCEDURE Main
   ? "main"
   RETURN

INIT PROCEDURE First
   ?? "init"
   RETURN

EXIT PROCEDURE Last
   ? "exit"
   RETURN
