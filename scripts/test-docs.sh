#!/usr/bin/env bash
# Builds the reference of the exports with Doxygen from the comments of
# exports/orqext.h and exports/orqext_results.h (docs/reference/Doxyfile).
# Any warning fails it: an undocumented export, record, field or argument,
# or a broken reference.
#   scripts/test-docs.sh [output directory]   (default build/release/docs/reference,
#   which `cmake --install build/release` installs with the docs component)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --docs

out=${1:-build/release/docs/reference}
echo "==== reference (${out}) ===="
rm -rf "${out}"
mkdir -p "${out}"
ORQ_DOCS_OUT="${out}" doxygen docs/reference/Doxyfile
echo "reference: ${out}/html/index.html"
