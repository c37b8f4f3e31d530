x = 1 y
