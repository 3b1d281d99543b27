// The index driver's lock-error handler: lock failures are retried, every
// other error goes to the block that was in force before.

// The module's name; nothing calls it.


PROCEDURE _NtxErr
   RETURN


// e the error, bPrevious the block that was in force before this
// module's initialisation installed its own.
STATIC FUNCTION LockErrHandler(e, bPrevious)

   IF e:GenCode == 41        // a lock failed: try again
      RETURN .T.
   ENDIF

   RETURN bPrevious:EVAL(e)


// Puts the handler in front of the block in force. The new block reads
// bPrevious itself, so it sees the value ERRORBLOCK answers.
INIT PROCEDURE InitHandler

   LOCAL bPrevious

   bPrevious := ERRORBLOCK({|e| LockErrHandler(e, bPrevious)})

   RETURN
