"""argmin, argmax, min, max, argminmax, width and cwidth, called natively,
against the plain running scan."""

import math

import numpy as np
import pytest

from conftest import LAYOUTS, laid_out, same_bits

INF, NAN = math.inf, math.nan
ROWS = ("argmin", "argmax", "min", "max", "argminmax", "width")


def running_scan(values):
    """(first minimum, first maximum) as `if x[i] < m: m = x[i]` finds them."""
    low = high = 0
    for i, x in enumerate(values):
        if x < values[low]:
            low = i
        if x > values[high]:
            high = i
    return low, high


def expected(row, values):
    low, high = running_scan(values)
    return {"argmin": low, "argmax": high, "min": values[low], "max": values[high],
            "argminmax": (low, high), "width": values[high] - values[low]}[row]


def check(kernels, row, xs, want):
    got, pending = kernels.call(row, (xs,))
    assert pending is None
    if isinstance(want, float):
        assert same_bits(got, want), (row, got, want)
    else:
        assert got == want, (row, got, want)


@pytest.mark.parametrize("values, want", [
    ([3.0, 1.0, 1.0, 2.0], dict(argmin=1, min=1.0, argmax=0, max=3.0, argminmax=(1, 0), width=2.0)),
    ([1.0, 5.0, 5.0], dict(argmax=1, argminmax=(0, 1))),
    ([NAN, 1.0, 2.0], dict(argmin=0, argmax=0, min=NAN, max=NAN, width=NAN)),
    ([1.0, NAN, 0.0], dict(argmin=2, argmax=0, min=0.0, max=1.0, width=1.0)),
    ([0.0, -0.0], dict(argmin=0, argmax=0, min=0.0, max=0.0)),
    ([-0.0, 0.0], dict(min=-0.0, width=0.0)),
    ([7.5], dict(argmin=0, argmax=0, min=7.5, max=7.5, width=0.0)),
    ([INF], dict(width=NAN)),
])
def test_documented_scans(kernels, values, want):
    for row, value in want.items():
        check(kernels, row, np.array(values), value)


def planted(rng, n):
    """Random vectors whose extremes repeat (ties), with NaN and signed zeros,
    spread over vector blocks and their edges."""
    x = rng.integers(-50, 50, n).astype(float)
    for at in rng.integers(0, n, 3):
        x[at] = NAN
    x[rng.integers(0, n, 2)] = [0.0, -0.0]
    return x


@pytest.mark.parametrize("layout", LAYOUTS)
def test_scans_match_the_running_scan(kernels, layout):
    rng = np.random.default_rng(3)
    for n in (1, 2, 15, 255, 256, 257, 1500, 5000):
        with np.errstate(over="ignore"):
            overflowing = rng.standard_normal(n) * 1e300 * rng.choice([1, 1e10], n)
        for values in (planted(rng, n), np.sort(rng.standard_normal(n))[::-1], np.zeros(n) - 0.0, overflowing):
            xs = laid_out(values, np.float64, layout)
            for row in ROWS:
                check(kernels, row, xs, expected(row, values.tolist()))


def test_indices_are_relative_to_the_view(kernels):
    base = np.array([5.0, 1.0, 9.0, 1.0, 3.0])
    check(kernels, "argminmax", base[::-1], (1, 2))  # reversed: 3, 1, 9, 1, 5
    check(kernels, "argmax", base[::-2], 1)          # 3, 9, 5
    check(kernels, "width", base[::-2], 6.0)


def test_cwidth(kernels):
    check(kernels, "cwidth", np.array([3 + 4j, 1 + 0j, 2j]), 4.0)
    check(kernels, "cwidth", np.array([1.5 - 2j]), 0.0)
    rng = np.random.default_rng(4)
    z = rng.standard_normal(3000) + 1j * rng.standard_normal(3000)
    for layout in LAYOUTS:
        mags = [abs(v) for v in z.tolist()]
        low, high = running_scan(mags)
        check(kernels, "cwidth", laid_out(z, complex, layout), mags[high] - mags[low])


def test_empty_vectors_are_reported_as_unraisable(kernels, unraisable):
    defaults = {"argmin": 0, "argmax": 0, "min": 0.0, "max": 0.0, "argminmax": (0, 0), "width": 0.0,
                "cwidth": 0.0}
    with unraisable() as seen:
        for row, default in defaults.items():
            dtype = complex if row == "cwidth" else float
            assert kernels.call(row, (np.zeros(0, dtype),)) == (default, None), row
    contexts = [f"zalmor.ops.brenthosca.{row}" for row in ROWS[:5]]
    contexts += ["zalmor.ops.brenthosca.argminmax", "zalmor.ops.brenthosca.cwidth"]  # width reports as argminmax
    assert [ctx for ctx, *_ in seen] == contexts
    assert {(t, msg) for _, t, msg, _ in seen[:6]} == {(ValueError, "Empty sequence.")}
    assert seen[6][1:3] == (ValueError, "Invalid shape in axis 0: 0.")


def test_the_unraisable_report_prints_the_exception_it_hands_on(kernels, run_py):
    result = run_py("""
        import io, contextlib, numpy as np
        kernels = load_extension("_zalmor_kernels", %r)
        seen = []
        sys.unraisablehook = lambda r: seen.append(r.exc_value)
        err = io.StringIO()
        with contextlib.redirect_stderr(err):
            kernels.call("argmax", (np.zeros(0),))
        emit({"same": seen[0] is sys.last_value, "printed": err.getvalue()})
    """ % kernels.__file__)
    assert result["same"]
    assert result["printed"].startswith("ValueError: Empty sequence.\n")
