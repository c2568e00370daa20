# make test  : build and test on every interpreter of PY (default 3.8 and 3.13)
# make demo  : build and run the demo on DEMO_PY (default 3.8)
PY ?= 3.8 3.13
DEMO_PY ?= 3.8
VENV := .venv
PYTEST_ARGS ?=

.PHONY: test demo bench install install-native clean
.SECONDARY:

# one virtual environment per interpreter, with the pinned requirements
$(VENV)/%/ready: requirements/3.8.txt requirements/default.txt
	rm -rf $(VENV)/$*
	"$$(tools/find-python $*)" -m venv $(VENV)/$*
	req=requirements/$*.txt; [ -f $$req ] || req=requirements/default.txt; \
	$(VENV)/$*/bin/python -m pip install -q -r $$req
	touch $@

# build the modules (incrementally, in build/) and install the package
$(VENV)/%/installed: $(VENV)/%/ready FORCE
	$(VENV)/$*/bin/python -m pip install -q --no-build-isolation --no-deps .
	touch $@

install: $(foreach v,$(PY),$(VENV)/$(v)/installed)

test: $(foreach v,$(PY),test-$(v))

test-%: $(VENV)/%/installed
	cd tests && ../$(VENV)/$*/bin/python -m pytest -q $(PYTEST_ARGS)

demo: $(VENV)/$(DEMO_PY)/installed
	$(VENV)/$(DEMO_PY)/bin/python examples/demo.py

bench: $(VENV)/$(DEMO_PY)/installed
	for b in bench/*.py; do $(VENV)/$(DEMO_PY)/bin/python $$b || exit 1; done

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

FORCE:
