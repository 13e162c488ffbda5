# The shape tools, the fill and the eyedropper by mouse, with their options.
new 40 30 24
color fg C81E1E
color bg 1E1EC8
# A square with Shift: the drag to (17,13) snaps to the diagonal of length 10.
option "Rectangle fill style" 1
command 15302
press 5 5
move 17 13 shift
print tool
release 17 13 shift
print pixel 5 5
print pixel 10 10
print pixel 14 14
print pixel 15 15
# Fill only, with the right button: the colours exchange.
option "Ellipse fill style" 2
option "Ellipse antialiased" 0
command 15303
drag 20 2 35 12 4 right
print pixel 27 7
print pixel 20 2
# A wide line, not antialiased; a click alone draws nothing but is a step.
option "Line width" 3
option "Line antialiased" 0
command 15301
drag 2 25 30 25
print pixel 16 24
print pixel 16 27
press 38 28
release 38 28
print pixel 38 28
# The fill takes only the connected pixels of the colour under the release.
option "Color Replace" 0
color fg 00C800
command 15308
press 1 1
move 10 10
release 10 10
print pixel 10 10
print pixel 1 1
# The eyedropper reads what is shown; the left button picks the foreground colour.
command 15306
move 27 7
print tool
press 27 7
release 27 7
print colors
print undo
