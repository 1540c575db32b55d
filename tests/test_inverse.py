"""quillemora's inv, called natively through its capsule with an optional-argument
record: real results, the exact look-ups and calls (seen through recording
stand-ins for the module globals `np` and `sp`), the square and singularity
gates, and every failure."""

import builtins
import ctypes
import sys
import types
import warnings

import numpy as np
import pytest
import scipy
import scipy.linalg

import zalmor.ops.quillemora as quillemora
from conftest import bind_row, traceback_entries


class Record(ctypes.Structure):
    """struct __pyx_opt_args_6zalmor_3ops_10quillemora_inv"""
    _fields_ = [("n", ctypes.c_int), ("b", ctypes.py_object), ("method", ctypes.c_int),
                ("force", ctypes.c_int)]


_INV = bind_row(quillemora, "inv", ctypes.py_object, ctypes.py_object, ctypes.POINTER(Record), lock=True)
_INV_RAW = bind_row(quillemora, "inv", ctypes.py_object, ctypes.c_void_p, ctypes.c_void_p, lock=True)  # a null A
_UNSET = object()


def inv(A, n=None, b=_UNSET, method=1, force=0):
    """Calls the row; n=None passes a null record; an unset b stays a null field."""
    if n is None:
        return _INV(A, None)
    record = Record(n=n, method=method, force=force)
    if b is not _UNSET:
        record.b = b
    return _INV(A, ctypes.byref(record))


def _inv_entries(error):
    return traceback_entries(error, "zalmor.ops.quillemora.inv")


def _raise(error):
    raise error


class Sub(np.ndarray):
    pass


BOOM = RuntimeError("boom")
REGULAR = np.array([[4.0, 1.0, 0.0], [1.0, 3.0, 1.0], [0.0, 1.0, 2.0]])
SINGULAR = np.array([[1.0, 2.0, 3.0], [2.0, 4.0, 6.0], [1.0, 0.0, 1.0]])
WIDE = np.array([[1.0, 2.0, 0.5], [0.0, 1.0, 3.0]])
MATRICES = {"regular": REGULAR, "singular": SINGULAR, "wide": WIDE, "tall": WIDE.T.copy()}


def matrix_laid_out(A, layout):
    if layout == "read-only":
        A = A.copy()
        A.flags.writeable = False
    elif layout == "strided":  # every second row and third column of a larger array
        big = np.full((2 * A.shape[0], 3 * A.shape[1]), np.nan)
        big[::2, ::3] = A
        A = big[::2, ::3]
    elif layout == "fortran":
        A = np.asfortranarray(A)
    return A


# ---- real results -------------------------------------------------------------

@pytest.mark.parametrize("layout", ["contiguous", "read-only", "strided", "fortran"])
@pytest.mark.parametrize("kind", MATRICES)
@pytest.mark.parametrize("with_b", [False, True])
@pytest.mark.parametrize("method", range(5))
def test_every_method_gives_the_inverse_or_the_pseudo_inverse(method, with_b, kind, layout):
    # The direct methods on a regular matrix and the pseudo-inverse or least
    # squares everywhere else all agree with pinv(A) @ rhs.
    A = matrix_laid_out(MATRICES[kind], layout)
    b = np.arange(2.0 * A.shape[0]).reshape(A.shape[0], 2) - 1.5 if with_b else None
    before = sys.getrefcount(A)
    result = inv(A, 3, b, method, 0)
    assert sys.getrefcount(A) == before  # the buffer is released
    assert type(result) is np.ndarray
    expected = np.linalg.pinv(MATRICES[kind])
    if with_b:
        expected = expected @ b
    np.testing.assert_allclose(result, expected, rtol=1e-9, atol=1e-12)


def test_null_record_and_default_method_solve_against_the_identity(unraisable):
    expected = scipy.linalg.solve(REGULAR, np.eye(3))
    with unraisable() as seen:
        np.testing.assert_array_equal(inv(REGULAR), expected)
        np.testing.assert_array_equal(inv(REGULAR, 0, np.ones((3, 1)), 4, 1), expected)
        assert not seen
        # 0 x 0 is square; cond refuses it, which counts as not singular.
        assert inv(np.zeros((0, 0)), 1).shape == (0, 0)
    assert [(ctx, t) for ctx, t, *_ in seen] == [("zalmor.ops.quillemora.is_singular", np.linalg.LinAlgError)]


