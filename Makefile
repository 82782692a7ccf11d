# The quick start's commands, and a few conveniences.
.PHONY: test build clean

test:
	@scripts/test

build:
	@scripts/install-deps
	@cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build/release

clean:
	rm -rf build
