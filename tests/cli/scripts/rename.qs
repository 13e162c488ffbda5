# Renaming in the layer list is one undo step; Undo gives the old name back.
open sample.png
command 15875
rename 1 "Sky and  sea"
print layers
print undo
command 24321
print layers