def _direct(method, A, rhs):
    la = scipy.linalg
    return [lambda: la.inv(A), lambda: la.solve(A, rhs),
            lambda: la.lu_solve(la.lu_factor(A), rhs)][method]()


@pytest.mark.parametrize("kind", ["singular", "wide", "tall"])
@pytest.mark.parametrize("method", [0, 1, 2])
def test_forced_direct_method_runs_and_its_outcome_passes_through(method, kind):
    A = MATRICES[kind]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            expected = _direct(method, A, np.eye(A.shape[0]))
        except Exception as error:  # noqa: BLE001 - the very outcome inv must give
            with pytest.raises(type(error)) as got:
                inv(A, 3, None, method, 7)
            assert str(got.value) == str(error)
            assert _inv_entries(got.value)
            return
        np.testing.assert_array_equal(inv(A, 3, None, method, 7), expected)


# ---- recording stand-ins for np and sp ----------------------------------------

class Space:
    """A namespace that logs every attribute looked up on it."""

    def __init__(self, log, name, members):
        self._log, self._name, self._members = log, name, members

    def __getattr__(self, attr):
        self._log.append(f"{self._name}.{attr}")
        if attr not in self._members:
            raise AttributeError(attr)
        return self._members[attr]


MISSING = object()  # an override that removes the routine


class StandIns:
    """np and sp stand-ins over the real routines, put in quillemora's namespace.
    `overrides` replaces routines (or removes them with MISSING); `dot` replaces
    the dot of the arrays that inv and pinv return."""

    def __init__(self, monkeypatch, **overrides):
        self.log, self.args, self.returns = [], {}, {}
        log = self.log

        class Tracked(np.ndarray):
            def dot(self, other):
                log.append("dot()")
                return overrides.get("dot", np.asarray(self).dot)(other)

        def routines(names, source):
            out = {}
            for name in names:
                if overrides.get(name) is MISSING:
                    continue

                def call(*args, name=name, real=getattr(source, name), **kwargs):
                    assert not kwargs
                    log.append(f"{name}()")
                    self.args.setdefault(name, []).append(args)
                    value = overrides.get(name, real)(*args)
                    if name in ("inv", "pinv") and type(value) is np.ndarray:
                        value = value.view(Tracked)
                    self.returns[name] = value
                    return value
                out[name] = call
            return out

        linalg = Space(log, "np.linalg", routines(["cond"], np.linalg))
        self.np = Space(log, "np", {"linalg": linalg, **routines(["finfo", "eye"], np)})
        self.sp = Space(log, "sp", {"linalg": Space(log, "sp.linalg", routines(
            ["inv", "solve", "lu_factor", "lu_solve", "pinv", "lstsq"], scipy.linalg))})
        monkeypatch.setattr(quillemora, "np", self.np)
        monkeypatch.setattr(quillemora, "sp", self.sp)


@pytest.fixture
def standins(monkeypatch):
    return lambda **overrides: StandIns(monkeypatch, **overrides)


TEST = ["np.linalg", "np.linalg.cond", "cond()", "np.finfo", "finfo()"]  # is_singular
EYE = ["np.eye", "eye()"]
INV = ["sp.linalg", "sp.linalg.inv", "inv()"]
SOLVE = ["sp.linalg", "sp.linalg.solve"]
LU = ["sp.linalg", "sp.linalg.lu_solve", "sp.linalg", "sp.linalg.lu_factor", "lu_factor()"]
PINV = ["sp.linalg", "sp.linalg.pinv", "pinv()"]
LSTSQ = ["sp.linalg", "sp.linalg.lstsq"]
A2 = np.array([[2.0, 1.0], [1.0, 3.0]])
S2 = np.array([[1.0, 2.0], [2.0, 4.0]])
W2 = np.array([[1.0, 2.0, 0.5], [0.0, 1.0, 3.0]])


def calls(b):
    """(rhs part, dot part) of a sequence: eye without b, dot with it."""
    return ([] if b else EYE), (["dot()"] if b else [])


