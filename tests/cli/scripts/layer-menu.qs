# A Layer menu command on an opened file, its undo step, and Undo.
open sample.png
command 15875
print layers
print undo
command 24321
print layers
print undo
