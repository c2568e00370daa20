"""The command channel against the embedded simulated terminal: bar data and a code list."""
from velmoro.tframe.comm import vmcmd
from velmoro.tframe.utils.datetimefunc import mft_to_str_format
from velmoro.tframe.utils.utilfunc import load_mat


def main():
    members = vmcmd.vmSendCmdGetCodeList("Index", 0)
    print("Index members:")
    for m in members:
        print("  {:5s} {:7s} {:6.2%}  {}".format(m.Market, m.Code, m.Weight, m.Name))

    targets = [{"Market": m.Market, "Code": m.Code} for m in members[:2]]
    paths = vmcmd.vmSendCmdGetKData(targets, "day", 1, 0, 0, 0, "NA", False)
    for target, path in zip(targets, paths):
        bars = load_mat(path, error="raise")
        print("\nDay bars of {Market}.{Code} ({path}):".format(path=path, **target))
        for t, o, h, l, c in zip(*(bars[k].ravel() for k in ("Time", "Open", "High", "Low", "Close"))):
            print("  {}  open {:9.2f} high {:9.2f} low {:9.2f} close {:9.2f}".format(
                mft_to_str_format(t, "%Y-%m-%d"), o, h, l, c))


if __name__ == "__main__":
    main()
