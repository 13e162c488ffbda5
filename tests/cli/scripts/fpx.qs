# Save As FlashPix by the name's extension: the document takes the file's name and is clean.
open sample.png
save copy.fpx
print status
