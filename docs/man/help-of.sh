#!/bin/sh
# Runs a program for help2man: its --help or --version without the vendor frame's start and end
# lines, which every run of loopmixer prints on standard output.
"$LOOPMIXER_PROGRAM" "$@" 2>&1 | grep -v '^DGE_Frame'
