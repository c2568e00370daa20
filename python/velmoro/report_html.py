"""The run report as one self-contained HTML page: inline SVG figures and
tables, no script, style or font fetched from anywhere.

Sections (each an element with its id): figures (the summary table),
equity (equity curve and drawdown), returns (histogram of daily returns),
monthly (monthly returns table), positions (shares held over time) and
trades (the fills).
"""
import collections
import html

import numpy as np

from velmoro import metrics

__all__ = ["page"]

WIDTH, HEIGHT, PAD = 760, 220, 36
POINTS = 1500  # a line's points drawn at the most: a year of minute bars stays a small page
STYLE = """
body{font-family:sans-serif;margin:24px;color:#222;max-width:820px}
h1{font-size:20px}h2{font-size:16px;margin-top:28px}
table{border-collapse:collapse;font-size:13px}td,th{border:1px solid #ccc;padding:3px 8px;text-align:right}
th{background:#f2f2f2}td:first-child,th:first-child{text-align:left}
svg{background:#fafafa;border:1px solid #ddd}.neg{color:#b00}.pos{color:#070}
"""
COLOURS = ("#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b")


def _scale(values, low, high, size):
    span = (high - low) or 1.0
    return [(v - low) / span * size for v in values]


def _thinned(xs, ys, most=POINTS):
    """At most about `most` points of a line, evenly spaced, its highest and lowest kept."""
    if len(ys) <= most:
        return xs, ys
    keep = np.unique(np.concatenate([np.linspace(0, len(ys) - 1, most).astype(int), [np.argmax(ys), np.argmin(ys)]]))
    return [xs[i] for i in keep], [ys[i] for i in keep]


def _line_chart(series, title, fill=False):
    """An SVG of lines: series is [(label, xs as numbers, ys)]."""
    series = [(label,) + _thinned(xs, ys) for label, xs, ys in series]
    xs_all = [x for _, xs, _ in series for x in xs]
    ys_all = [y for _, _, ys in series for y in ys]
    if not xs_all:
        return "<p>no data</p>"
    x0, x1, y0, y1 = min(xs_all), max(xs_all), min(ys_all), max(ys_all)
    parts = ['<svg width="{}" height="{}" role="img" aria-label="{}">'.format(WIDTH, HEIGHT, html.escape(title))]
    for i, (label, xs, ys) in enumerate(series):
        px = [PAD + x for x in _scale(xs, x0, x1, WIDTH - 2 * PAD)]
        py = [HEIGHT - PAD - y for y in _scale(ys, y0, y1, HEIGHT - 2 * PAD)]
        points = " ".join("{:.1f},{:.1f}".format(a, b) for a, b in zip(px, py))
        colour = COLOURS[i % len(COLOURS)]
        if fill:  # the area between the line and zero
            base = HEIGHT - PAD - _scale([min(max(0.0, y0), y1)], y0, y1, HEIGHT - 2 * PAD)[0]
            points = "{:.1f},{:.1f} {} {:.1f},{:.1f}".format(px[0], base, points, px[-1], base)
            parts.append('<polygon points="{}" fill="{}" opacity="0.5"/>'.format(points, colour))
        else:
            parts.append('<polyline points="{}" fill="none" stroke="{}" stroke-width="1.5"/>'.format(points, colour))
        parts.append('<text x="{}" y="{}" font-size="11" fill="{}">{}</text>'.format(
            PAD + 120 * i, 14, colour, html.escape(label)))
    parts.append('<text x="4" y="{}" font-size="10">{}</text>'.format(PAD, html.escape(_short(y1))))
    parts.append('<text x="4" y="{}" font-size="10">{}</text>'.format(HEIGHT - PAD, html.escape(_short(y0))))
    parts.append("</svg>")
    return "".join(parts)


def _short(value):
    return "{:,.4g}".format(value)


def _histogram(returns, bins=20):
    if len(returns) == 0:
        return "<p>no daily return</p>"
    counts, edges = np.histogram(np.asarray(returns) * 100, bins=min(bins, max(1, len(returns))))
    bar = (WIDTH - 2 * PAD) / len(counts)
    top = counts.max() or 1
    parts = ['<svg width="{}" height="{}" role="img" aria-label="daily returns">'.format(WIDTH, HEIGHT)]
    for i, count in enumerate(counts):
        h = (HEIGHT - 2 * PAD) * count / top
        parts.append('<rect x="{:.1f}" y="{:.1f}" width="{:.1f}" height="{:.1f}" fill="#1f77b4"/>'.format(
            PAD + i * bar, HEIGHT - PAD - h, max(bar - 1, 1), h))
    parts.append('<text x="{}" y="{}" font-size="10">{:.2f}%</text>'.format(PAD, HEIGHT - 8, edges[0]))
    parts.append('<text x="{}" y="{}" font-size="10">{:.2f}%</text>'.format(WIDTH - PAD - 40, HEIGHT - 8, edges[-1]))
    parts.append("</svg>")
    return "".join(parts)


