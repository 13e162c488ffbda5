# The tool options bar: each tool brings up its panel; what is typed into a field is what
# the tool then uses, in the window that had the focus.
new 640 240 24
color fg 000000
print options
command 15304
optionbar Width abc
# Letters are no number: the width is 0, as the panel shows once it comes up again.
command 15311
command 15304
print options
# Too wide for the brush: it paints at its largest, 300 pixels.
optionbar Width 500
optionbar "Soft edge" 0
drag 320 120 320 120 1
print pixel 175 120
print pixel 165 120
print pixel 465 120
print pixel 475 120
# Without Fill the rectangle is hollow, and Outline cannot be taken away too.
command 15302
optionbar Fill 0
print options
drag 20 20 60 60
print pixel 40 40
print pixel 20 40
# The text panel, and the option verb setting what the bar shows.
command 15309
optionbar Align Right
optionbar Bold 1
optionbar "As Layer" 1
optionbar Font "DejaVu Sans"
optionbar Size 24pt
option "Text size" 30
print options
# A second window keeps its own brush width; the first keeps what was typed there.
new 64 48 24
command 15304
optionbar Width 7
print options
window 1
command 15304
print options
window 2
print options
# Collapsed, the bar is its caption only; the fields stay bound and come back as they were.
optionbar collapse
print options
optionbar Width 9
optionbar expand
print options
