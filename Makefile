# Two commands a user needs: `make run` and `make test`.
BUILD        ?= build
SANITIZE_DIR ?= build-sanitize
CMAKE_FLAGS  ?=
JOBS         ?= $(shell nproc)

DEB_PACKAGES := cmake ninja-build g++ pkg-config libpng-dev zlib1g-dev libeigen3-dev \
                libgtest-dev libgmock-dev libbenchmark-dev binutils qt6-base-dev \
                libvips-dev libisal-dev libgimp2.0-dev gimp libhdf5-dev
BENCH_DEB_PACKAGES := python3 python3-numpy python3-opencv imagemagick python3-skimage
# What builds and checks the Debian package (make package, make package-check).
PACKAGE_DEB_PACKAGES := help2man gzip file dpkg-dev lintian desktop-file-utils appstream \
                        man-db bash-completion
# Debian's interpreter, which has Debian's python3-opencv.
BENCH_PYTHON ?= /usr/bin/python3

.PHONY: all deps bench-deps package-deps build run test test-sanitize test-thread test-scalar bench clean \
        gimp-install-user package package-check

all: build

# $(call install_missing,PACKAGES): installs the missing ones as root, or
# names the command to run.
define install_missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "Missing packages. Run:"; echo "  sudo apt-get install$$missing"; exit 1; \
	  fi; \
	fi
endef

deps:
	$(call install_missing,$(DEB_PACKAGES))

# Only the benchmarks compare against another program.
bench-deps:
	$(call install_missing,$(BENCH_DEB_PACKAGES))

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# Without a display the editor cannot open: the built-in session shows what
# the filter does instead.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then ./$(BUILD)/bin/kelvane --overwrite; \
	else echo "No display: replaying the built-in demo session."; \
	  ./$(BUILD)/bin/kelvane --overwrite --demo $(BUILD)/sample.kelvane.png; fi

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

package-deps:
	$(call install_missing,$(PACKAGE_DEB_PACKAGES))

# The Debian package, $(BUILD)/kelvane_<version>_amd64.deb: the build folder
# is configured for /usr, where the hosts then look for the installed module.
package: deps package-deps
	cmake -S . -B $(BUILD) -G Ninja -DKELVANE_PACKAGE=ON -DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target kelvane kelvane_module kelvane-gimp kelvane_desktop_files
	rm -f $(BUILD)/kelvane_*.deb
	cd $(BUILD) && cpack -G DEB

# Installs the package, tries it and removes it again: root only.
package-check: package
	packaging/check-package.sh $(BUILD)/kelvane_*_amd64.deb

# The GIMP plug-in for this user only: into GIMP's own plug-in folder, with
# the filter module (its help page and presets) in a folder beside it.
GIMP_USER_DIR ?= $(or $(GIMP2_DIRECTORY),$(or $(XDG_CONFIG_HOME),$(HOME)/.config)/GIMP/2.10)
gimp-install-user: build
	mkdir -p "$(GIMP_USER_DIR)/plug-ins/kelvane-gimp/plugins"
	install -m 755 $(BUILD)/gimp/kelvane-gimp/kelvane-gimp "$(GIMP_USER_DIR)/plug-ins/kelvane-gimp/"
	cp -R $(BUILD)/plugins/. "$(GIMP_USER_DIR)/plug-ins/kelvane-gimp/plugins/"
	@echo "Installed; GIMP shows it as Filters > Orvanta > Kelvane... on RGB images."

test-sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVANE_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer/lsan.supp UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# In-process benchmarks, then whole runs of the program against GrabCut.
# The editor's threads under ThreadSanitizer: the tests that mark and run at
# the same time, images read on two threads through shared storage, and pages
# recycled on two threads.
TSAN_DIR ?= build-tsan
test-thread: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_TSAN=ON -DKELVANE_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN_DIR) -j $(JOBS) --target test_editormodel test_framework test_imagecore test_platform
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ./$(TSAN_DIR)/bin/test_editormodel --gtest_filter='Concurrent*:*Run*'
	TSAN_OPTIONS="halt_on_error=1" ./$(TSAN_DIR)/bin/test_framework
	TSAN_OPTIONS="halt_on_error=1" ./$(TSAN_DIR)/bin/test_imagecore --gtest_filter='*Threads*:RowBands*'
	TSAN_OPTIONS="halt_on_error=1" ./$(TSAN_DIR)/bin/test_platform --gtest_filter='RecycledPages*'

# The engine built with its plain loops in place of the vector ones, and its
# tests, so that the path other processors take is never left untested.
SCALAR_DIR ?= build-scalar
test-scalar: deps
	cmake -S . -B $(SCALAR_DIR) -G Ninja -DKELVANE_SCALAR_ONLY=ON -DKELVANE_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(SCALAR_DIR) -j $(JOBS) --target test_engine
	./$(SCALAR_DIR)/bin/test_engine

bench: build bench-deps
	@for b in $(BUILD)/bin/bench_*; do echo "== $$b"; $$b || exit 1; done
	@echo "== bench/compare_grabcut.py"
	$(BENCH_PYTHON) bench/compare_grabcut.py --bin $(BUILD)/bin
	@echo "== bench/batch_throughput.py"
	$(BENCH_PYTHON) bench/batch_throughput.py --bin $(BUILD)/bin
	@echo "== bench/edge_quality.py"
	$(BENCH_PYTHON) bench/edge_quality.py --bin $(BUILD)/bin
	@echo "== bench/strokes_needed.py"
	$(BENCH_PYTHON) bench/strokes_needed.py --bin $(BUILD)/bin --jobs 2

# libFuzzer targets of fuzz/, built with clang in a folder of their own, their
# seeds checked, then each run for FUZZ_SECONDS on a copy of its corpus.
FUZZ_DIR         ?= build-fuzz
FUZZ_SECONDS     ?= 60
FUZZ_TARGETS     ?=
FUZZ_DEB_PACKAGES := clang libclang-rt-14-dev
# Pointer overflow stays recoverable so that fuzz/known-issues.supp can hold
# a reported finding back while the runs look for others.
FUZZ_SANITIZERS  := -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined \
                    -fsanitize-recover=pointer-overflow -fno-omit-frame-pointer
.PHONY: fuzz fuzz-deps
fuzz-deps:
	$(call install_missing,$(FUZZ_DEB_PACKAGES))

fuzz: deps fuzz-deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_C_FLAGS="$(FUZZ_SANITIZERS)" -DCMAKE_CXX_FLAGS="$(FUZZ_SANITIZERS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
	  -DKELVANE_FUZZ=ON -DKELVANE_BENCH=OFF $(CMAKE_FLAGS)
	ASAN_OPTIONS=detect_leaks=0 cmake --build $(FUZZ_DIR) -j $(JOBS) --target kelvane_fuzzers
	cd $(FUZZ_DIR) && ctest --output-on-failure -j $(JOBS) -L fuzz-seeds
	fuzz/run-fuzzers.sh $(FUZZ_DIR) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

clean:
	rm -rf $(BUILD) $(SANITIZE_DIR) $(TSAN_DIR) $(SCALAR_DIR)
