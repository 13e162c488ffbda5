# What the view shows, as PNG, and Save As: the type the name's extension says, or the one
# chosen when the name has none.
open sample.png
export shown.png
save copy.bmp
print status
save typed QLX multilayered images
print status
# File Save writes a file opened from the dialog in the type it came as.
open copy.bmp
command 15875
command 24333
print status
