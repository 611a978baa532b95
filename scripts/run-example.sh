#!/bin/sh
# Runs the program on an example folder, in a fresh copy of it, and lists
# what the run wrote. Usage: run-example.sh PROGRAM EXAMPLE_DIR RUN_DIR
set -e
program=$1 example=$2 run=$3
rm -rf "$run"
cp -r "$example" "$run"
cd "$run"
"$program" < answers
echo
echo "Files written in $run:"
ls -l dom* d"$(sed -n 2p par.txt | cut -c1-20 | sed 's/ *$//')"
