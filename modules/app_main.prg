// The application: a serial-port test. MAIN opens "Com1:" for reading and
// writing, switches the line to 115200 baud, 8 data bits, no parity, one
// stop bit, writes one line, flushes it, puts the previous settings back
// and closes the port.

FUNCTION Main()

   LOCAL nHandle      // the port
   LOCAL aSaved       // the settings it had before

   nHandle := FOPEN("Com1:", 2)     // read and write: the port is written below

   IF nHandle != -1

      // 115200 baud, 8 data bits, parity 0 (none), stop-bit code 0 (one
      // stop bit); FDCB answers the settings it replaced.

      aSaved := FDCB(nHandle, 115200, 8, 0, 0)


      FWRITE(nHandle, "Texto de prueba" + CHR(13) + CHR(10))


      FCOMMIT(nHandle)

      // The previous baud rate, data bits, parity and stop bits again.
      FDCB(nHandle, aSaved[1], aSaved[2], aSaved[3], aSaved[4])


      FCLOSE(nHandle)
   ENDIF

   RETURN NIL