def _table(header, rows):
    head = "".join("<th>{}</th>".format(html.escape(str(h))) for h in header)
    body = "".join("<tr>{}</tr>".format("".join("<td>{}</td>".format(html.escape(str(c))) for c in row))
                   for row in rows)
    return "<table><thead><tr>{}</tr></thead><tbody>{}</tbody></table>".format(head, body)


def _day(when):
    return when.date() if hasattr(when, "date") else when


def _monthly(days, start):
    """(month, return) from the days' closing values."""
    closes = collections.OrderedDict()
    for day, value in days:
        closes[day.strftime("%Y-%m") if hasattr(day, "strftime") else str(day)] = value
    rows, previous = [], start
    for month, value in closes.items():
        rows.append((month, "{:+.3%}".format(value / previous - 1) if previous else "n/a"))
        previous = value
    return rows


def _positions(fills, book):
    """[(label, xs, shares held)] per security, from the starting book through the fills."""
    held = collections.defaultdict(float)
    for position in book:
        held[(position.get("market"), position.get("code"))] += float(position.get("position") or 0)
    lines = {key: ([0.0], [value]) for key, value in held.items()}
    for i, fill in enumerate(fills, start=1):
        key = (fill.get("market"), fill.get("code"))
        held[key] += float(fill.get("volume") or 0) * (1 if fill.get("side") == "buy" else -1)
        xs, ys = lines.setdefault(key, ([0.0], [0.0]))
        xs.append(float(i))
        ys.append(held[key])
    return [("{}.{}".format(*key), xs, ys) for key, (xs, ys) in lines.items()]


def page(report, fills, figures):
    """The report as an HTML page; `fills`: the fill rows as written to
    fills.csv; `figures`: (label, value text) of the figures table."""
    times = [t for t, _ in report.equity]
    values = [v for _, v in report.equity]
    xs = [float(i) for i in range(len(values))]
    falls = [0.0 - 100 * d for d in metrics.drawdowns(values)] if values else []
    days = list(collections.OrderedDict((_day(t), (t, v)) for t, v in report.equity).values())
    start = report.figures.get("start_equity") or 0.0
    returns = metrics.daily_returns(start, [v for _, v in days]) if start else []
    trade_columns = ("exec_time", "market", "code", "side", "price", "volume", "amount", "fees")
    trades = [[f.get("exec_time"), f.get("market"), f.get("code"), f.get("side"), f.get("price"), f.get("volume"),
               "{:.2f}".format(float(f.get("amount") or 0)),
               "{:.2f}".format(sum(float(f.get(c) or 0) for c in metrics.FEE_COLUMNS))] for f in fills]
    title = "Run of {}".format(report.strategy)
    status = report.ended + (": " + report.error if report.error else "")
    period = "{} to {}".format(times[0], times[-1]) if times else "no bar"
    sections = [
        ("figures", "Figures", _table(("figure", "value"), figures)),
        ("equity", "Equity and drawdown",
         _line_chart([("total asset", xs, values)], "equity") + "<br>" +
         _line_chart([("drawdown %", xs, falls)], "drawdown", fill=True)),
        ("returns", "Daily returns", _histogram(returns)),
        ("monthly", "Monthly returns", _table(("month", "return"), _monthly([(t, v) for t, v in days], start))),
        ("positions", "Positions over time (by fill)", _line_chart(_positions(fills, report.book), "positions")),
        ("trades", "Trades", _table(trade_columns, trades)),
    ]
    body = "".join('<section id="{}"><h2>{}</h2>{}</section>'.format(i, h, content) for i, h, content in sections)
    return ("<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>{title}</title>"
            "<style>{style}</style></head><body><h1>{title}</h1><p>run {run}, {period}, ended {status}</p>{body}"
            "</body></html>\n").format(title=html.escape(title), style=STYLE, run=report.run_id, period=period,
                                       status=html.escape(status), body=body)
