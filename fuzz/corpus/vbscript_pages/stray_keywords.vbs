Next
Loop
