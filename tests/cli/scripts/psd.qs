# A picture saved as PhotoShop by its extension opens again with the same size and depth.
open sample.png
save copy.psd
print status
open copy.psd
print status