SEQUENCES = [  # method, matrix, force -> log as a function of (rhs, dot)
    (0, A2, 0, lambda rhs, dot: TEST + INV + dot),
    (0, S2, 0, lambda rhs, dot: TEST + TEST + PINV + dot),  # cond twice, then pinv
    (0, W2, 0, lambda rhs, dot: PINV + dot),  # no cond for a non-square matrix
    (0, S2, 1, lambda rhs, dot: TEST + INV + dot),
    (1, A2, 0, lambda rhs, dot: TEST + SOLVE + rhs + ["solve()"]),
    (1, S2, 0, lambda rhs, dot: TEST + PINV + dot),
    (1, W2, 0, lambda rhs, dot: PINV + dot),
    (1, A2, 1, lambda rhs, dot: TEST + SOLVE + rhs + ["solve()"]),  # the test runs anyway
    (2, A2, 0, lambda rhs, dot: TEST + LU + rhs + ["lu_solve()"]),
    (2, S2, 0, lambda rhs, dot: TEST + PINV + dot),
    (2, W2, 0, lambda rhs, dot: PINV + dot),
    (3, A2, 0, lambda rhs, dot: PINV + dot),
    (3, S2, 1, lambda rhs, dot: PINV + dot),
    (4, W2, 0, lambda rhs, dot: LSTSQ + rhs + ["lstsq()"]),
    (4, S2, 1, lambda rhs, dot: LSTSQ + rhs + ["lstsq()"]),
]


@pytest.mark.parametrize("with_b", [False, True])
@pytest.mark.parametrize("method, A, force, sequence", SEQUENCES)
def test_call_sequences(standins, unraisable, method, A, force, sequence, with_b):
    s = standins(inv=np.linalg.pinv)  # so that a forced inv of S2 gives a value
    b = np.ones((A.shape[0], 1)) if with_b else None
    with warnings.catch_warnings(), unraisable() as seen:
        warnings.simplefilter("ignore")
        result = inv(A, 3, b, method, force)
    assert s.log == sequence(*calls(with_b))
    assert not seen
    assert all(args == (A,) for args in s.args.get("cond", []))  # A itself, nothing else
    assert s.args.get("finfo", []) == [(np.dtype(np.float64),)] * len(s.args.get("cond", []))
    if "eye" in s.args:  # the number of rows, as a Python int
        assert s.args["eye"] == [(A.shape[0],)] and type(s.args["eye"][0][0]) is int
    for name in ("solve", "lstsq", "lu_solve"):
        for first, rhs in s.args.get(name, []):
            assert first is (s.returns["lu_factor"] if name == "lu_solve" else A)
            assert rhs is (b if with_b else s.returns["eye"])
    assert isinstance(result, np.ndarray)


@pytest.mark.parametrize("record, A, expected", [
    ((0, np.ones((2, 1)), 3, 1), S2, TEST + PINV),  # n <= 0: all defaults
    ((-1, np.ones((2, 1)), 3, 1), S2, TEST + PINV),
    ((1, None, 2, 1), S2, TEST + PINV),  # method and force unread
    ((1, _UNSET, 4, 1), A2, TEST + SOLVE + EYE + ["solve()"]),  # a null b is None
    ((2, None, 2, 1), S2, TEST + PINV),  # force unread
    ((3, None, 2, 1), S2, TEST + LU + EYE + ["lu_solve()"]),
    ((9, None, 2, 5), S2, TEST + LU + EYE + ["lu_solve()"]),
])
def test_record_fields_beyond_the_count_are_not_read(standins, record, A, expected):
    s = standins()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        inv(A, *record)
    assert s.log == expected


def test_globals_are_looked_up_at_every_call(standins, monkeypatch):
    first = standins()
    inv(A2, 2, None, 3)
    second = standins()
    inv(A2, 2, None, 3)
    assert first.log == second.log == PINV
    # Without a module binding the builtin of that name is used.
    monkeypatch.delattr(quillemora, "sp")
    monkeypatch.setattr(builtins, "sp", second.sp, raising=False)
    inv(A2, 2, None, 3)
    assert second.log == PINV + PINV
    monkeypatch.delattr(builtins, "sp")
    with pytest.raises(NameError, match="^name 'sp' is not defined$"):
        inv(A2, 2, None, 3)


