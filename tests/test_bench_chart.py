"""The benchmark's chart is drawn from a small results file (where make bench
has installed matplotlib): one panel per family, at most 1600 px wide."""
import json
import subprocess
import sys

import pytest

from conftest import MEMORY_CHECKED, ROOT

pytest.importorskip("matplotlib")
if MEMORY_CHECKED:  # the chart does not touch the modules; matplotlib aborts under the preloaded checkers
    pytest.skip("the chart is drawn without the modules", allow_module_level=True)


def test_chart_draws_from_results(tmp_path):
    rows = [{"kernel": kernel, "n": n, "ratio": ratio}
            for kernel, ratios in (("sum[f8]", (40.0, 3.0, 0.5)), ("cabs", (2.0, 0.6, 0.3)),
                                   ("new_row", (1.0, 1.0, 1.0)))
            for n, ratio in zip((8, 1000, 10**6), ratios)]
    source = tmp_path / "bench.json"
    source.write_text(json.dumps({"machine": {"processor": "test"}, "results": rows}))
    subprocess.run([sys.executable, str(ROOT / "bench" / "chart.py"), str(source)], check=True)
    from PIL import Image
    with Image.open(tmp_path / "bench.png") as image:
        assert 1000 <= image.width <= 1600
