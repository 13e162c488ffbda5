# Copy and paste from a script: a selection pasted keeps its place and shape, Cut without a
# selection removes the layer, a paste into an 8-bit document takes its depth, and the
# background alone cannot be copied.
open sample.png
drag 10 10 29 19
command 24323
command 24324
print layers
print undo
command 24322
print layers
new 64 48 8
command 24324
print layers
window 1
print layers
command 24322
print layers
