#!/usr/bin/env bash
# peers-codecs.sh [BUILD_DIR]: times reading and writing a 24-megapixel photograph-like image in
# each format against ImageMagick and netpbm, whole processes on the same files in one run.
# Reading X means converting X to PPM, writing X means converting PPM to X, for every tool, so
# the shared PPM side costs each the same. Prints milliseconds (best of RUNS, default 3) and
# peer/ours ratios (above 1: we are faster).
#   RUNS=N   repetitions     SIZE=WxH   image size (default 6000x4000)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh bench test >/dev/null

build=${1:-build/bench}
source bench/peers-common.sh
bench_build quillo_tool quant_tool
quillo=$build/apps/quillo/quillo
runs=${RUNS:-3}
size=${SIZE:-6000x4000}


w=${size%x*} h=${size#*x}
src=$tmp/src.ppm
"$build/bench/quant_tool" gen "$w" "$h" "$src"
# The files every tool reads, written once by ImageMagick.
convert "$src" BMP3:"$tmp/in24.bmp"
convert "$src" -colors 256 -compress RLE BMP3:"$tmp/inrle8.bmp"

row() {  # operation, ours, then peer name/ms pairs
  local op=$1 ours=$2
  shift 2
  printf '%-18s %8s ms' "$op" "$ours"
  while [ $# -gt 0 ]; do
    printf '   %s %6s ms (%sx)' "$1" "$2" "$(ratio "$2" "$ours")"
    shift 2
  done
  printf '\n'
}

echo "image $size; ImageMagick $(convert -version | head -1 | cut -d' ' -f3), threads $(convert -list resource | awk '/Thread/ {print $2}'); ours single-threaded"
row "read BMP 24-bit" "$(best_ms "$quillo" convert "$tmp/in24.bmp" "$tmp/o.ppm")" \
  imagemagick "$(best_ms convert "$tmp/in24.bmp" "$tmp/o.ppm")" \
  netpbm "$(sh_ms "bmptopnm $tmp/in24.bmp > $tmp/o.ppm")"
row "write BMP 24-bit" "$(best_ms "$quillo" convert "$src" "$tmp/o.bmp")" \
  imagemagick "$(best_ms convert "$src" BMP3:"$tmp/o.bmp")" \
  netpbm "$(sh_ms "ppmtobmp $src > $tmp/o.bmp")"
row "read BMP RLE8" "$(best_ms "$quillo" convert "$tmp/inrle8.bmp" "$tmp/o.ppm")" \
  imagemagick "$(best_ms convert "$tmp/inrle8.bmp" "$tmp/o.ppm")" \
  netpbm "$(sh_ms "bmptopnm $tmp/inrle8.bmp > $tmp/o.ppm")"
row "write BMP RLE8" "$(best_ms "$quillo" convert "$src" "$tmp/o.bmp" --set BitsPerSample=8 --set SamplesPerPixel=1 --set BmpCompression=rle)" \
  imagemagick "$(best_ms convert "$src" -colors 256 -compress RLE BMP3:"$tmp/o.bmp")"
convert "$src" PCX:"$tmp/in.pcx"
convert "$src" -orient TopLeft -compress RLE TGA:"$tmp/inrle.tga"
convert "$src" -orient TopLeft -compress None TGA:"$tmp/inraw.tga"
row "read PCX 24-bit" "$(best_ms "$quillo" convert "$tmp/in.pcx" "$tmp/o.ppm")" \
  imagemagick "$(best_ms convert "$tmp/in.pcx" "$tmp/o.ppm")" \
  netpbm "$(sh_ms "pcxtoppm $tmp/in.pcx > $tmp/o.ppm")"
row "write PCX 24-bit" "$(best_ms "$quillo" convert "$src" "$tmp/o.pcx")" \
  imagemagick "$(best_ms convert "$src" PCX:"$tmp/o.pcx")" \
  netpbm "$(sh_ms "ppmtopcx -24bit $src > $tmp/o.pcx")"
row "write PCX raw" "$(best_ms "$quillo" convert "$src" "$tmp/o.pcx" --set PcxCompression=uncompressed)" \
  imagemagick "$(best_ms convert "$src" -compress None PCX:"$tmp/o.pcx")"
row "read TGA RLE" "$(best_ms "$quillo" convert "$tmp/inrle.tga" "$tmp/o.ppm")" \
  imagemagick "$(best_ms convert TGA:"$tmp/inrle.tga" "$tmp/o.ppm")" \
  netpbm "$(sh_ms "tgatoppm $tmp/inrle.tga > $tmp/o.ppm")"
row "read TGA raw" "$(best_ms "$quillo" convert "$tmp/inraw.tga" "$tmp/o.ppm")" \
  imagemagick "$(best_ms convert TGA:"$tmp/inraw.tga" "$tmp/o.ppm")" \
  netpbm "$(sh_ms "tgatoppm $tmp/inraw.tga > $tmp/o.ppm")"
row "write TGA RLE" "$(best_ms "$quillo" convert "$src" "$tmp/o.tga")" \
  imagemagick "$(best_ms convert "$src" -compress RLE TGA:"$tmp/o.tga")" \
  netpbm "$(sh_ms "ppmtotga -rgb $src > $tmp/o.tga")"
row "write TGA raw" "$(best_ms "$quillo" convert "$src" "$tmp/o.tga" --set TgaCompressed=false)" \
  imagemagick "$(best_ms convert "$src" -compress None TGA:"$tmp/o.tga")" \
  netpbm "$(sh_ms "ppmtotga -rgb -norle $src > $tmp/o.tga")"
# PNG: the same 12-megapixel photo as RGB and as a 256-colour palette.
gw=4000 gh=3000
"$build/bench/quant_tool" gen "$gw" "$gh" "$tmp/p.ppm"
convert "$tmp/p.ppm" PNG24:"$tmp/in.png"
convert "$tmp/p.ppm" -colors 256 PNG8:"$tmp/in8.png"
row "read PNG RGB" "$(best_ms "$quillo" convert "$tmp/in.png" "$tmp/o.ppm")" \
  imagemagick "$(best_ms convert "$tmp/in.png" "$tmp/o.ppm")" \
  netpbm "$(sh_ms "pngtopnm $tmp/in.png > $tmp/o.ppm")"
row "write PNG RGB" "$(best_ms "$quillo" convert "$tmp/p.ppm" "$tmp/o.png")" \
  imagemagick "$(best_ms convert "$tmp/p.ppm" -quality 55 PNG24:"$tmp/o.png")" \
  netpbm "$(sh_ms "pnmtopng -compression=5 $tmp/p.ppm > $tmp/o.png")"
row "read PNG palette" "$(best_ms "$quillo" convert "$tmp/in8.png" "$tmp/o.ppm")" \
  imagemagick "$(best_ms convert "$tmp/in8.png" "$tmp/o.ppm")" \
  netpbm "$(sh_ms "pngtopnm $tmp/in8.png > $tmp/o.ppm")"
row "write PNG palette" "$(best_ms "$quillo" convert "$tmp/p.ppm" "$tmp/o.png" --set SamplesPerPixel=1 --set BitsPerSample=8)" \
  imagemagick "$(best_ms convert "$tmp/p.ppm" -colors 256 PNG8:"$tmp/o.png")" \
  netpbm "$(sh_ms "pnmquant 256 $tmp/p.ppm | pnmtopng > $tmp/o.png")"
# GIF: a 12-megapixel 256-colour image and a 200-frame animation.
gw=4000 gh=3000
"$build/bench/quant_tool" gen "$gw" "$gh" "$tmp/g.ppm"
convert "$tmp/g.ppm" -colors 256 "$tmp/in.gif"
for i in $(seq 1 4); do convert -size 320x240 "plasma:fractal" -seed "$i" "$tmp/a$i.ppm" 2>/dev/null; done
frames=()
for i in $(seq 1 200); do frames+=("$tmp/a$(( (i % 4) + 1 )).ppm"); done
row "read GIF 12MP" "$(best_ms "$quillo" convert "$tmp/in.gif" "$tmp/o.ppm")" \
  imagemagick "$(best_ms convert "$tmp/in.gif" "$tmp/o.ppm")" \
  giflib "$(best_ms gif2rgb -o "$tmp/o.rgb" "$tmp/in.gif")" \
  netpbm "$(sh_ms "giftopnm $tmp/in.gif > $tmp/o.ppm")"
row "write GIF 12MP" "$(best_ms "$quillo" convert "$tmp/g.ppm" "$tmp/o.gif")" \
  imagemagick "$(best_ms convert "$tmp/g.ppm" -colors 256 "$tmp/o.gif")"
row "build GIF 200 fr" "$(best_ms "$quillo" join "$tmp/anim.gif" "${frames[@]}" --delay 4)" \
  imagemagick "$(best_ms convert -delay 4 "${frames[@]}" "$tmp/im-anim.gif")"
row "split GIF 200 fr" "$(best_ms "$quillo" frames "$tmp/im-anim.gif" "$tmp/f-%03d.ppm")" \
  imagemagick "$(best_ms convert "$tmp/im-anim.gif" +repage "$tmp/g-%03d.ppm")" \
  netpbm "$(sh_ms "for i in \$(seq 1 200); do giftopnm --image=\$i $tmp/im-anim.gif > $tmp/h.ppm; done")"
row "PPM to PPM" "$(best_ms "$quillo" convert "$src" "$tmp/o.ppm")" \
  imagemagick "$(best_ms convert "$src" "$tmp/o.ppm")" \
  netpbm "$(sh_ms "pnmtopnm $src > $tmp/o.ppm")"
echo "ratio = peer time / our time (above 1: we are faster). In-memory figures: $build/bench/codec_bench"
