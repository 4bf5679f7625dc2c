# The project's commands. Each installs what it needs first (scripts/bootstrap.sh), so a
# fresh Debian 12 machine needs nothing else.
.PHONY: all bootstrap test demo bench dist fuzz mutate soak reliability format format-check

all: test

# Debian packages and the cross-built MinGW dependencies (cached outside the repository).
bootstrap:
	scripts/bootstrap.sh

# Both builds and every test: native (ASan+UBSan) and MinGW under Wine. What CI runs.
test:
	scripts/test.sh

# The demo on the simulated hybrid machine.
demo:
	@if [ -f scripts/demo.sh ]; then bash scripts/demo.sh; else echo "make demo: scripts/demo.sh is not there yet" >&2; exit 1; fi

# Benchmarks (native release build), reported as ratios against in-run baselines.
bench:
	scripts/bench.sh

# The installation tree for a Windows 7 x64 machine, in out/dist (docs/install.md).
dist:
	scripts/dist.sh

# Every fuzz target for FUZZ_SECONDS (default 600) each, or FUZZ_RUNS executions each
# (FUZZ_JOBS side by side, at nice level FUZZ_NICE); build/native-fuzz keeps what they learn
# and any crashing input.
fuzz:
	scripts/fuzz.sh

# Fault seeding: small faults planted one at a time, the tests of each file run against it;
# the score and the survivors go into docs/reliability.md. MUTATE_ARGS passes options
# (--count N, --seed S, --kinds k1,k2, --files REGEX).
mutate:
	scripts/bootstrap.sh
	python3 scripts/mutate.py $(MUTATE_ARGS)

# The long soak: 100,000 interposed frames with device and mode cycles; the heap and the
# kernel's live objects must not grow (VESSA_SOAK_FRAMES sets the length).
soak:
	scripts/soak.sh

# The fault campaign: on each transfer path, each site failed at its first, second and middle call;
# the table of outcomes goes into docs/reliability.md.
reliability:
	scripts/reliability.sh

# clang-format over every C/C++ file of the project (tracked or new, build trees excluded).
FORMAT_FILES = git ls-files -z --cached --others --exclude-standard -- '*.c' '*.cc' '*.cpp' '*.cxx' '*.h' '*.hh' '*.hpp' '*.hxx' '*.inl' '*.inc' | xargs -0 -r

format:
	@command -v clang-format >/dev/null || scripts/bootstrap.sh
	$(FORMAT_FILES) clang-format -i

format-check:
	@command -v clang-format >/dev/null || scripts/bootstrap.sh
	$(FORMAT_FILES) clang-format --dry-run --Werror
