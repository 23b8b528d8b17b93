#!/bin/sh
# Re-renders every picture of resources/ from the SVG sources beside this script.
# The rendered files are committed; the build only reads them, so this is needed
# only after editing an SVG. Needs rsvg-convert (librsvg2-bin) and ImageMagick.
set -eu

src=$(cd "$(dirname "$0")" && pwd)
out=$(dirname "$src")
resources=$(dirname "$out")

# Button pictures of the main window and the dialogs: 16 x 16 with alpha.
for name in BitBtn1 BitBtn2 BitBtn3 BitBtn4 BitBtn5 \
            ButtonAddKategory ButtonRenameKategory ButtonDeleteKategory \
            ButtonAddType ButtonRenameType ButtonDeleteType \
            ButtonAddDolgnik ButtonRenameDolgnik ButtonDeleteDolgnik \
            lend cancel save load; do
    rsvg-convert -w 16 -h 16 "$src/$name.svg" -o "$out/$name.png"
done

# Program icon, one image per size, 32-bit RGBA.
for size in 16 24 32 48 64 72 128; do
    rsvg-convert -w "$size" -h "$size" "$src/korvalen.svg" -o "$out/korvalen-$size.png"
done

# The About box's own icon: the logo's disc alone, 32 x 32, a 4-bit palette (16 colours).
rsvg-convert -i disc -w 32 -h 32 "$src/logo.svg" |
    convert png:- -colors 16 -strip -define png:bit-depth=4 PNG8:"$out/about-icon.png"

# The About logo: baseline JFIF, three components, no chroma subsampling so the
# flat areas keep their exact colours.
rsvg-convert -w 71 -h 71 "$src/logo.svg" |
    convert png:- -background '#1f3c88' -alpha remove -alpha off -strip \
        -interlace none -type TrueColor -sampling-factor 1x1 -quality 90 \
        "$resources/logo.jpg"
