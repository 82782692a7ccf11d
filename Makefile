# The quick start's commands, and a few conveniences.
.PHONY: run test build install clean

# Where `make install` puts the host; DESTDIR (for a package or a staging tree) goes before it.
PREFIX ?= /usr/local

run:
	@scripts/run

test:
	@scripts/test

build:
	@scripts/install-deps
	@cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build/release

install:
	@scripts/install-deps
	@cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build build/release --target vistaro-host vistaro-client vistaro_catalogues
	@DESTDIR=$(DESTDIR) cmake --install build/release --prefix $(PREFIX)

clean:
	rm -rf build
