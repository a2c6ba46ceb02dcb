# Entry points. `make run` and `make test` install what is missing, build and go.
BUILD_DIR ?= build
SAN_DIR ?= build-sanitize
TSAN_DIR ?= build-tsan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
# The web page's WebAssembly build; the page itself goes to $(BUILD_DIR)/web.
WEB_BUILD_DIR ?= $(BUILD_DIR)/wasm
GENERATOR ?= Ninja
CMAKE_FLAGS ?=
# Where make install puts the programs; DESTDIR, when given, is put in front of it.
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all setup configure build web run test bench sanitize tsan fuzz headless install uninstall deb clean

all: build

setup:
	@bash scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

# The web page: core, drawing and shell compiled to WebAssembly by emscripten, with
# the page's files and the shipped worlds, in the static folder $(BUILD_DIR)/web.
define build_web
	@emcmake cmake -S . -B $(WEB_BUILD_DIR) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Release \
	  -DROBOSIM_WEB_DIR=$(abspath $(BUILD_DIR))/web $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(WEB_BUILD_DIR)
endef

build: configure
	@cmake --build $(BUILD_DIR)
	$(build_web)

web: setup
	$(build_web)

run: build
	@$(BUILD_DIR)/bin/robot-simulator

headless: build
	@$(BUILD_DIR)/bin/robot-simulator-headless

# Two tests at a time: the tests wait for conditions, never for a moment, so a
# second test beside them changes nothing but the time (a little over half).
test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j2

bench: build
	@bash scripts/bench.sh $(BUILD_DIR)

# Installs into $(DESTDIR)$(PREFIX), listing each file in the prefix's
# share/robot-simulator/installed-files.txt as it is written, and, for a real
# install (no DESTDIR), tells the desktop about the new menu entry, world-file
# type and icon. It does not build, so that `sudo make install` after `make
# build` leaves no file of root's in the build.
install:
	@bash scripts/install.sh "$(BUILD_DIR)"

# The install scripts take PREFIX and DESTDIR from the environment, so that no
# character of a folder's name is read by the shell, and also as written, to
# tell a "$" that make took for one of its variables.
install uninstall: export ROBOSIM_PREFIX := $(PREFIX)
install uninstall: export ROBOSIM_DESTDIR := $(DESTDIR)
install uninstall: export ROBOSIM_PREFIX_AS_WRITTEN := $(value PREFIX)
install uninstall: export ROBOSIM_DESTDIR_AS_WRITTEN := $(value DESTDIR)

# Removes what make install wrote into $(DESTDIR)$(PREFIX) (give it the same
# PREFIX and DESTDIR), however many installs it took and whether they finished.
uninstall:
	@bash scripts/uninstall.sh --installed "$(BUILD_DIR)"

# The Debian package, $(BUILD_DIR)/robot-simulator_VERSION_ARCH.deb (CPack).
deb: build
	@rm -f $(BUILD_DIR)/robot-simulator_*.deb
	@cd $(BUILD_DIR) && cpack -G DEB
	@rm -rf $(BUILD_DIR)/deb/_CPack_Packages

# Every core and headless test, the short soak runs, and the Python tests of threads
# and forks, under AddressSanitizer and UndefinedBehaviorSanitizer; any report
# fails the test. The planner's property
# test gets fewer random worlds, as everything runs several times slower here.
sanitize: setup
	@cmake -S . -B $(SAN_DIR) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DROBOSIM_SANITIZE=ON \
	  -DROBOSIM_BUILD_GUI=OFF -DROBOSIM_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	@cmake --build $(SAN_DIR)
	@cd $(SAN_DIR) && ROBOSIM_PROPERTY_WORLDS=200 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j2

# The tests that run simulations and the thread pool on several threads at once,
# under ThreadSanitizer; any report fails them.
tsan: setup
	@cmake -S . -B $(TSAN_DIR) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROBOSIM_TSAN=ON \
	  -DROBOSIM_BUILD_GUI=OFF -DROBOSIM_BUILD_BENCH=OFF -DROBOSIM_BUILD_PYTHON=OFF $(CMAKE_FLAGS)
	@cmake --build $(TSAN_DIR) --target core_tests
	@TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  $(TSAN_DIR)/bin/core_tests --gtest_filter='ThreadsTest.*:SimulationValue.*'

# The libFuzzer targets (clang), each run for FUZZ_SECONDS; see scripts/fuzz.sh.
fuzz: setup
	@cmake -S . -B $(FUZZ_DIR) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DROBOSIM_FUZZ=ON $(CMAKE_FLAGS)
	@cmake --build $(FUZZ_DIR)
	@bash scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD_DIR) $(SAN_DIR) $(TSAN_DIR) $(FUZZ_DIR)
