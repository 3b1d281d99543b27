#command SHOW <x,...> [TO <(f)>] [<b:BOLD>] => QOUT(<"x">, <(f)>, <.b.>) [; LOG(<{x}>)]
#xtranslate Twice(<x>) => (<x> * 2)
#define MAX(a, b) iif(a > b, a, b)
SHOW a, b TO out.txt BOLD
? Twice(MAX(1, 2))
