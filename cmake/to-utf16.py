"""Copies a UTF-8 text file as UTF-16 (little-endian, with a byte order mark) with CRLF lines.
Usage: to-utf16.py <in> <out>"""
import sys

with open(sys.argv[1], encoding="utf-8") as source:
    text = source.read()
with open(sys.argv[2], "w", encoding="utf-16-le", newline="\r\n") as target:
    target.write("\ufeff" + text)
