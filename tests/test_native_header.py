"""The public header, used the way the package's other native modules use it."""

import ast
import math
import pathlib
import re
import sysconfig

import numpy as np
import pytest

import zalmor
import zalmor.ops.brenthosca as brenthosca
import zalmor.ops.quillemora as quillemora
import zalmor.utils.pondistra as pondistra
from conftest import ROOT, row_address
from test_inverse import A2, StandIns
from zalmor import _config


@pytest.fixture(scope="module", params=["c", "cpp"])
def header_user(request, native_caller):
    """tests/consumer/consumer.c, compiled as C and as C++."""
    return native_caller("tests/consumer/consumer.c", f"_zalmor_consumer_{request.param}", request.param)


def test_kit_is_shipped_with_the_package_and_found_by_zalmor_config(capsys):
    with open(f"{zalmor.get_include()}/zalmor/capi.h") as f:
        assert f.read() == (ROOT / "include" / "zalmor" / "capi.h").read_text()
    _config.main(["--cflags", "--pkgconfigdir", "--cmakedir", "--version"])
    cflags, pc, cmake, version = capsys.readouterr().out.splitlines()
    assert cflags.split() == [f"-I{zalmor.get_include()}", f"-I{sysconfig.get_paths()['include']}"]
    assert version == zalmor.__version__
    assert f"Version: {version}\n" in (pathlib.Path(pc) / "zalmor.pc").read_text()
    assert f'set(PACKAGE_VERSION "{version}")' in (pathlib.Path(cmake) / "zalmor-config-version.cmake").read_text()
    assert (pathlib.Path(cmake) / "zalmor-config.cmake").is_file()
    assert (pathlib.Path(zalmor.__file__).parent / "py.typed").is_file()  # the stubs: stubtest in make example
    with pytest.raises(SystemExit):
        _config.main([])


def test_versions_and_binding_every_row(header_user, monkeypatch):
    c = header_user.constants()
    assert ".".join(map(str, c["version"])) == zalmor.__version__
    assert c["hex"] == int("{:02x}{:02x}{:02x}00".format(*c["version"]), 16)
    assert c["capi"] == zalmor.capi_version
    for module in (brenthosca, pondistra, quillemora):
        bound = header_user.bind_all(module.__name__.rsplit(".", 1)[1])
        assert list(bound.items()) == [(name, row_address(module, name)) for name in module.__pyx_capi__]
    monkeypatch.setattr(zalmor, "capi_version", zalmor.capi_version - 1)
    with pytest.raises(ImportError, match=f"^the installed zalmor has C API version {c['capi'] - 1}, older "
                                          f"than version {c['capi']} of the zalmor/capi.h "):
        header_user.bind_all("pondistra")


def test_view_from_buffer(header_user, consumer):
    x = np.arange(10.0)[::-3]
    assert header_user.view_from(x) == (x.ctypes.data, 4, -24, -1, True)
    data = bytes(16)
    for shape, suboffsets, message in [([2, 1], None, "expected a one-dimensional buffer, got 2 dimensions"),
                                       ([], None, "expected a one-dimensional buffer, got 0 dimensions"),
                                       ([2], [0], r"expected a direct buffer, got an indirect one \(suboffsets\)")]:
        exporter = consumer.FormatBuffer(data, "d", 8, shape, [8] * len(shape), suboffsets)
        with pytest.raises(ValueError, match=f"^{message}$"):
            header_user.view_from(exporter)
        assert exporter.exports == 0


def test_inv_methods_by_their_constants(header_user, monkeypatch):
    standins = StandIns(monkeypatch)
    for name, routine in [("INV", "inv()"), ("SOLVE", "solve()"), ("LU", "lu_solve()"), ("PINV", "pinv()"),
                          ("LSTSQ", "lstsq()")]:
        header_user.inv_method(A2, name)
        assert standins.log[-1] == routine


DTYPES = {"double": np.float64, "zalmor_complex": np.complex128, "float": np.float32,
          **{f"{t}_t": getattr(np, t) for t in ("int32", "uint32", "int64", "uint64")}}


