# In-place commands from a script: a quick correction, Invert within a selection, a flip that
# drops the selection first, each its own undo step.
open sample.png
command 15756
drag 10 10 29 19
command 15604
print selection
command 15602
print selection
print undo
command 15505
print layers
print undo
command 15505
