#!/bin/sh
# Stands in for a web browser and mailer in the suite's Wine prefixes: it only records the address.
echo "$@" >> "${WINEPREFIX:-/tmp}/drive_c/browser.log"
