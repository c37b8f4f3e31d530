Option Explicit
Dim i, list(2), names, word
Const Greeting = "hi", Limit = 3
For i = 10 To 1 Step -4 : Response.Write i & "," : Next
For Each word In Array("a", "b", "c")
  If word = "b" Then Exit For
Next
Do Until i >= Limit : i = i + 1 : Loop
Do : i = i + 1 : If i > 5 Then Exit Do
Loop While True
While i < 9 : i = i + 1 : Wend
Select Case i
  Case 1, 2 : Response.Write "small"
  Case Else : Response.Write "other"
End Select
ReDim Preserve names(3)
Erase list
