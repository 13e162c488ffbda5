# The eye hides a layer without an undo step: what is shown and saved leaves it out, and
# Undo of the step before brings the layers back as they were then.
open sample.png
command 15875
visible 0 0
visible 0 0
print layers
print undo
export hidden.png
command 24321
print layers
command 15875
visible 0 0
save hidden.qlx
