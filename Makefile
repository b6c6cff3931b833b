# Verticora: `make run` builds and starts the application, `make test` builds and runs
# every test. Both install missing Debian packages first.

BUILD_DIR    ?= build
SANITIZE_DIR ?= build-sanitize
TSAN_DIR     ?= build-tsan
PACKAGE_DIR  ?= build-package
FUZZ_DIR     ?= build-fuzz
FUZZ_SECONDS ?= 600
JOBS         ?= $(shell nproc)
TEST_DATA    := $(abspath $(BUILD_DIR))/test-data
WERROR       := $(if $(CI),ON,OFF)

CMAKE_FLAGS  := -DVERTICORA_WERROR=$(WERROR) -DVERTICORA_TEST_DATA_DIR=$(TEST_DATA)

MAKEFLAGS += --no-print-directory

.PHONY: all deps build run demo test package sanitize tsan bench fuzz fuzz-build clean

all: build

deps:
	@scripts/install-deps

$(TEST_DATA)/astronaut.png:
	@scripts/fetch-test-imagery $(TEST_DATA)

FOOTAGE := $(TEST_DATA)/desk-a.y4m $(TEST_DATA)/desk-b.y4m
$(FOOTAGE) &:
	@scripts/fetch-test-footage $(TEST_DATA)

build: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# The tray application with its controls window; ARGS=... passes options. A Verticora of
# an older build that runs for the same data folder hands its tracking over first.
ARGS ?=
run: build
	@scripts/run-new-build $(BUILD_DIR)/bin/verticora $(ARGS)

# A rendered clip of the test portrait stands in for a camera: no camera needed.
demo: build $(TEST_DATA)/astronaut.png
	@scripts/demo $(BUILD_DIR)

# Every test, then a short run of each fuzz target from its committed seed corpus.
test: build fuzz-build $(TEST_DATA)/astronaut.png $(FOOTAGE)
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)
	@scripts/fuzz $(FUZZ_DIR) 5 smoke

# The Debian package, from a build folder of its own: an optimised build for any x86-64
# machine, whose face scan picks its AVX2 loops at start where the processor has them.
# Only the program and its icons are built.
package: deps
	@cmake -S . -B $(PACKAGE_DIR) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release -DVERTICORA_NATIVE_DETECTOR=OFF \
	  -DVERTICORA_BENCHMARKS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
	  -DVERTICORA_INSTALLED_FACE_MODEL_FILE=/usr/share/verticora/face-models.bin \
	  -DVERTICORA_INSTALLED_FACE_FINDER_MODULE_FILE=/usr/lib/verticora/face-finder.so >/dev/null
	@cmake --build $(PACKAGE_DIR) -j $(JOBS) --target verticora verticora_icons
	@rm -f $(PACKAGE_DIR)/verticora_*.deb
	@cd $(PACKAGE_DIR) && cpack >/dev/null
	@ls $(PACKAGE_DIR)/verticora_*.deb

# AddressSanitizer and UndefinedBehaviorSanitizer, in their own build folder.
sanitize: deps $(TEST_DATA)/astronaut.png $(FOOTAGE)
	@cmake -S . -B $(SANITIZE_DIR) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug \
	  -DVERTICORA_SANITIZE=address,undefined -DVERTICORA_BENCHMARKS=OFF >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS)
	@cd $(SANITIZE_DIR) && ASAN_OPTIONS=detect_stack_use_after_return=1 ctest --output-on-failure -j $(JOBS)

# ThreadSanitizer over the camera model, its capture thread, the replay camera and the
# GStreamer camera pipelines.
TSAN_TESTS := tests/model/model_tests tests/model/camera_model_tests tests/platform/replay_camera_tests \
              tests/platform/gstreamer_camera_tests
tsan: deps $(TEST_DATA)/astronaut.png
	@cmake -S . -B $(TSAN_DIR) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug \
	  -DVERTICORA_SANITIZE=thread -DVERTICORA_BENCHMARKS=OFF >/dev/null
	@cmake --build $(TSAN_DIR) -j $(JOBS) --target $(notdir $(TSAN_TESTS))
	@for t in $(TSAN_TESTS); do echo "== $$t"; \
	  QT_NO_GLIB=1 TSAN_OPTIONS="halt_on_error=1 suppressions=$(abspath tests/tsan.supp)" $(TSAN_DIR)/$$t || exit 1; done

bench: build $(TEST_DATA)/astronaut.png
	@for b in $(BUILD_DIR)/bin/verticora-bench-*; do echo "== $$b"; $$b --benchmark_min_time=0.2; done

# The loaders' fuzz targets: libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer,
# built with clang in their own folder.
FUZZ_TARGETS := $(addprefix verticora-fuzz-,preferences daily-progress y4m live-score update-handoff diagnostic-request jpeg)
fuzz-build: deps
	@cmake -S . -B $(FUZZ_DIR) $(CMAKE_FLAGS) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVERTICORA_FUZZ=ON -DVERTICORA_SANITIZE=address,undefined,fuzzer-no-link -DVERTICORA_BENCHMARKS=OFF >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS) --target $(FUZZ_TARGETS)

# Each fuzz target for FUZZ_SECONDS; the inputs it finds are kept in $(FUZZ_DIR)/corpus/.
fuzz: fuzz-build
	@scripts/fuzz $(FUZZ_DIR) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(TSAN_DIR) $(FUZZ_DIR) $(PACKAGE_DIR)
