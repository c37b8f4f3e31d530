Sub Twice(ByRef a, ByVal b)
  a = a * 2 : b = b * 2
End Sub
Function Fact(n)
  If n <= 1 Then Fact = 1 Else Fact = n * Fact(n - 1)
End Function
Private Function Nothing1() : Exit Function : End Function
Twice x, (y)
Call Twice(x, y)
Response.Write (Fact(3)) & "x"
