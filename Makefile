# Tovrin: the two everyday commands are `make run` and `make test`.
# Each installs missing Debian packages first (quietly when nothing is missing).

JOBS := $(shell nproc 2>/dev/null || echo 2)
RELEASE_DIR := build/release
TEST_DIR := build/test
CMAKE_QUIET := -DCMAKE_MESSAGE_LOG_LEVEL=WARNING -Wno-dev

.PHONY: run test bench build install package screenshots format deps-run deps-test deps-bench clean

deps-run:
	@sh scripts/install-deps.sh run

deps-test:
	@sh scripts/install-deps.sh test

deps-bench:
	@sh scripts/install-deps.sh bench

$(RELEASE_DIR)/CMakeCache.txt:
	@cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DTOVRIN_TESTS=OFF -DTOVRIN_BENCH=ON $(CMAKE_QUIET) >/dev/null

build: deps-run $(RELEASE_DIR)/CMakeCache.txt
	@cmake --build $(RELEASE_DIR) --target Tovrin -j$(JOBS) > $(RELEASE_DIR)/build.log 2>&1 || (cat $(RELEASE_DIR)/build.log; exit 1)

run: build
	@sh scripts/run.sh $(RELEASE_DIR)/src/Tovrin

$(TEST_DIR)/CMakeCache.txt:
	@cmake -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=Debug -DTOVRIN_STRICT=ON -DTOVRIN_SANITIZE=ON $(CMAKE_QUIET) >/dev/null

test: deps-test $(TEST_DIR)/CMakeCache.txt
	@cmake --build $(TEST_DIR) -j$(JOBS) > $(TEST_DIR)/build.log 2>&1 || (cat $(TEST_DIR)/build.log; exit 1)
	@cd $(TEST_DIR) && ctest --output-on-failure -j$(JOBS)

bench: deps-bench $(RELEASE_DIR)/CMakeCache.txt
	@cmake --build $(RELEASE_DIR) -j$(JOBS) > $(RELEASE_DIR)/build.log 2>&1 || (cat $(RELEASE_DIR)/build.log; exit 1)
	@sh bench/run.sh $(RELEASE_DIR)

screenshots: deps-test $(TEST_DIR)/CMakeCache.txt
	@cmake --build $(TEST_DIR) --target tovrin_screenshots -j$(JOBS) > $(TEST_DIR)/build.log 2>&1 || (cat $(TEST_DIR)/build.log; exit 1)
	@QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 $(TEST_DIR)/tools/tovrin_screenshots build/screenshots

PREFIX ?= /usr/local

install: build
	@cmake --install $(RELEASE_DIR) --prefix $(PREFIX)

package: build
	@cd $(RELEASE_DIR) && cpack -G DEB >/dev/null && ls -1 $$(pwd)/*.deb

format:
	@clang-format -i $$(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h' 'tools/*.cpp')

clean:
	rm -rf build
