# The two commands a new user needs: `make demo` and `make test`.
# Both install what is missing (Debian packages, through scripts/install-deps.sh) first.

BUILD_DIR ?= build
TEST_BUILD_DIR ?= build-test
JOBS ?= $(shell nproc)

.PHONY: all deps build test demo run bench screenshots package install clean format

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_TESTS=OFF
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Tests build in their own folder with AddressSanitizer and UndefinedBehaviorSanitizer.
test: deps
	cmake -S . -B $(TEST_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKELVANE_SANITIZE=ON
	cmake --build $(TEST_BUILD_DIR) -j $(JOBS)
	cd $(TEST_BUILD_DIR) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 300

demo: build
	@bash scripts/demo.sh $(BUILD_DIR)

# make run ARGS=site.kvp opens the desktop program on a profile or batch file.
ARGS ?=
run: build
	@bash scripts/run.sh $(BUILD_DIR) $(ARGS)

PACKAGE_BUILD_DIR ?= $(BUILD_DIR)-package

# A Debian package for /usr, $(PACKAGE_BUILD_DIR)/kelvane_VERSION_ARCH.deb (CPack; its
# dependencies come from dpkg-shlibdeps). Install it with: sudo apt install ./kelvane_*.deb
package: deps
	cmake -S . -B $(PACKAGE_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_TESTS=OFF \
		-DCMAKE_INSTALL_PREFIX=/usr
	cmake --build $(PACKAGE_BUILD_DIR) -j $(JOBS)
	cd $(PACKAGE_BUILD_DIR) && cpack -G DEB

# Installs the build into PREFIX (default /usr/local; DESTDIR=... stages it instead): the
# programs, the user guide, the manual pages, the desktop entry, the file types and the icons.
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

SHOTS_BUILD_DIR ?= build-screenshots

# Renders every window and dialog in its telling states to $(SHOTS_BUILD_DIR)/png/*.png, on the
# offscreen platform. SCALE=2 renders them at 200 %.
SCALE ?= 1
screenshots: deps
	cmake -S . -B $(SHOTS_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(SHOTS_BUILD_DIR) -j $(JOBS) --target screenshots
	QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=$(SCALE) \
		$(SHOTS_BUILD_DIR)/tests/screenshots $(SHOTS_BUILD_DIR)/png$(if $(filter-out 1,$(SCALE)),-x$(SCALE))

BENCH_BUILD_DIR ?= build-bench

# Extra options of the synchronisation benchmark, e.g. BENCH_ARGS="--files 10000" or "--quick".
BENCH_ARGS ?=

# Optimised build with the test support library, which starts the loopback servers. Then whole
# synchronisation runs of kelvane-cli, lftp and rclone on loopback pyftpdlib and vsftpd, the
# FTPS pass (kelvane-cli and lftp over explicit TLS on one connection each, with their
# plain-FTP first uploads beside them) and the far-server pass (every server behind a proxy
# that delays each way, one and four connections); the tables go to bench/RESULTS.md.
bench:
	@bash scripts/install-deps.sh --bench
	cmake -S . -B $(BENCH_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_UI=OFF \
		-DKELVANE_BENCH=ON
	cmake --build $(BENCH_BUILD_DIR) -j $(JOBS) --target bench_small_upload kelvane-cli
	$(BENCH_BUILD_DIR)/bench/bench_small_upload
	/usr/bin/python3 bench/sync_bench.py --cli $(BENCH_BUILD_DIR)/src/kelvane-cli $(BENCH_ARGS)
	/usr/bin/python3 bench/sync_bench.py --cli $(BENCH_BUILD_DIR)/src/kelvane-cli --tls --parallel 1 $(BENCH_ARGS)
	/usr/bin/python3 bench/sync_bench.py --cli $(BENCH_BUILD_DIR)/src/kelvane-cli --far $(BENCH_ARGS)

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(TEST_BUILD_DIR) $(SHOTS_BUILD_DIR) $(PACKAGE_BUILD_DIR)
