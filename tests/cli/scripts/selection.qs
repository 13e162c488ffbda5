# Selection gestures through the script verbs: a drag, the retoucher with its width, a
# held Ctrl that subtracts, the mask written as a 1-bit file, Esc that deselects.
new 40 30 24
print selection
mask none.png
drag 10 10 12 12
print selection
command 15263
option "Retoucher width" 2
drag 30 5 35 5
print selection
key ctrl down
drag 30 5 35 5
key ctrl up
print selection
mask sel.png
key esc
print selection
option "Line width" 2.5
option "Brush antialiased" 0
option "Text font face" "DejaVu Sans"
