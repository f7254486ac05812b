#!/usr/bin/env bash
# Mutation leg: every mutant of scripts/mutants.txt must be killed by the tests (about five
# minutes on two cores).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/mutate
