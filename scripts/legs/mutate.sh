#!/usr/bin/env bash
# Mutation leg: every mutant of scripts/mutants.txt must be killed by the tests, and of a
# generic sample (seed 1, 40 mutants of the product code) at least 85% of the non-equivalent
# ones (about ten minutes on two cores, the time printed).
set -euo pipefail
cd "$(dirname "$0")/../.."
started=$SECONDS
status=0
scripts/mutate || status=1
scripts/mutate --generic --sample 40 --seed 1 --min 85 || status=1
echo "mutate leg: $((SECONDS - started)) s"
exit $status
