# make build: set up .venv and build the extension modules into it.
# make test:  build, then run the whole test suite.
# make test-sanitized: the suite again, with the modules built under ASan+UBSan.
# make test-portable: the suite again, with the modules built portable (ZALMOR_PORTABLE).
# make exactness: the long bit-for-bit checks against the C library (EXACTNESS_INPUTS).
# make example: the worked example of examples/native_consumer against a wheel, in a fresh venv.
# make bench: the benchmark against NumPy (BENCH_ARGS=--quick: a first look in
#             under a minute); prints the table, writes bench/results/bench.json
#             and draws bench/results/bench.png.
# make bench-chart: redraws bench/results/bench.png from the JSON, without measuring.

PYTHON ?= python3
VENV   := .venv
VPY    := $(VENV)/bin/python
STAMP  := $(VENV)/.requirements-stamp
BENCH_STAMP := $(VENV)/.bench-requirements-stamp
SOURCES := $(shell find frame common ops utils include cmake python -type f 2>/dev/null) CMakeLists.txt \
           pyproject.toml README.md
ASAN_SITE := build/sanitized-site
# The unit tests of the pure C++ cores (tests/native), run by
# tests/test_native_cores.py; plain for build, under ASan+UBSan for test-sanitized.
CORE_TESTS := build/core-tests/core_tests
CORE_TESTS_SANITIZED := build/core-tests-sanitized/core_tests
CORE_TEST_SOURCES := $(wildcard tests/native/*) $(SOURCES)
PORTABLE_SITE := build/portable-site

.PHONY: build test test-long test-sanitized test-portable test-valgrind exactness example bench bench-chart fuzz \
        clean system-packages

build: $(VENV)/.built-stamp $(CORE_TESTS)

system-packages:
	@missing=""; \
	command -v g++ >/dev/null 2>&1 || missing="$$missing g++"; \
	command -v cc >/dev/null 2>&1 || missing="$$missing gcc"; \
	command -v pkg-config >/dev/null 2>&1 || missing="$$missing pkg-config"; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

$(STAMP): requirements-dev.txt | system-packages
	test -x $(VPY) || $(PYTHON) -m venv $(VENV)
	$(VPY) -m pip install -q --upgrade pip
	$(VPY) -m pip install -q -r requirements-dev.txt
	touch $@

$(VENV)/.built-stamp: $(STAMP) $(SOURCES)
	$(VPY) -m pip install -q --no-build-isolation --no-deps .
	touch $@

core_tests = PATH="$(abspath $(VENV))/bin:$$PATH" cmake -S tests/native -B $(dir $@) -G Ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZALMOR_SANITIZE=$(1) >/dev/null \
	&& PATH="$(abspath $(VENV))/bin:$$PATH" cmake --build $(dir $@) && touch $@

$(CORE_TESTS): $(STAMP) $(CORE_TEST_SOURCES)
	$(call core_tests,OFF)

$(CORE_TESTS_SANITIZED): $(STAMP) $(CORE_TEST_SOURCES)
	$(call core_tests,ON)

test: build
	$(VPY) -m pytest -q tests

# The long thread and leak loops (10**5 calls per row).
test-long: build
	ZALMOR_LONG_TESTS=1 $(VPY) -m pytest -q tests/test_kernel_threads.py tests/test_threads.py tests/test_leaks.py

$(ASAN_SITE)/.built-stamp: $(STAMP) $(SOURCES)
	rm -rf $(ASAN_SITE)
	$(VPY) -m pip install -q --no-build-isolation --no-deps --target $(ASAN_SITE) \
	  -Cbuild-dir=build/sanitized -Ccmake.define.ZALMOR_SANITIZE=ON -Ccmake.build-type=Debug .
	touch $@

SANITIZED_ENV = LD_PRELOAD="$$(cc -print-file-name=libasan.so)" \
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allocator_may_return_null=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	ZALMOR_SANITIZED=1 PYTHONPATH=$(ASAN_SITE)

test-sanitized: $(ASAN_SITE)/.built-stamp $(CORE_TESTS_SANITIZED)
	$(SANITIZED_ENV) $(VPY) -c "import zalmor.ops.brenthosca as m; assert '$(ASAN_SITE)' in m.__file__, m.__file__"
	$(SANITIZED_ENV) $(VPY) -m pytest -q tests

# The portable build: plain C++ kernels for the baseline target. Checked to be
# the modules imported, and to hold no AVX instructions (no instruction-set
# clones, no intrinsic kernels) before the suite runs against it.
$(PORTABLE_SITE)/.built-stamp: $(STAMP) $(SOURCES)
	rm -rf $(PORTABLE_SITE)
	$(VPY) -m pip install -q --no-build-isolation --no-deps --target $(PORTABLE_SITE) \
	  -Cbuild-dir=build/portable -Ccmake.define.ZALMOR_PORTABLE=ON .
	touch $@

PORTABLE_ENV = ZALMOR_PORTABLE=1 PYTHONPATH=$(PORTABLE_SITE)

test-portable: $(PORTABLE_SITE)/.built-stamp
	$(PORTABLE_ENV) $(VPY) -c "import importlib, os; \
	  names = ['zalmor.ops.brenthosca', 'zalmor.ops.hemvarinto', 'zalmor.ops.quillemora', 'zalmor.utils.pondistra']; \
	  files = [importlib.import_module(n).__file__ for n in names]; \
	  assert all(f.startswith(os.path.abspath('$(PORTABLE_SITE)')) for f in files), files"
	@avx=$$(objdump -d --no-show-raw-insn $(PORTABLE_SITE)/zalmor/*/*.so | grep -cE '%[yz]mm'); \
	  test "$$avx" = 0 || (echo "the portable modules hold $$avx AVX instructions"; exit 1)
	$(PORTABLE_ENV) $(VPY) -m pytest -q tests

