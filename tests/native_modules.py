"""The seven compiled modules, by dotted name: one list for every test folder."""

MODULES = (
    "velmoro.tframe.comm.vmcmd",
    "velmoro.realtrade.runtypes",
    "velmoro.realtrade.barcycle",
    "velmoro.api.fundamental.fdmt.earnings",
    "velmoro.api.fundamental.fdmt.ledger",
    "velmoro.api.fundamental.company.restricted",
    "velmoro.api.bpfactor._factors",
)
