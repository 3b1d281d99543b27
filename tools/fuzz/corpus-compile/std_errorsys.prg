// The error system's module: ERRORSYS installs the default error block,
// DEFERROR handles an error by default and ERRORMESSAGE builds the first
// line of its report.

PROCEDURE ErrorSys

   // Every error goes to DEFERROR until a handler is put in front of it.
   ERRORBLOCK({|e| DefError(e)})

   RETURN


STATIC FUNCTION DefError(e)

   LOCAL cMessage, nUnused, nLevel

   // Division by zero: the operation gives 0.

   IF e:GenCode == 5
      RETURN 0
   ENDIF
   // An open refused with a sharing violation fails quietly.
   IF e:GenCode == 21 .AND. e:OsCode == 32 .AND. e:CanDefault
      NETERR(.T.)
      RETURN .F.
   ENDIF
   // So does a refused append lock.
   IF e:GenCode == 40 .AND. e:CanDefault
      NETERR(.T.)
      RETURN .F.
   ENDIF

   cMessage := ErrorMessage(e)

   /* Anything else ends the program. The report is one text:

        Error BASE/1001  Función no definida: NAME (DOS Error n) 
        - Llamado desde PROC(line)  
        - Llamado desde ...

      written to the error output, then the program ends with error
      level 1 and its exit procedures run. */

   nUnused := 0

   /* The operating-system code, when the error has one, follows the
      first line.

      The call stack starts at level 2: level 0 is this function and
      level 1 the block that called it. Each line names the procedure
      and the line it was running, with two blanks after the
      parenthesis. The list ends with the outermost procedure, where
      PROCNAME answers an empty text.

      Nothing here may raise an error of its own: the error block that
      is running is this one, and a second error would call it again
      without end. Every value used below is a text or a number that
      the error object always answers. */









   IF !EMPTY(e:OsCode)
      cMessage += " (DOS Error " + LTRIM(STR(e:OsCode)) + ") "
   ENDIF

   // The call stack, one line per level.
   cMessage += CHR(13) + CHR(10)

   nLevel := 2

   DO WHILE !EMPTY(PROCNAME(nLevel))

      cMessage += CHR(13) + CHR(10) + "- Llamado desde " + TRIM(PROCNAME(nLevel)) + "(" + LTRIM(STR(PROCLINE(nLevel))) + ")  "
      nLevel++
   ENDDO

   OUTERR(cMessage)
   ERRORLEVEL(1)
   __QUIT()

   RETURN .F.


// The first line of the report: "Error BASE/1001  description: name".
STATIC FUNCTION ErrorMessage(e)

   LOCAL cMessage

   // An error of severity 1 is only a warning.
   cMessage := IIF(e:Severity > 1, "Error ", "Warning ")

   IF VALTYPE(e:SubSystem) == "C"
      cMessage += e:SubSystem
   ELSE
      cMessage += "???"
   ENDIF

   IF VALTYPE(e:SubCode) == "N"
      cMessage += "/" + LTRIM(STR(e:SubCode))
   ELSE
      cMessage += "/???"
   ENDIF

   IF VALTYPE(e:Description) == "C"
      cMessage += "  " + e:Description
   ENDIF

   IF !EMPTY(e:FileName)
      cMessage += ": " + e:FileName
   ELSEIF !EMPTY(e:Operation)
      cMessage += ": " + e:Operation
   ENDIF

   RETURN cMessage