# The bit-for-bit checks of the kernels that give the C library's results
# (pow's squares, cabs, csqrt) at length: 10**9 inputs each by default, minutes.
EXACTNESS_INPUTS ?= 1000000000

exactness: build
	ZALMOR_SQUARES_CHECK=$(EXACTNESS_INPUTS) $(CORE_TESTS) pow_squares
	ZALMOR_COMPLEX_CHECK=$(EXACTNESS_INPUTS) $(CORE_TESTS) complex

# A part of the suite under valgrind's memcheck: no errors and no definite
# leaks from the modules.
VALGRIND_TESTS ?= tests/test_native_header.py tests/test_product.py tests/test_maps.py tests/test_views.py

test-valgrind: build
	@command -v valgrind >/dev/null 2>&1 || (apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq valgrind)
	mkdir -p build
	PYTHONMALLOC=malloc ZALMOR_VALGRIND=1 valgrind --tool=memcheck --leak-check=full \
	  --show-leak-kinds=definite --num-callers=40 --log-file=build/valgrind.log \
	  $(VPY) -m pytest -q -p no:cacheprovider $(VALGRIND_TESTS)
	$(VPY) tests/valgrind_summary.py build/valgrind.log

# Fuzzing of the buffer format check with libFuzzer (clang), for FUZZ_SECONDS.
FUZZ_SECONDS ?= 60
FUZZER := build/fuzz/format_fuzzer

$(FUZZER): tests/fuzz/format_fuzzer.cpp frame/buffer_format.cpp frame/buffer_format.h frame/type_info.h frame/limits.h
	@command -v clang++ >/dev/null 2>&1 && test -n "$$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a | grep /)" \
	  || (apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-14-dev)
	mkdir -p build/fuzz
	clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
	  -I. tests/fuzz/format_fuzzer.cpp frame/buffer_format.cpp -o $@

fuzz: $(FUZZER)
	rm -rf build/fuzz/corpus && cp -r tests/fuzz/corpus build/fuzz/corpus
	$(FUZZER) -max_total_time=$(FUZZ_SECONDS) -timeout=5 -max_len=512 -print_final_stats=1 build/fuzz/corpus

# A wheel of the project, installed in a fresh virtual environment with the
# oldest NumPy and SciPy it allows; its type stubs checked against the modules
# (mypy's stubtest); and the worked example of examples/native_consumer built
# against it with zalmor-config, pkg-config and CMake, and run.
EXAMPLE_VENV := build/example-venv

example: build
	rm -rf build/wheelhouse $(EXAMPLE_VENV)
	$(VPY) -m pip wheel -q --no-build-isolation --no-deps -w build/wheelhouse .
	$(PYTHON) -m venv $(EXAMPLE_VENV)
	$(EXAMPLE_VENV)/bin/python -m pip install -q --only-binary :all: build/wheelhouse/zalmor-*.whl \
	  "numpy==2.0.*" "scipy==1.13.*"
	$(EXAMPLE_VENV)/bin/python -m pip check
	$(EXAMPLE_VENV)/bin/python -m pip install -q mypy
	cd build && example-venv/bin/python -m mypy.stubtest zalmor.utils.pondistra zalmor.ops.brenthosca \
	  zalmor.ops.quillemora zalmor.ops.hemvarinto
	PATH="$$PATH:$(abspath $(VENV))/bin" examples/native_consumer/build.sh $(abspath $(EXAMPLE_VENV))/bin/python build/example

# The benchmark's own needs (the chart's matplotlib), beside the project's.
$(BENCH_STAMP): bench/requirements.txt $(STAMP)
	$(VPY) -m pip install -q -r bench/requirements.txt
	touch $@

bench: build $(BENCH_STAMP)
	$(VPY) bench/run.py $(BENCH_ARGS)

bench-chart: $(BENCH_STAMP)
	$(VPY) bench/chart.py

clean:
	rm -rf build $(VENV)
