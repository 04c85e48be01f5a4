#!/usr/bin/env bash
# Draws one slice of a grid's netCDF file (tilvex-grid --netcdf, or
# tilvex-netcdf) with GMT 6, as two PNG figures:
#
#   PREFIX-shmax.png   SHmax as a bar centred on each point, coloured by
#                      the point's regime, with a legend (a World Stress
#                      Map of the grid);
#   PREFIX-aphi.png    A-phi shaded, with a colour bar whose thirds read
#                      normal, strike-slip, thrust; or PREFIX-phi.png, phi.
#
#   stress_map.sh GRID.nc PREFIX [aphi|phi [T Z]]
#
# T and Z choose the slice by position along the file's t and z dimensions
# (0 is the first), not by grid index value; the default is 0 0. x and y
# are the grid indices, drawn as they are (README.md says how to map them
# to longitude and latitude).
#
# Layout, fixed so that a pixel can be found from an index: the cells are
# square and the map's longer side is 12 cm; the map's lower left corner
# is 2 cm from the left and bottom edges of a page that is 8 cm wider than
# the map and 3.5 cm taller (at least 9.5 cm); 150 dots per inch, not
# cropped. The legend and the colour bar stand right of the map.
set -euo pipefail

if [ $# -ne 2 ] && [ $# -ne 3 ] && [ $# -ne 5 ]; then
  echo "usage: stress_map.sh GRID.nc PREFIX [aphi|phi [T Z]]" >&2
  exit 2
fi
nc=$1 prefix=$2 field=${3:-aphi} t=${4:-0} z=${5:-0}
case $field in aphi | phi) ;; *) echo "stress_map.sh: '$field' is neither aphi nor phi" >&2; exit 2 ;; esac
fail() {
  echo "stress_map.sh: $*" >&2
  exit 1
}
command -v gmt >/dev/null || fail "gmt is missing (Debian package gmt)"
[ -r "$nc" ] || fail "cannot read '$nc'"

# The regimes in the order of the variable regime's values 0 to 5, with
# the colours of the World Stress Map (Heidbach et al., 2018, Tectonophysics
# 744, 484-498, and the maps of the WSM database release 2016): normal
# faulting red, strike-slip green, thrust blue, unknown black; the oblique
# NS and TS take a colour between their neighbours' (chosen here): orange
# and light blue.
regimes=(NF NS SS TS TF U)
names=("normal faulting" "normal with strike-slip" "strike-slip"
       "thrust with strike-slip" "thrust faulting" "unknown")
colours=(255/0/0 255/165/0 0/176/0 0/200/255 0/0/255 0/0/0)
failed_colour=128/128/128  # a point whose run failed (status 1): a cross

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# GMT reads any layer index, even one past the end (as zeros): so T and Z
# are checked against the coordinates t and z, whose values are named in
# the titles.
t_values=$(gmt convert "$nc?t")
z_values=$(gmt convert "$nc?z")
nt=$(wc -l <<<"$t_values") nz=$(wc -l <<<"$z_values")
[[ $t =~ ^[0-9]+$ && $t -lt $nt ]] || fail "T is $t; '$nc' has t 0 to $((nt - 1))"
[[ $z =~ ^[0-9]+$ && $z -lt $nz ]] || fail "Z is $z; '$nc' has z 0 to $((nz - 1))"
slice="slice t = $(sed -n "$((t + 1))p" <<<"$t_values"), z = $(sed -n "$((z + 1))p" <<<"$z_values")"

# The slice's extent, from GMT's reading of the file: -R reaches half a
# cell beyond the outer points, so that each cell is whole. Sizes in cm:
# the map, the page, the colour bar; a bar 0.8 of a cell long, its pen, the
# dot and the cross. Every index is annotated up to 20 cells a side.
info=$(gmt grdinfo -C "$nc?shmax[$t,$z]")
read -r nx ny <<<"$(awk '{ print $10, $11 }' <<<"$info")"
[[ $nx -ge 2 && $ny -ge 2 ]] ||
  fail "the slice is $nx x $ny cells; GMT reads a grid of at least 2 x 2"
read -r region width height page_width page_height colour_bar bar pen dot cross ticks < <(
  awk '{
    nx = $10; ny = $11; cell = 12 / (nx > ny ? nx : ny)
    w = cell * nx; h = cell * ny; tall = h > 6 ? h : 6
    printf "%g/%g/%g/%g %g %g %g %g %g %g %g %g %g %s\n", $2 - 0.5, $3 + 0.5, $4 - 0.5, $5 + 0.5,
      w, h, w + 8, tall + 3.5, tall, 0.8 * cell, (cell < 3 ? 0.04 * cell : 0.12), 0.15 * cell,
      0.3 * cell, (nx > 20 || ny > 20 ? "af" : "a1f1") }' <<<"$info")
