# The geometry commands from a script, each with its dialog answered: the canvas grown
# about the centre, a crop to the selection, a new layer, a layer resized and turned, the
# whole image resized, Undo back to the crop, and the background turned by 90 and 7.5
# degrees.
open sample.png
dialog 1523 105=0 103=323 104=243 114=Center 115=Center ok
command 15502
print layers
export geo-canvas.png
drag 10 10 59 39
command 15601
print layers
export geo-cropped.png
dialog 1525 103=20 104=10 ok
command 15851
dialog 1 105=0 103=10 104=8 ok
command 15562
dialog 1506 113=12.5 ok
command 15561
print layers
dialog 1 105=1 108=1 ok
command 15501
print layers
print undo
command 24321
command 24321
command 24321
command 24321
export geo-undone.png
print undo
answer no
command 24336
open sample.png
dialog 1506 108=1 ok
command 15561
export geo-turned.png
command 24321
dialog 1506 113=7.5 ok
command 15561
export geo-fine.png
