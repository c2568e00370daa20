"""Every documented terminal command exists with its parameter names and
defaults, and the module offers no other command."""
import inspect

import pytest

from command_table import COMMANDS
from velmoro.tframe.comm import vmcmd

_ = inspect.Parameter.empty
CATALOGUE = {c.name: c.params for c in COMMANDS}


def _declared(entry):
    return entry if isinstance(entry, tuple) else (entry, _)


def test_the_catalogue_is_the_whole_module():
    assert len(CATALOGUE) == len(COMMANDS)  # one row a command
    offered = {n for n in vars(vmcmd) if n.startswith("vmSendCmd")}
    assert offered == set(CATALOGUE)


@pytest.mark.parametrize("name", sorted(CATALOGUE))
def test_parameters_and_defaults(name):
    params = list(inspect.signature(getattr(vmcmd, name)).parameters.values())
    assert [(p.name, p.default) for p in params] == [_declared(e) for e in CATALOGUE[name]]
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in params)
    assert getattr(vmcmd, name).__name__ == name


@pytest.mark.parametrize("name", ["vmSendCmdGetKData", "vmSendCmdGetAccountInfo", "vmSendCmdKeepActive"])
def test_wrong_arguments_are_refused_before_sending(name, monkeypatch):
    sent = []
    monkeypatch.setattr(vmcmd, "vmserial", type("Recorder", (), {"__getattr__": lambda s, n: sent.append(n)})())
    count = len(CATALOGUE[name])
    with pytest.raises(TypeError):
        getattr(vmcmd, name)(*range(count + 1))
    with pytest.raises(TypeError):
        getattr(vmcmd, name)(no_such_parameter=1)
    assert sent == []