projection=-JX${width}c/${height}c
page() {
  gmt set PS_MEDIA "${page_width}cx${page_height}c" MAP_ORIGIN_X 2c MAP_ORIGIN_Y 2c \
    PROJ_LENGTH_UNIT cm FONT_TITLE 14p
}
frame=(-Bx"$ticks"+l"x (grid index)" -By"$ticks"+l"y (grid index)")

# One line a cell: x y shmax regime status (NaN where the file has none).
gmt grd2xyz "$nc?shmax[$t,$z]" >"$work/shmax.txt"
gmt grd2xyz "$nc?regime[$t,$z]" -o2 >"$work/regime.txt"
gmt grd2xyz "$nc?status[$t,$z]" -o2 >"$work/status.txt"
paste "$work/shmax.txt" "$work/regime.txt" "$work/status.txt" >"$work/cells.txt"
[ "$(awk 'NF == 5' "$work/cells.txt" | wc -l)" -eq $((nx * ny)) ] ||
  fail "GMT did not read $nx x $ny cells of shmax, regime and status from '$nc'"

# Plots FILE with the options that follow, if it holds a line.
plot_any() {
  if [ -s "$1" ]; then gmt plot "$@"; fi
}

# (a) SHmax bars: an axis, so a headless vector centred on the point
# (-SV: azimuth clockwise from north, turned by the projection).
gmt begin "$prefix-shmax" png E150
  page
  gmt basemap -R"$region" "$projection" "${frame[@]}" -BWSne+t"SHmax and regime, $slice"
  for k in "${!regimes[@]}"; do
    awk -v k="$k" -v len="$bar" '$4 == k && $3 != "NaN" { print $1, $2, $3, len }' \
      "$work/cells.txt" >"$work/bars.txt"
    plot_any "$work/bars.txt" -SV0c+jc -W"${pen}c,${colours[k]}"
    # A point with a regime but no SHmax (horizontal stress isotropic): a dot.
    awk -v k="$k" '$4 == k && $3 == "NaN" { print $1, $2 }' "$work/cells.txt" >"$work/dots.txt"
    plot_any "$work/dots.txt" -Sc"$dot"c -G"${colours[k]}"
  done
  awk '$5 == 1 { print $1, $2 }' "$work/cells.txt" >"$work/failed.txt"
  plot_any "$work/failed.txt" -Sx"$cross"c -W1.5p,"$failed_colour"
  {
    for k in "${!regimes[@]}"; do
      echo "S 0.4c - 0.7c - 3p,${colours[k]} 0.9c ${regimes[k]}  ${names[k]}"
    done
    echo "S 0.4c x 0.3c - 1.5p,$failed_colour 0.9c failed"
  } >"$work/legend.txt"
  gmt legend "$work/legend.txt" -DJTR+jTL+o0.4c/0+w5.4c -F+p0.5p
gmt end

# (b) A-phi or phi, each cell shaded; a cell without a value (no point, a
# failed point, a value the table gives as nan) stays white.
if [ "$field" = aphi ]; then
  # Simpson's A-phi: 0-1 normal, 1-2 strike-slip, 2-3 thrust; each third in
  # its regime's colour, paler towards the oblique ends (1 and 2).
  cat >"$work/field.cpt" <<'EOF'
0   255/0/0     1   255/210/210
1   210/240/210 1.5 0/176/0
1.5 0/176/0     2   210/240/210
2   210/210/255 3   0/0/255
EOF
  printf '%s\n' "0 a" "0.5 a normal" "1 a" "1.5 a strike-slip" "2 a" "2.5 a thrust" "3 a" >"$work/ticks.txt"
  scale=(-Bxc"$work/ticks.txt" -By+l"A@~f@~")
  title="A@~f@~ (Simpson 1997)"
else
  gmt makecpt -Cviridis -T0/1 -N >"$work/field.cpt"  # -N: NaN as COLOR_NAN below
  scale=(-Bxa0.2f0.1 -By+l"@~f@~")
  title="@~f@~ = (@~s@~@-2@- - @~s@~@-3@-) / (@~s@~@-1@- - @~s@~@-3@-)"
fi
gmt begin "$prefix-$field" png E150
  page
  gmt set COLOR_NAN white
  gmt grdimage "$nc?${field}[$t,$z]" -R"$region" "$projection" -C"$work/field.cpt" "${frame[@]}" \
    -BWSne+t"$title, $slice"
  gmt colorbar -C"$work/field.cpt" -DJBR+jBL+o0.8c/0+w"${colour_bar}c/0.5c" "${scale[@]}"
gmt end
