# What the view shows, as PNG, and the file saved under a type chosen by its name.
open sample.png
export shown.png
save copy.bmp
print status
