# make run   - build the release daemon and run it with the board stand-in on port 20001
# make test  - build with ASan+UBSan and run every test (unit, end-to-end, fuzz), the
#              board stand-in's tests, whose thread runs beside the daemon's, with TSan,
#              the unit tests once more in a build without sanitizers, and then the board
#              build (make test-board)
# make test-board - cross-build the tree for the board (32-bit big-endian PowerPC) and run
#              its tests under qemu-user; needs the test tree of make test for its host harness
# make bench - build the release tree and print the benchmark figures
# CXX picks the compiler of the run, test and bench builds (g++ by default; CXX=clang++ works).

JOBS ?= $(shell nproc)
COMPILER := $(notdir $(CXX))
CMAKE_CONFIGURE = cmake -G Ninja -Wno-dev -DCMAKE_CXX_COMPILER=$(CXX)
TEST_DIR := build/test-$(COMPILER)
RELEASE_DIR := build/release-$(COMPILER)
FUZZ_DIR := build/fuzz
TSAN_DIR := build/tsan
TSAN_TESTS := boardsim_tests boardsim_daemon_tests
PLAIN_DIR := build/plain-$(COMPILER)
BOARD_DIR := build/board-ppc

.PHONY: all run test test-board bench packages

all: packages
	$(CMAKE_CONFIGURE) -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE_DIR) -j $(JOBS)

packages:
	@tools/install-packages

run: packages
	$(CMAKE_CONFIGURE) -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target server-sim
	exec $(RELEASE_DIR)/bin/server-sim --port 20001

test: packages
	$(CMAKE_CONFIGURE) -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=Debug -DGW_SANITIZE=ON
	cmake --build $(TEST_DIR) -j $(JOBS)
	cmake -G Ninja -Wno-dev -S . -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGW_FUZZ=ON
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	cmake -G Ninja -Wno-dev -S . -B $(TSAN_DIR) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_BUILD_TYPE=Debug -DGW_TSAN=ON
	cmake --build $(TSAN_DIR) -j $(JOBS) --target $(TSAN_TESTS)
	# Without address randomisation: clang 14's TSan refuses some layouts of newer kernels.
	for t in $(TSAN_TESTS); do TSAN_OPTIONS=halt_on_error=1 setarch $$(uname -m) -R \
	  $(TSAN_DIR)/tests/$$t --gtest_brief=1 || exit 1; done
	cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS)
	cd $(FUZZ_DIR) && ctest --output-on-failure -j $(JOBS)
	# ASan replaces the allocators and keeps freed memory aside; the release daemon
	# does neither: the unit tests run once more as it is built.
	$(CMAKE_CONFIGURE) -S . -B $(PLAIN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(PLAIN_DIR) -j $(JOBS) --target unit_tests
	cd $(PLAIN_DIR) && ctest --output-on-failure -j $(JOBS) -L unit
	$(MAKE) --no-print-directory test-board

# The board's tree (Debug, no sanitizers: LeakSanitizer does not exist on 32-bit PowerPC).
# Its ctest runs in a user namespace whose own binfmt_misc starts the board's programs
# under qemu-ppc; the host's test tree drives them where the emulator cannot.
test-board: packages
	$(CMAKE_CONFIGURE) -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=Debug -DGW_SANITIZE=ON
	cmake --build $(TEST_DIR) -j $(JOBS) --target foundation_tests e2e_tests
	cmake -G Ninja -Wno-dev -S . -B $(BOARD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/powerpc-linux-gnu.cmake \
	  -DCMAKE_BUILD_TYPE=Debug -DGW_HOST_TEST_TREE=$(CURDIR)/$(TEST_DIR)
	cmake --build $(BOARD_DIR) -j $(JOBS)
	cd $(BOARD_DIR) && $(CURDIR)/tools/with-board-binfmt ctest --output-on-failure -j $(JOBS) -LE e2e
	cd $(BOARD_DIR) && $(CURDIR)/tools/with-board-binfmt ctest --output-on-failure -j $(JOBS) -L e2e

bench: all
	$(RELEASE_DIR)/bench/foundation_bench
	$(RELEASE_DIR)/bench/daemon_load
