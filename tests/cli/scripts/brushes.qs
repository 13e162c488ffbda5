# Each brush paints a stroke and records its own undo step; the clone brush first asks for
# an origin, and the history brush undoes the last stroke and paints it back where it passes.
new 64 48 24
color fg 102030
command 15304
option "Brush width" 500
drag 5 5 40 30
command 15311
press 20 20
tick 9997 3
release 20 20
command 15305
drag 10 30 50 30
command 15307
drag 5 40 20 40
drag 30 10 30 10 1 right
drag 5 40 20 40
print undo
command 15310
print undo
drag 5 40 20 40
print undo
