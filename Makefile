# Quick start: `make run` and `make test`. Everything installs what it needs first.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
SAMPLE = data/sample.qlx

.PHONY: deps build run test test-asan fuzz fuzz-long bench clean

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B build -G Ninja $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)

# Opens the bundled layered sample in the editor. Without a display the editor explains in
# one line how to run it under xvfb-run; that is not a build failure.
run: build
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY$$QT_QPA_PLATFORM" ]; then ./build/quillo $(SAMPLE) || true; \
	else ./build/quillo $(SAMPLE); fi

test: build
	cd build && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	@cmake -S . -B build-asan -G Ninja -DQUILLO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# Each target runs twice: with small limits (fast), then with the program's real ones, as
# users meet files; in both, a load that takes more memory than its input pays for fails.
# TIFF and layered files get room for several strips and layers.
FUZZ_SECONDS ?= 10
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DQUILLO_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@set -e; for f in build-fuzz/*_fuzz; do \
	  [ -f $$f ] || continue; \
	  name=$$(basename $$f); corpus=build-fuzz/corpus-$$name; mkdir -p $$corpus; \
	  case $$name in tiff_fuzz|native_fuzz) len=1048576;; *) len=262144;; esac; \
	  dict=tests/fuzz/$${name%_fuzz}.dict; [ -f $$dict ] && dict=-dict=$$dict || dict=; \
	  for real in "" 1; do \
	    echo "fuzzing $$name for $(FUZZ_SECONDS) s$${real:+ with the real limits}"; \
	    QUILLO_FUZZ_REAL_LIMITS=$$real $$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 -max_len=$$len $$dict \
	      $$corpus tests/data >/dev/null 2>build-fuzz/$$name.log || { tail -40 build-fuzz/$$name.log; exit 1; }; \
	  done; \
	done; echo "fuzz: all targets ran clean"

# Ten minutes for every target.
fuzz-long:
	@$(MAKE) fuzz FUZZ_SECONDS=300

bench: CMAKE_FLAGS += -DCMAKE_BUILD_TYPE=Release
bench:
	@scripts/install-deps --bench
	@cmake -S . -B build -G Ninja $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)
	bench/compare.sh build
	bench/codecs.sh build
	bench/processing.sh build
	xvfb-run -a -s "-screen 0 1920x1080x24" build/quillo-shell-bench

clean:
	rm -rf build build-asan build-fuzz
