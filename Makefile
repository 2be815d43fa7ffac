# NibWordLib: `make demo` shows an edit cycle against the local document
# server, `make test` runs every suite, `make package` builds the MSI. All
# install missing packages first.

BUILD := build
JOBS ?= 2
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all bootstrap build package test demo bench clean

all: build

bootstrap:
	@tools/bootstrap

$(BUILD)/host/CMakeCache.txt: | bootstrap
	cmake -S . -B $(BUILD)/host $(CMAKE_FLAGS) >/dev/null

$(BUILD)/win64/CMakeCache.txt: | bootstrap
	cmake -S . -B $(BUILD)/win64 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DNIB_WIN_TESTS=ON >/dev/null

$(BUILD)/win32/CMakeCache.txt: | bootstrap
	cmake -S . -B $(BUILD)/win32 $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DNIB_WIN_TESTS=ON >/dev/null

build: bootstrap $(BUILD)/host/CMakeCache.txt $(BUILD)/win64/CMakeCache.txt $(BUILD)/win32/CMakeCache.txt
	cmake --build $(BUILD)/host -j$(JOBS)
	cmake --build $(BUILD)/win64 -j$(JOBS)
	cmake --build $(BUILD)/win32 -j$(JOBS)

# The MSI: both DLLs, the launcher and the "nibword:" protocol (build/package/NibWordLib.msi).
package: build
	packaging/make-package.py $(BUILD)

test: build package
	tools/run-tests $(BUILD)

demo: build
	tools/demo $(BUILD)/win64

bench: build
	tools/run-bench $(BUILD)

clean:
	@for prefix in $(BUILD)/win64/wineprefix* $(BUILD)/win32/wineprefix* $(BUILD)/package/wineprefix; do \
	  if [ -d $$prefix ]; then WINEPREFIX=$(CURDIR)/$$prefix tools/wine-stop; fi; done
	rm -rf $(BUILD)
