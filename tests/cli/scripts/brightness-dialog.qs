# Brightness/Contrast from a script: the preview written while the dialog is open, before
# and after a zoom, then OK within a selection, Cancel, and Undo.
open sample.png
drag 10 10 59 39
dialog 1503 106=45 preview=bright.png zoom=in preview=zoomed.png ok
command 15607
print undo
export brighter.png
dialog 1503 107=0 cancel
command 15607
print undo
command 24321
print undo
export undone.png