def test_rows_fail_and_write_as_their_list_says(kernels, unraisable):
    """Every brenthosca row of the header's list, on an empty vector (the norms
    in an infinite order), fails as its failure column says: an exception with
    a null view, or a report and the named default, or not at all; and only
    the rows that say so write their argument."""
    rows = [row for row in kernels.rows() if row[0] == "zalmor.ops.brenthosca"]
    assert len(rows) == len(brenthosca.__pyx_capi__)
    for _, name, element, views, writes, failure in rows:
        opt = (1, math.inf) if name in ("norm", "cnorm") else None

        def args(n):
            xs = (np.arange(n, 0, -1) % 3).astype(DTYPES[element])
            return (xs, np.arange(n, dtype=np.uint64) if name == "permute" else xs.copy())[:views]

        given = args(3)
        before = given[0].copy()
        kernels.call(name, given, opt)
        assert (not np.array_equal(given[0], before)) == (writes == 1), name
        if failure == "ZALMOR_FAILS_NULL_VIEW":
            with pytest.raises(ValueError, match=r"^Invalid shape in axis 0: 0\.$"):
                kernels.call(name, args(0), opt)
            continue
        with unraisable() as seen:
            result, pending = kernels.call(name, args(0), opt)
        assert pending is None
        if failure == "ZALMOR_CANNOT_FAIL":
            assert seen == [], name
        else:
            default = re.fullmatch(r"ZALMOR_UNRAISABLE\((.*)\)", failure)[1]
            assert len(seen) == 1 and result == ast.literal_eval(default.replace("{", "(").replace("}", ")")), name


def test_binding_checks_name_and_signature(header_user):
    expected = row_address(brenthosca, "__pyx_fuse_1prod")
    assert header_user.bind("zalmor.ops.brenthosca", "__pyx_fuse_1prod",
                            "unsigned int (__Pyx_memviewslice)") == expected

    with pytest.raises(TypeError) as err:
        header_user.bind("zalmor.ops.brenthosca", "__pyx_fuse_1prod", "int (__Pyx_memviewslice)")
    assert str(err.value) == (
        "C function zalmor.ops.brenthosca.__pyx_fuse_1prod has wrong signature "
        "(expected int (__Pyx_memviewslice), got unsigned int (__Pyx_memviewslice))")
    with pytest.raises(ImportError) as err:
        header_user.bind("zalmor.ops.brenthosca", "prod", "int (__Pyx_memviewslice)")
    assert str(err.value) == "zalmor.ops.brenthosca does not export expected C function prod"
    with pytest.raises(ModuleNotFoundError):
        header_user.bind("zalmor.ops.no_such_module", "prod", "int (__Pyx_memviewslice)")


def test_rows_called_through_the_header(header_user):
    values = np.array([3, 5, 7, 65536, 65536, 9], dtype=np.uint32)
    assert header_user.prod_u32(values[:3]) == 105
    assert header_user.prod_u32(values[::2]) == (3 * 7 * 65536) % 2**32
    assert header_user.prod_u32(values[3:5]) == 0  # 2**32 wraps to 0
    assert header_user.prod_u32(values[:0]) == 1
    z = np.array([1j, 1j, 2 + 0j], dtype=np.complex128)
    assert header_user.prod_c128(z) == -2 + 0j
    assert header_user.prod_c128(z[::-1]) == -2 + 0j
    assert header_user.isclose(1.0, 1.0 + 1e-9, 0, 0.0, 0.0)
    assert not header_user.isclose(1.0, 1.1, 2, 0.0, 0.05)
    A = np.array([[2.0, 1.0], [1.0, 3.0]])
    np.testing.assert_allclose(header_user.inv(A, None), np.linalg.inv(A))
    np.testing.assert_allclose(header_user.inv(A, (3, A, 4, 0)), np.eye(2), atol=1e-12)
    np.testing.assert_allclose(header_user.inv(A, (1, None, 99, 1)), np.linalg.inv(A))


def test_returned_views_are_released_by_the_caller(header_user):
    values = np.array([4.0, 9.0, 16.0])
    assert header_user.sqrt_sum(values) == 9.0
    assert header_user.sqrt_sum(values[::-2]) == 6.0
    with pytest.raises(ValueError, match=r"^Invalid shape in axis 0: 0\.$"):
        header_user.sqrt_sum(values[:0])


def test_product_and_inv_take_the_lock_for_a_caller_without_it(header_user, run_py):
    # Without the lock taken for it, each of these calls crashed the interpreter.
    result = run_py("""
        import numpy as np
        c = load_extension(%r, %r)
        held = c.product_unlocked(np.array([2, 3], dtype=np.uint32))
        out = [np.frombuffer(c.view_bytes(held), np.uint32).tolist()]
        A = np.array([[2.0, 1.0], [1.0, 3.0]])
        out.append(np.allclose(c.inv(A, None, True), np.linalg.inv(A)))
        for call in (lambda: c.product_unlocked(np.array([2**16, 2**16 + 1], dtype=np.uint32)),
                     lambda: c.inv([[1.0]], None, True)):
            try:
                call()
            except (TypeError, ValueError) as exc:
                out.append(type(exc).__name__)
        emit(out)
    """ % (header_user.__name__, header_user.__file__))
    assert result == [[0, 0, 0, 1, 0, 2, 1, 0, 1, 1, 1, 2], True, "ValueError", "TypeError"]
