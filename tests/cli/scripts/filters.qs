# Filter dialogs from a script: Red Eye asks for the eye first, a slider filter, the emboss
# direction as a radio button, the Spatial Filter subtype by its text, water colour,
# Diffuse Outline's question about 32 bits, then Red Eye on the selected eye. Each answer
# comes before the command whose dialog or question it answers.
open sample.png
command 15610
dialog 1513 103=5 ok
command 15612
dialog 1511 103=30 110=1 ok
command 15703
dialog 1518 107=1 110=Vertical 111=0 ok
command 15707
dialog 1510 106=2 ok
command 15702
answer no
command 15708
answer yes
dialog 1530 107=50 cancel
command 15708
drag 10 10 40 30
dialog 1517 103=1000 ok
command 15610
print undo
print layers
# Underlay refuses OK without a background picture, then takes the one Browse... finds.
dialog 1509 ok
command 15701
file sample.png
dialog 1509 104=click ok
command 15701
print undo
