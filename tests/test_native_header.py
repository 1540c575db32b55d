"""The public header, used the way the package's other native modules use it."""

import numpy as np
import pytest

import zalmor
import zalmor.ops.brenthosca as brenthosca
from conftest import ROOT, row_address


@pytest.fixture(scope="module", params=["c", "cpp"])
def header_user(request, native_caller):
    """tests/consumer/consumer.c, compiled as C and as C++."""
    return native_caller("tests/consumer/consumer.c", f"_zalmor_consumer_{request.param}", request.param)


def test_header_is_shipped_with_the_package():
    installed = (ROOT / "include" / "zalmor" / "capi.h").read_text()
    with open(f"{zalmor.get_include()}/zalmor/capi.h") as f:
        assert f.read() == installed


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
