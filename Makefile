# The quick start's commands, and a few conveniences.
.PHONY: run test build clean

run:
	@scripts/run

test:
	@scripts/test

build:
	@scripts/install-deps
	@cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build/release

clean:
	rm -rf build
