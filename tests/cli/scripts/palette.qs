# Colour depth and palettes from a script: Color Depth to 8 bits, one entry of the palette
# edited, the palette saved and loaded back keeping the indices, a file that is no palette
# refused, a black-and-white palette mapped onto the picture with dithering, and gray.
open sample.png
dialog 1505 109=1 115=1 124=1 ok
command 15504
pick FF0000
dialog 1520 105=3 104=click ok
command 15541
savefile sample.pal
command 15542
file sample.png
dialog 1521 101=click cancel
command 15543
file sample.pal
dialog 1521 101=click 102=1 ok
command 15543
print undo
print layers
new 16 16 1
savefile bw.pal
command 15542
window 1
file bw.pal
dialog 1521 101=click 102=0 118=1 ok
command 15543
print layers
window 2
command 15505
print undo
