#!/usr/bin/env bash
# make-seeds.sh DIR: writes seed inputs for the image reader fuzz targets into DIR/<target>/,
# made by the peers' tools in every variant they write (ImageMagick, netpbm, libtiff's and
# libjpeg's tools), from two small pictures: a colour one and a two-colour one. The seeds are
# generated, not stored: campaigns start from them and from fuzz/corpus/.
set -uo pipefail
out=$1
mkdir -p "$out"/{bmp,ico,png,gif,tiff,jpeg,pcx,tga,pxm,avi}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"

# A 23 x 11 colour picture with a gradient and hard edges, its 16- and 2-colour reductions,
# a grey version, and one with transparency.
convert -size 23x11 gradient:red-blue \( -size 23x11 xc:none -fill lime -draw 'rectangle 4,2 12,8' \) \
  -composite -depth 8 src.ppm
convert src.ppm -colors 16 -depth 8 src16.ppm
convert src.ppm -colors 2 -depth 8 src2.ppm
convert -size 23x11 xc:navy -fill gold -draw 'circle 11,5 11,1' -depth 8 two.ppm
convert src.ppm -colorspace Gray -depth 8 grey.pgm
convert src.ppm -alpha set -channel A -fx 'i/w' +channel src.png
pnmtoplainpnm src.ppm > plain.ppm 2>/dev/null || pnmtopnm -plain src.ppm > plain.ppm

n=0
seed() {  # seed TARGET COMMAND...: runs the command, which writes f.<anything>, into the target
  local target=$1
  shift
  rm -f f.*
  if "$@" >/dev/null 2>&1; then
    for f in f.*; do
      [ -s "$f" ] && cp "$f" "$out/$target/seed-$n.${f#f.}" && n=$((n + 1))
    done
  fi
}
im() { seed "$1" convert "${@:2}"; }                       # im TARGET ARGS... (ImageMagick)
np() { local t=$1 ext=$2; shift 2; seed "$t" sh -c "$* > f.$ext"; }  # np TARGET EXT PIPELINE

for s in src.ppm src16.ppm src2.ppm two.ppm grey.pgm; do
  # BMP: every header version, depth and compression the tools write.
  for v in bmp2 bmp3 bmp; do im bmp "$s" "$v:f.bmp"; done
  im bmp "$s" -type palette -compress RLE bmp3:f.bmp
  im bmp "$s" -type palette -depth 4 -colors 16 -compress RLE bmp3:f.bmp
  im bmp "$s" -define bmp:format=bmp4 -type TrueColorAlpha f.bmp
  for b in 1 4 8 24; do np bmp bmp "ppmtobmp -bpp $b $s"; done
  im ico "$s" -define icon:auto-resize=16 f.ico
  im ico "$s" -colors 16 -define icon:auto-resize=16 f.ico
  # PNG: every colour type and depth, interlaced or not.
  for v in png8 png24 png32 png48 png64; do im png "$s" "$v:f.png"; done
  for d in 1 2 4 8 16; do im png "$s" -colorspace Gray -depth "$d" f.png; done
  im png "$s" -interlace PNG f.png
  np png png "pnmtopng -interlace $s"
  np png png "pnmtopng -text /dev/null $s"
  # GIF: colour counts, interlacing, an animation.
  for c in 2 16 256; do im gif "$s" -colors "$c" f.gif; done
  im gif "$s" -interlace GIF f.gif
  im gif "$s" \( "$s" -negate \) -delay 5 -loop 0 f.gif
  np gif gif "ppmquant 256 $s | ppmtogif"
  # TIFF: compressions, predictors, tiles, planes, BigTIFF.
  np tiff tif "pnmtotiff $s"
  for c in none lzw lzw:2 zip zip:2 packbits jpeg; do
    im tiff "$s" -compress "${c%%:*}" ${c#*:} f.tif 2>/dev/null
    seed tiff sh -c "pnmtotiff $s > t.tif && tiffcp -c $c t.tif f.tif"
    seed tiff sh -c "pnmtotiff $s > t.tif && tiffcp -c $c -t -w 16 -l 16 t.tif f.tif"
    seed tiff sh -c "pnmtotiff $s > t.tif && tiffcp -c $c -p separate t.tif f.tif"
    seed tiff sh -c "pnmtotiff $s > t.tif && tiffcp -8 -c $c t.tif f.tif"
  done
  for c in g3 g3:2d g4; do
    seed tiff sh -c "convert $s -monochrome t.tif && tiffcp -c $c t.tif f.tif"
  done
  im tiff "$s" -type palette f.tif
  # JPEG: qualities, progressive, grey, subsampling, restarts, arithmetic coding, CMYK.
  for q in 10 75 100; do np jpeg jpg "cjpeg -quality $q $s"; done
  np jpeg jpg "cjpeg -progressive $s"
  np jpeg jpg "cjpeg -grayscale $s"
  np jpeg jpg "cjpeg -sample 1x1 -restart 1 $s"
  np jpeg jpg "cjpeg -arithmetic $s"
  np jpeg jpg "cjpeg -optimize -dct float $s"
  im jpeg "$s" -colorspace CMYK f.jpg
  # PCX, TGA and the portable maps.
  im pcx "$s" f.pcx
  im pcx "$s" -type palette f.pcx
  np pcx pcx "ppmtopcx $s"
  np pcx pcx "ppmtopcx -8bit $s"
  np pcx pcx "ppmtopcx -24bit $s"
  im tga "$s" f.tga
  im tga "$s" -compress RLE f.tga
  for o in -mono -cmap -rgb -norle; do np tga tga "ppmtotga $o $s"; done
  for v in pbm pgm ppm pam; do im pxm "$s" "f.$v"; done
  np pxm pnm "pnmtoplainpnm $s"
  np pxm pnm "pnmdepth 65535 $s"
done
# AVI: two-frame videos in the compressors FFmpeg's command line writes (those missing from
# its build are skipped).
for c in "rawvideo -pix_fmt bgr24" "rawvideo -pix_fmt pal8" "rawvideo -pix_fmt rgb555le" mjpeg \
         mpeg4 msmpeg4v2 "libx264 -pix_fmt yuv420p" ffv1 huffyuv; do
  seed avi ffmpeg -v error -y -f lavfi -i testsrc=size=23x11:rate=10 -frames:v 2 -c:v $c f.avi
done
echo "$n seeds in $out"
