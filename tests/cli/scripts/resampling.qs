# Resize with the resampling chosen in its dialog: nearest neighbour doubles every pixel and
# halving picks them again, so the picture comes back exactly; resampling blends them.
open sample.png
dialog 1 107=1 120=Nearest ok
command 15501
dialog 1 109=1 120=Nearest ok
command 15501
print layers
export nearest-back.png
dialog 1 107=1 120=Resample ok
command 15501
dialog 1 109=1 120=Nearest ok
command 15501
export resampled-back.png
