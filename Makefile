# Entry points. `make run` and `make test` install what is missing, build and go.
BUILD_DIR ?= build
SAN_DIR ?= build-sanitize
TSAN_DIR ?= build-tsan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
GENERATOR ?= Ninja
CMAKE_FLAGS ?=

.PHONY: all setup configure build run test bench sanitize tsan fuzz headless clean

all: build

setup:
	@bash scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	@cmake --build $(BUILD_DIR)

run: build
	@$(BUILD_DIR)/bin/robot-simulator

headless: build
	@$(BUILD_DIR)/bin/robot-simulator-headless

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure

bench: build
	@bash scripts/bench.sh $(BUILD_DIR)

# Every core and headless test, and the short soak runs, under AddressSanitizer and
# UndefinedBehaviorSanitizer; any report fails the test. The planner's property
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
	  -DCMAKE_CXX_COMPILER=clang++ -DROBOSIM_FUZZ=ON $(CMAKE_FLAGS)
	@cmake --build $(FUZZ_DIR)
	@bash scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD_DIR) $(SAN_DIR) $(TSAN_DIR) $(FUZZ_DIR)
