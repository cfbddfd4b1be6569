#!/bin/sh
# Stands in for the desktop's browser behind Wine's own browser launcher:
# appends the address it was given ($2) to the log file ($1).
printf '%s\n' "$2" >> "$1"
