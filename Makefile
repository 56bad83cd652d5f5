# The two commands of the README: `make run` and `make test`. Everything else is a helper.
BUILD      ?= build
ASAN_BUILD ?= build-asan
GENERATOR  ?= Ninja
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps build asan run test test-main test-asan clean deb install

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

test: test-main test-asan

# A Debian package of the Linux edition, in $(BUILD)/.
deb: build
	cd $(BUILD) && cpack -G DEB

# Installs without packaging: make install PREFIX=$$HOME/.local
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --prefix "$(PREFIX)"

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
