# Questions come out as lines; an answer decides them.
open sample.png
command 15875
command 24336
print status
answer no
command 24336
command 24331
command 24336
