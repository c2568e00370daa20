"""Two commands on the embedded simulated terminal: a code list and bar data."""
from velmoro.tframe.comm import vmcmd
from velmoro.tframe.utils.datetimefunc import mft_to_str_format
from velmoro.tframe.utils.utilfunc import load_mat


def main():
    members = vmcmd.vmSendCmdGetCodeList("Index", 0)
    print("Index members:")
    for m in members:
        print("  {:5s} {:7s} {:6.2%}  {}".format(m.Market, m.Code, m.Weight, m.Name))

    target = {"Market": members[0].Market, "Code": members[0].Code}
    path = vmcmd.vmSendCmdGetKData([target], "day", 1, 0, 0, 0, "NA", False)[0]
    bars = load_mat(path, error="raise")
    print("\nDay bars of {Market}.{Code}:".format(**target))
    for t, o, h, l, c in zip(*(bars[k].ravel() for k in ("Time", "Open", "High", "Low", "Close"))):
        print("  {}  open {:8.2f}  high {:8.2f}  low {:8.2f}  close {:8.2f}".format(
            mft_to_str_format(t, "%Y-%m-%d"), o, h, l, c))


if __name__ == "__main__":
    main()
