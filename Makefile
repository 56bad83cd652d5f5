# The two commands of the README: `make run` and `make test`. Everything else is a helper.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
GENERATOR  ?= Ninja
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps build asan run test test-main test-asan clean screenshots deb install fuzz test-fuzz fuzz-build

all: build

deps:
	@scripts/install-deps

build: deps
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

asan: deps
	@test -f $(ASAN_BUILD)/CMakeCache.txt || cmake -S . -B $(ASAN_BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DMAVRIN_SANITIZE=ON $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# Starts the Linux edition in the current directory: ./mavrin.ini and ./mavrin.log live here.
run: build
	$(BUILD)/app/mavrin

test-main: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) -LE no-sanitize

# The fuzz targets, built with clang in their own tree. `make test` runs each for FUZZ_SECONDS;
# `make fuzz` for FUZZ_LONG_SECONDS. Any crash fails the run.
FUZZ_TARGETS      = ini_file settings_load texts
FUZZ_SECONDS     ?= 30
FUZZ_LONG_SECONDS ?= 600

fuzz-build: deps
	@test -f $(FUZZ_BUILD)/CMakeCache.txt || CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAVRIN_FUZZ=ON $(CMAKE_ARGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(addprefix mavrin_fuzz_,$(FUZZ_TARGETS))

test-fuzz: fuzz-build
	tests/fuzz/run_fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

fuzz: fuzz-build
	tests/fuzz/run_fuzz.sh $(FUZZ_BUILD) $(FUZZ_LONG_SECONDS) $(FUZZ_TARGETS)

test: test-main test-asan test-fuzz

# The Windows edition: mavrin.exe cross-built with mingw-w64 (x86_64); its checks run under Wine in
# `make test`. screenshots-windows puts pictures of its dialogs, taken under Wine and Xvfb with a
# Japanese and an American locale, into $(WIN_BUILD)/screenshots/ja/ and .../en/.
WIN_BUILD ?= build-windows
.PHONY: windows screenshots-windows
windows: deps
	@test -f $(WIN_BUILD)/CMakeCache.txt || cmake -S . -B $(WIN_BUILD) -G "$(GENERATOR)" \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DMAVRIN_HOST_BUILD_DIR=$(CURDIR)/build-win-host
	cmake --build $(WIN_BUILD) -j $(JOBS)

screenshots-windows: windows
	tests/app/win32/run_wine_test.sh --screenshots . $(WIN_BUILD)

# A Debian package of the Linux edition, in $(BUILD)/.
deb: build
	cd $(BUILD) && cpack -G DEB

# Installs without packaging: make install PREFIX=$$HOME/.local
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix "$(PREFIX)"

# One PNG per dialog, the tray menu and a confirmation, in Japanese and English, rendered through the
# Qt backend without a display: $(BUILD)/screenshots/ja/ and $(BUILD)/screenshots/en/. The screen is
# a usual 1920x1080 one, as the dialogs of machines with many processors grow up to the screen's width.
screenshots: deps
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS) --target mavrin_screenshots
	@printf '%s\n' '{"screens": [{"name": "shots", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]}' >$(BUILD)/screenshots-screen.json
	QT_QPA_PLATFORM=offscreen:configfile=$(abspath $(BUILD))/screenshots-screen.json $(BUILD)/framework/qt/mavrin_screenshots $(BUILD)/screenshots

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
