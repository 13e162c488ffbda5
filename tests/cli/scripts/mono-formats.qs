# The old paint programs' formats hold one bit: Save As asks before it drops the colours, and
# the picture opens again as black and white (MacPaint's as its whole page).
open sample.png
answer yes
save page.mac
answer yes
save gem.img
answer yes
save paint.msp
save copy.bmp
open page.mac
print status
open gem.img
print status
open paint.msp
print status
