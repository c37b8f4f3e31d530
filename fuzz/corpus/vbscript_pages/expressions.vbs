x = -2 ^ 2 + 7 \ 2 Mod 3 * 4 / 5 - "1" & Null
y = Not a = b And c Or d Xor e Eqv f Imp g
z = #1/2/2003 10:30 PM# + &HFF + &O17 + &H8000& + 1.5E+3 + .5
Set o = Nothing : b = o Is Nothing
s = "a""b" & vbCrLf & _
    "c" ' comment
Rem remark
w = [bracketed name] + f(1, , 3)
