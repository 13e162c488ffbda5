#!/usr/bin/env python3
"""Makes the PNG test pictures with ImageMagick and, for each, the pixels ImageMagick
reads from it (.pam). Run once from this folder; the results are
committed. The BMP fixtures are made from source.png and source-alpha.png too.
"""
import glob
import struct
import subprocess

IM = "/usr/bin/convert"
# Only the chunks under test: no dates or comments that change on every run.
CLEAN = ["-define", "png:exclude-chunks=bKGD,cHRM,gAMA,tIME,tEXt,zTXt,iTXt,date,vpAg,oFFs,pHYs"]
KEEP_PHYS = ["-define", "png:exclude-chunks=bKGD,cHRM,gAMA,tIME,tEXt,zTXt,iTXt,date,vpAg,oFFs"]


def run(*args):
    subprocess.run([IM, *args], check=True)


def make(name, *ops, prefix="", source="source.png", clean=CLEAN):
    run(source, *ops, *clean, prefix + name)


def ct(t, depth):
    return ["-define", f"png:color-type={t}", "-define", f"png:bit-depth={depth}"]


def main():
    # A photograph-like 23 x 17 picture (odd sizes exercise row padding) with flat white
    # and black areas to make transparent.
    run("-seed", "7", "-size", "23x17", "plasma:fractal", "-depth", "8", "-fill", "white", "-draw",
        "rectangle 2,2 8,6", "-fill", "black", "-draw", "rectangle 12,9 18,14", *CLEAN, "source.png")
    run("source.png", "-alpha", "set", "-channel", "A", "-fx", "(i+j)/(w+h-2)", "+channel", *CLEAN, "source-alpha.png")
    # Full 16-bit samples, so that narrowing them to 8 bits is tested too.
    run("-seed", "7", "-size", "23x17", "plasma:fractal", "-depth", "16", *CLEAN, "source16.png")
    alpha = ["-alpha", "set", "-channel", "A", "-fx", "(i+j)/(w+h-2)", "+channel"]
    gray = ["-colorspace", "gray"]

    make("gray1.png", *gray, "-threshold", "50%", *ct(0, 1))
    make("gray2.png", *gray, "-posterize", "4", *ct(0, 2))
    make("gray4.png", *gray, "-posterize", "16", *ct(0, 4))
    make("gray8.png", *gray, *ct(0, 8))
    make("gray16.png", *gray, *ct(0, 16), source="source16.png")
    make("gray8-trns.png", *gray, "-transparent", "black", *ct(0, 8))
    make("gray2-trns.png", *gray, "-posterize", "4", "-transparent", "black", *ct(0, 2))
    make("graya8.png", *gray, *alpha, *ct(4, 8))
    make("graya16.png", *gray, *alpha, *ct(4, 16), source="source16.png")
    make("palette1.png", "-colors", "2", *ct(3, 1))
    make("palette2.png", "-colors", "4", *ct(3, 2))
    make("palette4.png", "-colors", "16", *ct(3, 4))
    make("palette8.png", "-colors", "200", *ct(3, 8))
    make("palette8-trns.png", "-colors", "100", "-transparent", "white", prefix="PNG8:")
    make("rgb8.png", *ct(2, 8))
    make("rgb16.png", *ct(2, 16), source="source16.png")
    make("rgb8-trns.png", "-transparent", "white", *ct(2, 8))
    make("rgb16-trns.png", "-depth", "16", "-transparent", "white", *ct(2, 16))
    make("rgba8.png", *alpha, *ct(6, 8))
    make("rgba16.png", *alpha, *ct(6, 16), source="source16.png")
    make("rgb8-300dpi.png", "-density", "300", "-units", "PixelsPerInch", *ct(2, 8), clean=KEEP_PHYS)
    # Interlaced (Adam7), including pictures too small to have pixels in every pass.
    il = ["-interlace", "PNG"]
    make("rgb8-interlaced.png", *il, *ct(2, 8))
    make("rgba16-interlaced.png", *alpha, *il, *ct(6, 16), source="source16.png")
    make("gray2-interlaced.png", *gray, "-posterize", "4", *il, *ct(0, 2))
    make("palette4-interlaced.png", "-colors", "16", *il, *ct(3, 4))
    make("palette8-trns-interlaced.png", "-colors", "100", "-transparent", "white", *il, prefix="PNG8:")
    run("source.png", "-crop", "1x1+3+3", "+repage", *il, *CLEAN, *ct(2, 8), "rgb8-interlaced-1x1.png")
    run("source.png", "-crop", "3x2+3+3", "+repage", *gray, "-posterize", "4", *il, *CLEAN, *ct(0, 2),
        "gray2-interlaced-3x2.png")

    for f in sorted(glob.glob("*.png")):
        d = open(f, "rb").read()
        w, h, depth, colour, _, _, inter = struct.unpack(">IIBBBBB", d[16:29])
        chunks = []
        p = 8
        while p + 8 <= len(d):
            n = struct.unpack(">I", d[p:p + 4])[0]
            chunks.append(d[p + 4:p + 8].decode("latin1"))
            p += 12 + n
        print(" ".join(dict.fromkeys(chunks)))
        print(f"{f}: {w}x{h} depth {depth} colour type {colour}{' interlaced' if inter else ''}"
              f"{' tRNS' if b'tRNS' in d else ''}{' pHYs' if b'pHYs' in d else ''}")
        # 16-bit samples stay 16-bit in the reference, so that narrowing them is checked
        # against exact rounding (ImageMagick's own 8-bit output truncates).
        run(f, "-depth", "16" if depth == 16 else "8", f[:-4] + ".pam")


if __name__ == "__main__":
    main()
