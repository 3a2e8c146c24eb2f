#!/bin/sh
# Lints the manual page with every formatter installed that can: any
# warning fails.  Exits 77, which CTest reports as skipped, when neither
# groff nor mandoc is installed.
page=$1
linted=no
status=0

if command -v groff >/dev/null 2>&1; then
	linted=yes
	warnings=$(groff -ww -man -z "$page" 2>&1) || status=1
	if [ -n "$warnings" ]; then
		printf 'groff:\n%s\n' "$warnings"
		status=1
	fi
fi
if command -v mandoc >/dev/null 2>&1; then
	linted=yes
	# mandoc's exit status counts its style remarks as faults too.
	mandoc -Tlint "$page" || status=1
fi
if [ "$linted" = no ]; then
	echo "Skipped: neither groff nor mandoc is installed to lint $page"
	exit 77
fi
exit $status
