# Entry points. `make run` and `make test` install what is missing, build and go.
BUILD_DIR ?= build
SAN_DIR ?= build-sanitize
GENERATOR ?= Ninja
CMAKE_FLAGS ?=

.PHONY: all setup configure build run test bench sanitize fuzz headless clean

all: build

setup:
	@bash scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

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

sanitize: setup
	@cmake -S . -B $(SAN_DIR) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DROBOSIM_SANITIZE=ON \
	  -DROBOSIM_BUILD_GUI=OFF -DROBOSIM_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(SAN_DIR)
	@cd $(SAN_DIR) && ctest --output-on-failure

clean:
	rm -rf $(BUILD_DIR) $(SAN_DIR)
