# The two entry points of the project: `make run` and `make test`.
# Both install the Debian packages that are missing first (as root).

DEBIAN_PACKAGES := cmake make g++ pkg-config libace-dev libboost-dev libsqlite3-dev \
	libgtest-dev libgmock-dev libbenchmark-dev libpugixml-dev libtinyxml2-dev \
	libspdlog-dev libacl1-dev \
	dpkg-dev file postgresql libpq-dev
# Only the fuzzer needs clang's libFuzzer.
FUZZ_PACKAGES := clang libclang-rt-14-dev
JOBS ?= $(shell nproc)
BUILD_DIR ?= build
TEST_BUILD_DIR ?= build-test
PREFIX ?= /usr/local

.PHONY: deps build install package run test tsan bench fuzz clean

deps:
	@missing=""; \
	for p in $(DEBIAN_PACKAGES) $(EXTRA_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEF_BUILD_TESTS=OFF
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Installs the library, its headers and the command-line tools.
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)
	ldconfig

# The Debian package of the build (CPack; dpkg-dev's dpkg-shlibdeps and `file`
# work out its dependencies): everything `make install` installs, under /usr.
package: build
	cd $(BUILD_DIR) && cpack -G DEB
	@ls $(BUILD_DIR)/*.deb

# The main job: the host runs the AUTODELETE service on a generated tree.
run: install
	bash examples/demo/autodelete-demo.sh $(PREFIX)

test: deps
	cmake -S . -B $(TEST_BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug -DKEF_SANITIZE=ON -DKEF_BUILD_BENCH=OFF
	cmake --build $(TEST_BUILD_DIR) -j $(JOBS)
	cd $(TEST_BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The whole suite under ThreadSanitizer (run it before changing threaded code).
TSAN_BUILD_DIR ?= build-tsan
tsan: deps
	cmake -S . -B $(TSAN_BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug -DKEF_SANITIZE_THREAD=ON -DKEF_BUILD_BENCH=OFF
	cmake --build $(TSAN_BUILD_DIR) -j $(JOBS)
	cd $(TSAN_BUILD_DIR) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -j $(JOBS)

# Every benchmark, or one: `make bench BENCH=xml` (mutex, xml, log, trigger,
# requestdb, autodelete).
BENCH ?= *
bench: build
	@for b in $(BUILD_DIR)/bench/$(BENCH)_bench; do echo "== $$b"; $$b; done

# Coverage-guided fuzzing of the XML reader (clang's libFuzzer); new inputs go
# to $(FUZZ_BUILD_DIR)/corpus, the committed seeds stay in fuzz/corpus.
FUZZ_BUILD_DIR ?= build-fuzz
FUZZ_SECONDS ?= 600
fuzz:
	$(MAKE) deps EXTRA_PACKAGES="$(FUZZ_PACKAGES)"
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKEF_BUILD_FUZZ=ON -DKEF_BUILD_TESTS=OFF -DKEF_BUILD_BENCH=OFF
	cmake --build $(FUZZ_BUILD_DIR) --target xml_fuzzer -j $(JOBS)
	mkdir -p $(FUZZ_BUILD_DIR)/corpus
	$(FUZZ_BUILD_DIR)/fuzz/xml_fuzzer -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=1024 \
	  -dict=fuzz/xml.dict $(FUZZ_BUILD_DIR)/corpus fuzz/corpus/xml

clean:
	rm -rf $(BUILD_DIR) $(TEST_BUILD_DIR) $(TSAN_BUILD_DIR) $(FUZZ_BUILD_DIR)
