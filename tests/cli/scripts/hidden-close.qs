# Hiding a layer of a saved file is a change the file can keep: closing asks about it.
open sample.png
command 15875
save layers.qlx
print status
visible 1 0
print status
print undo
answer yes
command 24336
