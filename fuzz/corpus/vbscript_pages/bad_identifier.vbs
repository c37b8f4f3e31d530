Dim 1x
