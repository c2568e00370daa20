"""Market-data commands of the simulated terminal."""
from velmoro.simterm.terminal import TerminalError, command, ok

FREQUENCIES = {"min": "min", "minute": "min", "1m": "min", "day": "day", "1d": "day"}


def _frequency(kfreq):
    try:
        return FREQUENCIES[str(kfreq).lower()]
    except KeyError:
        raise TerminalError(102, "unsupported frequency {!r}".format(kfreq)) from None


def _security(term, target):
    sec = term.data.security(target["Market"], target["Code"])
    if sec is None:
        raise TerminalError(101, "unknown target {}.{}".format(target["Market"], target["Code"]))
    return sec


def _date(value, default):
    return int(value) if value else default


def kdata_file(term, sec, freq, begin, end):
    """Write the bars of one security to a MAT file; returns its path."""
    bars = term.data.bars(sec, freq, begin, end)
    variables = {k: v.reshape(1, -1) for k, v in bars.items()}
    variables.update(Market=sec.market, Code=sec.code, KFrequency=freq)
    return term.write_mat("kdata_{}_{}_{}".format(sec.market, sec.code, freq), variables)


@command("GetKData")
def get_kdata(term, request):
    freq = _frequency(request.KFrequency)
    begin = _date(request.BeginDate, 0)
    end = _date(request.EndDate, 99991231)
    paths = [kdata_file(term, _security(term, t), freq, begin, end) for t in request.MarketCode]
    if request.NoReturn:
        paths = []
    return ok(listPaths=paths)
