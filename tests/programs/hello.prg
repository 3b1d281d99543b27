// The first program: text, numbers with their widths, logical values.
PROCEDURE Main
   ? "Hello, world"
   ? 5
   ? "two", "values"
   ?? " and more"
   ? .T., .F., NIL
   ? -1, 10000, 0
   RETURN
