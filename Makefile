# make test  : build and test on every interpreter of PY (default 3.8 and 3.13)
# make demo  : build and run the demo on DEMO_PY (default 3.8)
# make demo-served : the demo's session against the terminal served by its own process
# make bench : the benchmarks of bench/ on BENCH_PY (default: those of PY)
# make test-asan  : the tests on modules built with AddressSanitizer and UBSan
# make test-public : the native suites on modules built on the public C API alone
# make test-native : the native suites alone on an ordinary build, on every interpreter of PY (CI: 3.9-3.12)
# make test-leaks : every public callable 100,000 rounds, then on the debug interpreter
# make fuzz       : the bad-input property tests with many more examples, sanitized
# make test-install : pip install . as a user does it, on every interpreter of PY
# make stubs : the stubs' functions and vmserial's send list, written from the modules' declarations
# make typecheck : mypy over the typed public API (the files of pyproject.toml's [tool.mypy]), on 3.13
PY ?= 3.8 3.13
DEMO_PY ?= 3.8
VENV := .venv
PYTEST_ARGS ?=

.PHONY: test browser demo demo-served bench install install-native clean test-asan test-public test-native test-leaks test-leaks-debug fuzz test-install typecheck stubs
.SECONDARY:

# one virtual environment per interpreter, with its pinned requirements
# (requirements/<version>.txt, else default.txt)
.SECONDEXPANSION:
$(VENV)/%/ready: $$(firstword $$(wildcard requirements/$$*.txt) requirements/default.txt)
	rm -rf $(VENV)/$*
	"$$(tools/find-python $*)" -m venv $(VENV)/$*
	req=requirements/$*.txt; [ -f $$req ] || req=requirements/default.txt; \
	$(VENV)/$*/bin/python -m pip install -q -r $$req
	touch $@

# build the modules (incrementally, in build/) and install the package
install_into = $(VENV)/$(1)/bin/python -m pip install -q --no-build-isolation --no-deps --force-reinstall .

install: $(foreach v,$(PY),install-$(v))

install-%: $(VENV)/%/ready
	$(call install_into,$*)

test: $(foreach v,$(PY),test-$(v))

test-%: install-% browser
	cd tests && ../$(VENV)/$*/bin/python -m pytest -q $(PYTEST_ARGS)

# tools/stubgen: what derives from the declarations in src/ (checked by tests/support/test_declarations.py)
stubs:
	python3 tools/stubgen

# the checker reads the source tree; its pinned version is in requirements/default.txt
typecheck: $(VENV)/3.13/ready
	$(VENV)/3.13/bin/python -m mypy --cache-dir build/mypy-cache

# the headless browser the run report's page is checked in
browser:
	tools/install-browser

# sanitized modules in a tree of their own (build/asan-<version>), see tools/asan-test
test-asan: $(foreach v,$(PY),test-asan-$(v))

test-asan-%: $(VENV)/%/ready
	tools/asan-test $(VENV)/$*/bin/python $(PYTEST_ARGS)

# the native modules' own suites, on an ordinary build of each interpreter
NATIVE_SUITES = support runtypes barcycle vmcmd fundamental factors
test-native: $(foreach v,$(PY),test-native-$(v))

test-native-%: install-%
	cd tests && ../$(VENV)/$*/bin/python -m pytest -q $(NATIVE_SUITES) $(PYTEST_ARGS)

# modules without the interpreter's internals in a tree of their own
# (build/public-<version>), see tools/public-api-test
test-public: $(foreach v,$(PY),test-public-$(v))

test-public-%: $(VENV)/%/ready
	tools/public-api-test $(VENV)/$*/bin/python $(PYTEST_ARGS)

# LEAK_ARGS=--rounds N shortens the run; the debug interpreter, ten times
# slower, runs fewer rounds and counts every reference of each call instead
LEAK_ARGS ?=
LEAK_DEBUG = tools/leakcheck-debug --rounds 2000 $(LEAK_ARGS)
# the release interpreters first, then the debug one
test-leaks: $(foreach v,$(PY),test-leaks-$(v))
	$(LEAK_DEBUG)

test-leaks-%: install-%
	$(VENV)/$*/bin/python tools/leakcheck $(LEAK_ARGS)

test-leaks-debug:
	$(LEAK_DEBUG)

# FUZZ_EXAMPLES inputs per property (new ones each run), on the sanitized build
FUZZ_EXAMPLES ?= 1000
FUZZ_ARGS ?=
fuzz: $(foreach v,$(PY),fuzz-$(v))

fuzz-%: $(VENV)/%/ready
	VELMORO_FUZZ=long VELMORO_FUZZ_EXAMPLES=$(FUZZ_EXAMPLES) \
	  tools/asan-test $(VENV)/$*/bin/python reliability/test_fuzz.py reliability/test_mat_files.py $(FUZZ_ARGS)

demo: install-$(DEMO_PY)
	$(VENV)/$(DEMO_PY)/bin/python examples/terminal_tour.py
	@echo
	$(VENV)/$(DEMO_PY)/bin/python -m velmoro demo

demo-served: install-$(DEMO_PY)
	tools/demo-served $(VENV)/$(DEMO_PY)/bin/python

# a user's install on every interpreter of PY: fresh environment, its own pip,
# a clean copy of the tree, pip check, another install, the modules imported
test-install:
	tools/install-check $(PY)

# every script of bench/ (helpers start with _) on each interpreter of
# BENCH_PY; all run, and a missed target fails the whole
BENCH_PY ?= $(PY)
bench: $(foreach v,$(BENCH_PY),bench-$(v))

bench-%: install-%
	status=0; for b in bench/[!_]*.py; do $(VENV)/$*/bin/python $$b || status=1; done; exit $$status

# only the compiled modules, into an existing framework tree:
#   make install-native PREFIX=/folder/holding/velmoro [PYTHON=/path/to/python]
PYTHON ?= python3
install-native:
	@test -n "$(PREFIX)" || { echo "usage: make install-native PREFIX=<folder holding velmoro/> [PYTHON=...]"; exit 1; }
	dir=build/native-$$($(PYTHON) -c 'import sys; print("%d.%d" % sys.version_info[:2])'); \
	cmake -S . -B $$dir -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE="$$($(PYTHON) -c 'import sys; print(sys.executable)')" >/dev/null && \
	cmake --build $$dir && cmake --install $$dir --component native --prefix "$(PREFIX)"

clean:
	rm -rf build $(VENV)
