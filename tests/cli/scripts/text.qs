# The text tool: a frame dragged, typed into, committed by the next press; Esc; As Layer.
new 120 60 24
color fg 000000
font "DejaVu Sans" 18
command 15309
drag 4 4 110 50
print tool
type Hi\nyou
commit
print undo
# The H's left stem, the gap inside it, the second line's y.
print pixel 7 14
print pixel 12 14
print pixel 16 42
# Esc drops the text; only the step stays.
drag 60 4 110 50
type gone
key esc
print undo
# As Layer: a layer of its own, sized to the glyphs.
option "Text style flags" 16
font "Times New Roman" 24 bold
drag 30 10 115 55
type Ab
commit
print layers
