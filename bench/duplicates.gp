# SPDX-License-Identifier: MIT
# How duplicate removal grows, drawn from what list_bench --plot wrote:
#   gnuplot -c bench/duplicates.gp DATA > docs/duplicates.svg
set terminal svg size 760,500 enhanced font "sans,12" background "white"
set title "Duplicate removal on n distinct values (shuffled), median of 3"
set logscale xy
set xlabel "n (distinct values in the list)"
set ylabel "milliseconds"
set format x "10^{%L}"
set format y "10^{%L}"
set grid
set xrange [700:1500000]
set key bottom right
set datafile missing "-"
plot ARG1 using 1:2 with linespoints lw 2 pt 7 title "listcore delete\\_duplicate\\_nodes", \
     ''   using 1:3 with linespoints lw 2 pt 5 title "the quadratic walk", \
     ''   using 1:4 with linespoints lw 2 pt 9 title "GSList + GHashTable", \
     ''   using 1:5 with linespoints lw 2 pt 11 title "std::forward\\_list + std::unordered\\_set"
