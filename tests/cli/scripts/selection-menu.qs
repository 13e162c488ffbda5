# The Selection menu from a script: Cut Out To Layer with its two steps, Invert within the
# layer and back, the Delete key removing the selected pixels, and Clear refused once no
# selection is left.
open sample.png
drag 10 10 29 19
command 15822
print layers
print undo
print selection
command 15877
drag 100 100 109 109
command 15803
print selection
command 15803
print selection
key delete
print undo
print selection
command 15808
