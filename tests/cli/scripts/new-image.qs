# File New goes through New Image Properties, filled with the background colour; a size
# of 0 keeps the dialog open with a message; sizes in another unit are converted.
new 320 240 24
export white.png
answer no
command 24336
color bg FF0000
new 320 240 24
export red.png
dialog 1524 103=0 104=30 ok
command 24331
dialog 1524 113=Inches 103=2 104=1 ok
command 24331
print status
new 40 30 24
print status
