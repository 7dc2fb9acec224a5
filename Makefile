# The project's entry points. `make run` and `make test` do all set-up
# themselves (packages, configure, build) on a fresh Debian 12 machine.
.PHONY: run server qvr test asan fuzz bench build build-asan deps package screenshot format clean

JOBS ?= $(shell nproc)
BUILD_DIR := build
ASAN_DIR := build-asan
FUZZ_DIR := build-fuzz
FUZZ_SECONDS ?= 60
CMAKE_FLAGS := -G Ninja -DCMAKE_BUILD_TYPE=Release

deps:
	@scripts/install-deps

$(BUILD_DIR)/build.ninja: CMakeLists.txt
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) > /dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Starts the options utility from build/bin; it reads and writes build/bin/config.ini.
run: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) > /dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS) --target QVROpciones
	cd $(BUILD_DIR)/bin && ./QVROpciones

# Starts the reference attendance server qvr-server in the foreground on
# 127.0.0.1:8080, the address a fresh config.ini names. Its database lives in
# $$XDG_DATA_HOME/qvr-server (~/.local/share/qvr-server), created and seeded on
# first start; --anonymous lets the empty UID of a fresh config.ini in.
# Ctrl-C stops it.
server: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) > /dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS) --target qvr-server
	$(BUILD_DIR)/bin/qvr-server --listen 127.0.0.1:8080 --anonymous

# Builds the command-line client build/bin/qvr (docs/qvr.md); it reads and
# writes build/bin/config.ini, the file make run's window writes too.
qvr: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) > /dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS) --target qvr

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The Debian packages qvr-opciones, qvr-server and libqvrcore-dev, made by
# CPack from the release build into build/packages/ (docs/packaging.md).
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# All tests built and run under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	@cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVR_SANITIZE=ON > /dev/null
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# Every fuzz target (tests/fuzz/fuzz.cmake) for FUZZ_SECONDS each, built with
# clang's libFuzzer and the sanitizers into build-fuzz/.
fuzz: deps
	@CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_DIR) -G Ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVR_FUZZ=ON > /dev/null
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	scripts/run-fuzz $(FUZZ_DIR) $(FUZZ_SECONDS)

bench: build
	@scripts/install-deps --bench
	cmake --build $(BUILD_DIR) -j $(JOBS) --target benchmarks
	scripts/run-bench $(BUILD_DIR)

screenshot: build
	scripts/screenshot $(BUILD_DIR)/bin/QVROpciones docs/screenshot.png

format:
	find app config client rest data platform server tests bench tools \( -name '*.h' -o -name '*.cpp' \) | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR)
