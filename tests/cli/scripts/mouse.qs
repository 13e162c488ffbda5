# Image pixels become client points at the view's zoom and scroll; the paging keys scroll.
new 2000 1500 24
command 15222
press 500 400
print status
release 500 400
key PageDown
print status
key Ctrl down
key End
key Ctrl up
print status
tick 9999 2
command 15224
drag 7 9 13 5
print status
