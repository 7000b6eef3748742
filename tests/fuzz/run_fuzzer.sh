#!/usr/bin/env bash
# Builds the project-file fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it on the corpus kept in the repo.
#   tests/fuzz/run_fuzzer.sh [SECONDS]   run (default 600 s), then merge what
#                                        was found back into the corpus, minimised
# Needs clang-14 and libclang-rt-14-dev (Debian packages); the test command
# does not: it replays the corpus through the gtest suite.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-600}
out=build/fuzz
mkdir -p "$out/work"

clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I. \
  tests/fuzz/project_fuzzer.cpp tests/project_invariants.cpp \
  jobs/project_file.cpp jobs/job_list.cpp jobs/utf8.cpp jobs/legacy_code_page_posix.cpp \
  jobs/whole_file.cpp jobs/whole_file_posix.cpp \
  -o "$out/project_fuzzer"

# New inputs go to a scratch folder; the repo's corpus is only read here.
cp -n tests/fuzz/corpus/* "$out/work/" 2>/dev/null || true
nice -n 10 "$out/project_fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -rss_limit_mb=1024 -dict=tests/fuzz/project.dict -print_final_stats=1 \
  -artifact_prefix="$out/" "$out/work" 2>&1 | tee "$out/run.log"

# Keep only inputs that add coverage: a small corpus for the replay test.
mkdir -p "$out/merged"
rm -f "$out/merged"/*
"$out/project_fuzzer" -merge=1 -max_len=4096 "$out/merged" tests/fuzz/corpus "$out/work" \
  2>&1 | tail -3
rm -f tests/fuzz/corpus/*
cp "$out/merged"/* tests/fuzz/corpus/
echo "corpus: $(ls tests/fuzz/corpus | wc -l) files, $(du -sh tests/fuzz/corpus | cut -f1)"
