# Memory limits of every fuzz run (smoke runs, campaigns, replays of saved inputs), sourced by
# the scripts. A single allocation above the malloc limit fails the input at once, so a reader
# that sizes a buffer from a declared length it has not checked against the data is caught even
# when the machine could afford the allocation. The fuzz targets lower the pixel limit to 4
# megapixels (12 MiB a 24-bit bitmap), so honest inputs stay far below both.
FUZZ_LIMITS=(-malloc_limit_mb=128 -rss_limit_mb=768)
# Leaks that are the platform libraries' own and live for the process (fontconfig's
# configuration) are not the input's: the same suppressions as the tests, unless the caller set
# its own.
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/lsan.supp:print_suppressions=0}"
