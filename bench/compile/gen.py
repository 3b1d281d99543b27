#!/usr/bin/env python3
"""Writes three programs of the same shape and about the same number of lines
(one procedure after another: locals, assignments, a condition with both
arms, a counting loop, a while loop, calls, string building, an array) in
the xBase language, Lua and Python.
    gen.py LINES OUTDIR   -> OUTDIR/prog.prg, prog.lua, prog.py"""
import os
import sys


def prg(i):
    return [
        f"FUNCTION Work{i}(a, b)",
        "   LOCAL n := 0, s := \"\", k, t := {1, 2, 3}",
        "   IF a > b",
        "      n := a - b",
        "   ELSE",
        "      n := b - a + 1",
        "   ENDIF",
        "   FOR k := 1 TO 10",
        "      n += k * 2",
        "      s := s + STR(k)",
        "   NEXT",
        "   DO WHILE n > 100",
        "      n := n / 2",
        "   ENDDO",
        f"   t[1] := Helper{i % 7}(n, s)",
        "   IF LEN(s) > 5 .AND. n < 1000",
        "      s := UPPER(s)",
        "   ENDIF",
        "   RETURN n + LEN(t)",
        "",
    ]


def lua(i):
    return [
        f"function Work{i}(a, b)",
        "   local n, s, k, t = 0, \"\", nil, {1, 2, 3}",
        "   if a > b then",
        "      n = a - b",
        "   else",
        "      n = b - a + 1",
        "   end",
        "   for k = 1, 10 do",
        "      n = n + k * 2",
        "      s = s .. tostring(k)",
        "   end",
        "   while n > 100 do",
        "      n = n / 2",
        "   end",
        f"   t[1] = Helper{i % 7}(n, s)",
        "   if #s > 5 and n < 1000 then",
        "      s = string.upper(s)",
        "   end",
        "   return n + #t",
        "end",
    ]


def py(i):
    return [
        f"def Work{i}(a, b):",
        "    n = 0; s = \"\"; k = None; t = [1, 2, 3]",
        "    if a > b:",
        "        n = a - b",
        "    else:",
        "        n = b - a + 1",
        "    for k in range(1, 11):",
        "        n += k * 2",
        "        s = s + str(k)",
        "    while n > 100:",
        "        n = n / 2",
        f"    t[0] = Helper{i % 7}(n, s)",
        "    if len(s) > 5 and n < 1000:",
        "        s = s.upper()",
        "    return n + len(t)",
        "",
        "",
        "",
        "",
        "",
    ]


def main():
    lines, out = int(sys.argv[1]), sys.argv[2]
    os.makedirs(out, exist_ok=True)
    for ext, make in (("prg", prg), ("lua", lua), ("py", py)):
        body = []
        i = 0
        while len(body) < lines:
            body += make(i)
            i += 1
        with open(os.path.join(out, "prog." + ext), "w") as f:
            f.write("\n".join(body[:lines]) + "\n")


main()