def _cmp(result):
    return type("Cmp", (), {"__gt__": lambda self, other: result})()


class Falsy:
    def __bool__(self):
        raise RuntimeError("no truth")


@pytest.mark.parametrize("condition, eps, routine", [
    (2.0**52, None, "solve()"),  # equal to the threshold: not singular
    (2.0**52 + 1, None, "pinv()"),
    (np.inf, None, "pinv()"),
    (np.nan, None, "solve()"),
    (5.0, 0.25, "pinv()"),  # the threshold is 1 / eps
    (4.0, 0.25, "solve()"),
    (_cmp(None), None, "solve()"),
    (_cmp("yes"), None, "pinv()"),
])
def test_singularity_threshold(standins, unraisable, condition, eps, routine):
    over = {"cond": lambda A: condition}
    if eps is not None:
        over["finfo"] = lambda dtype: types.SimpleNamespace(eps=eps)
    s = standins(**over)
    with unraisable() as seen:
        inv(A2)
    assert s.log[-1] == routine and not seen


@pytest.mark.parametrize("override, error", [
    ({"cond": lambda A: _raise(np.linalg.LinAlgError("cond failed"))}, "cond failed"),
    ({"cond": lambda A: _cmp(Falsy())}, "no truth"),
    ({"finfo": lambda dtype: object()}, "'object' object has no attribute 'eps'"),
    ({"cond": lambda A: None}, "not supported between instances of"),
])
def test_failing_singularity_test_is_reported_and_lets_the_direct_method_run(
        standins, unraisable, capsys, override, error):
    s = standins(**override)
    with unraisable() as seen:
        result = inv(A2, 1, np.ones((2, 1)))
    assert s.log[-1] == "solve()"
    np.testing.assert_allclose(result, np.linalg.solve(A2, np.ones((2, 1))))
    [(context, _, message, _)] = seen
    assert context == "zalmor.ops.quillemora.is_singular" and error in message
    assert error in capsys.readouterr().err  # printed with its traceback first


def test_missing_np_fails_the_test_and_then_the_identity(standins, unraisable, monkeypatch):
    standins()
    monkeypatch.delattr(quillemora, "np")
    with unraisable() as seen:
        np.testing.assert_allclose(inv(A2, 1, np.eye(2)), np.linalg.inv(A2))
        with pytest.raises(NameError, match="^name 'np' is not defined$") as got:
            inv(A2)
    assert _inv_entries(got.value)
    assert [message for _, _, message, _ in seen] == ["name 'np' is not defined"] * 2


# ---- failures -----------------------------------------------------------------

@pytest.mark.parametrize("method, b, override, error, message", [
    (1, None, {"solve": lambda A, rhs: [1.0]}, TypeError, "Cannot convert list to numpy.ndarray"),
    (0, None, {"inv": lambda A: 1.5}, TypeError, "Cannot convert float to numpy.ndarray"),
    (0, np.eye(2), {"dot": lambda b: "x"}, TypeError, "Cannot convert str to numpy.ndarray"),
    (4, None, {"lstsq": lambda A, rhs: ({},)}, TypeError, "Cannot convert dict to numpy.ndarray"),
    (4, None, {"lstsq": lambda A, rhs: 5}, TypeError, "'int' object is not subscriptable"),
    (4, None, {"lstsq": lambda A, rhs: ()}, IndexError, "tuple index out of range"),
    (3, np.eye(2), {"pinv": lambda A: None}, AttributeError, "'NoneType' object has no attribute 'dot'"),
    (2, None, {"lu_factor": lambda A: _raise(BOOM)}, RuntimeError, "boom"),
    (1, None, {"eye": MISSING}, AttributeError, "eye"),
])
def test_failures_of_the_routines_and_the_result_check(standins, method, b, override, error, message):
    standins(**override)
    with pytest.raises(error) as got:
        inv(A2, 2, b, method)
    assert str(got.value) == message and _inv_entries(got.value)
    if error is RuntimeError:  # the very exception, unchanged
        assert got.value is BOOM


