"""report.html opened in a real headless Chromium with no network: every
figure drawn, every table filled; the screenshot is kept in tests/artifacts."""
import csv
import json
import os
import re
import shutil
import subprocess

import pytest

ARTIFACTS = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "artifacts")
SECTIONS = ("figures", "equity", "returns", "monthly", "positions", "trades")
# measured in the page once it is laid out, written where --dump-dom shows it
MEASURE = """<script>
window.addEventListener("load", () => {
  const sections = {};
  for (const s of document.querySelectorAll("section")) {
    const marks = [...s.querySelectorAll("polyline, polygon, rect")].filter(e => e.getBBox().width > 0).length;
    sections[s.id] = {height: s.offsetHeight, marks: marks, rows: s.querySelectorAll("tbody tr").length};
  }
  const out = document.createElement("pre");
  out.id = "measured";
  out.textContent = JSON.stringify(sections);
  document.body.appendChild(out);
});
</script>"""


def chromium():
    found = shutil.which("chromium") or shutil.which("chromium-browser")
    if found is None:
        pytest.skip("no chromium: `make test` installs Debian's package when run as root (tools/install-browser)")
    return found


def browse(browser, page, *options):
    # no network: every host name fails to resolve and any proxy is refused
    return subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                           "--host-resolver-rules=MAP * ~NOTFOUND", "--proxy-server=127.0.0.1:9",
                           *options, "file://" + page], capture_output=True, text=True, timeout=120)


def test_the_page_shows_its_figures_and_tables(example, velmoro, tmp_path):
    browser = chromium()
    proc = velmoro("run", example, "--targets", "sse.600000,szse.000001", "--begin", "20240103", "--end", "20240105",
                   "--out", "out")
    assert proc.returncode == 0, proc.stderr
    page = str(tmp_path / "out" / "report.html")
    with open(page, encoding="utf-8") as f:
        text = f.read()
    assert not re.search(r"""(src|href)\s*=|url\(|@import|https?:""", text)  # nothing to fetch
    measuring = str(tmp_path / "measuring.html")
    with open(measuring, "w", encoding="utf-8") as f:
        f.write(text.replace("</body>", MEASURE + "</body>"))
    dom = browse(browser, measuring, "--dump-dom", "--virtual-time-budget=5000")
    measured = json.loads(re.search(r'<pre id="measured">(.*?)</pre>', dom.stdout, re.S).group(1))
    with open(str(tmp_path / "out" / "fills.csv")) as f:
        fills = len(list(csv.DictReader(f)))
    assert sorted(measured) == sorted(SECTIONS) and all(s["height"] > 40 for s in measured.values())
    assert measured["equity"]["marks"] == 2 and measured["positions"]["marks"] == 2
    assert measured["returns"]["marks"] == 3  # a bar a day
    assert measured["trades"]["rows"] == fills > 0 and measured["monthly"]["rows"] == 1
    assert measured["figures"]["rows"] >= 15
    os.makedirs(ARTIFACTS, exist_ok=True)
    shot = os.path.join(ARTIFACTS, "report-page.png")
    browse(browser, page, "--window-size=900,2400", "--screenshot=" + shot)
    with open(shot, "rb") as f:
        assert f.read(8) == b"\x89PNG\r\n\x1a\n" and os.path.getsize(shot) > 20000