def test_results_none_subclass_and_unchecked_intermediates(standins):
    sub, factors, identity = np.eye(2).view(Sub), object(), object()
    standins(solve=lambda A, rhs: sub)
    assert inv(A2) is sub
    standins(pinv=lambda A: None)
    assert inv(A2, 2, None, 3) is None
    s = standins(lu_factor=lambda A: factors, eye=lambda m: identity, lu_solve=lambda lu, rhs: None)
    assert inv(A2, 2, None, 2) is None
    assert s.args["lu_solve"] == [(factors, identity)]


def test_the_buffer_is_released_on_every_exit(monkeypatch, unraisable):
    # A held buffer keeps a reference to the array.
    A = A2.copy()
    before = sys.getrefcount(A)
    outcomes = [type(inv(A, 2, np.eye(2), method)) for method in range(5)]
    failing = types.SimpleNamespace(linalg=types.SimpleNamespace(
        solve=lambda *args: 1 / 0, pinv=lambda *args: [], lstsq=lambda *args: ()))
    with unraisable() as seen:
        for sp, np_, method in [(scipy, np, 9), (types.SimpleNamespace(), np, 1), (failing, np, 1),
                                (failing, np, 3), (failing, np, 4), (scipy, None, 1)]:
            monkeypatch.setattr(quillemora, "sp", sp)
            monkeypatch.setattr(quillemora, "np", np_)
            try:
                inv(A, 2, None, method)
            except Exception as error:  # noqa: BLE001
                outcomes.append(type(error))
    assert outcomes == [np.ndarray] * 5 + [NotImplementedError, AttributeError, ZeroDivisionError,
                                           TypeError, IndexError, AttributeError]
    # The singularity test's report keeps its error, whose traceback holds the
    # caller's frame, as the last error and in the hook's list.
    assert len(seen) == 1
    seen.clear()
    sys.last_type = sys.last_value = sys.last_traceback = None
    sys.last_exc = None  # 3.12 and later keep it here too
    assert sys.getrefcount(A) == before


def test_missing_linalg_passes_through(monkeypatch):
    monkeypatch.setattr(quillemora, "sp", types.SimpleNamespace())
    with pytest.raises(AttributeError, match="linalg"):
        inv(A2, 2, None, 3)


@pytest.mark.parametrize("method", [-2**31, -1, 5, 7])
def test_unknown_method(standins, method):
    s = standins()
    with pytest.raises(NotImplementedError) as got:
        inv(A2, 2, None, method)
    assert got.type is NotImplementedError
    assert str(got.value) == f"No implementation for method={method}." and _inv_entries(got.value)
    assert s.log == []


@pytest.mark.parametrize("A, message", [
    (np.zeros(3), "Buffer has wrong number of dimensions (expected 2, got 1)"),
    (np.zeros((2, 2, 2)), "Buffer has wrong number of dimensions (expected 2, got 3)"),
    (np.zeros((2, 2), np.float32), "Buffer dtype mismatch, expected 'float64_t' but got 'float'"),
    (np.zeros((2, 2), np.int64), "Buffer dtype mismatch, expected 'float64_t' but got 'long'"),
    (np.zeros((2, 2), np.complex128),
     "Buffer dtype mismatch, expected 'float64_t' but got 'complex double'"),
    (np.zeros((2, 2), ">f8"), "Big-endian buffer not supported on little-endian compiler"),
])
@pytest.mark.parametrize("method", [1, 5])
def test_buffer_checks_come_before_everything_else(standins, A, message, method):
    s = standins()
    with pytest.raises(ValueError) as got:
        inv(A, 2, None, method)
    assert str(got.value) == message and _inv_entries(got.value)
    assert s.log == []


@pytest.mark.parametrize("A, name", [
    (None, "NoneType"), ([[1.0]], "list"), (memoryview(np.eye(2)), "memoryview"),
    (np.float64(1.0), "numpy.float64"), (_UNSET, "NULL"),
])
def test_anything_but_an_ndarray_is_refused_first(standins, A, name):
    s = standins()
    with pytest.raises(TypeError) as got:
        _INV_RAW(None, None) if A is _UNSET else inv(A, 2, None, 5)
    assert str(got.value) == f"Argument 'A' has incorrect type (expected numpy.ndarray, got {name})"
    assert _inv_entries(got.value) and s.log == []
    assert inv(np.eye(2).view(Sub), 2, None, 3).shape == (2, 2)  # subclasses are arrays
