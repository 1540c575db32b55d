"""The public header, used the way the package's other native modules use it."""

import numpy as np
import pytest

import zalmor
import zalmor.ops.brenthosca as brenthosca

from consumer_build import build, ROOT


@pytest.fixture(scope="module", params=["c", "cpp"])
def consumer(request, tmp_path_factory):
    return build(request.param, tmp_path_factory.mktemp(f"consumer-{request.param}"))


def test_header_is_shipped_with_the_package():
    installed = (ROOT / "include" / "zalmor" / "capi.h").read_text()
    with open(f"{zalmor.get_include()}/zalmor/capi.h") as f:
        assert f.read() == installed


def test_binding_checks_name_and_signature(consumer):
    import ctypes

    capsule = brenthosca.__pyx_capi__["__pyx_fuse_1prod"]
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype, get.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]
    expected = get(capsule, b"unsigned int (__Pyx_memviewslice)")
    assert consumer.bind("zalmor.ops.brenthosca", "__pyx_fuse_1prod",
                         "unsigned int (__Pyx_memviewslice)") == expected

    with pytest.raises(TypeError) as err:
        consumer.bind("zalmor.ops.brenthosca", "__pyx_fuse_1prod", "int (__Pyx_memviewslice)")
    assert str(err.value) == (
        "C function zalmor.ops.brenthosca.__pyx_fuse_1prod has wrong signature "
        "(expected int (__Pyx_memviewslice), got unsigned int (__Pyx_memviewslice))")
    with pytest.raises(ImportError) as err:
        consumer.bind("zalmor.ops.brenthosca", "prod", "int (__Pyx_memviewslice)")
    assert str(err.value) == "zalmor.ops.brenthosca does not export expected C function prod"
    with pytest.raises(ModuleNotFoundError):
        consumer.bind("zalmor.ops.no_such_module", "prod", "int (__Pyx_memviewslice)")


def test_rows_called_through_the_header(consumer):
    values = np.array([3, 5, 7, 65536, 65536, 9], dtype=np.uint32)
    assert consumer.prod_u32(values[:3]) == 105
    assert consumer.prod_u32(values[::2]) == (3 * 7 * 65536) % 2**32
    assert consumer.prod_u32(values[3:5]) == 0  # 2**32 wraps to 0
    assert consumer.prod_u32(values[:0]) == 1
    z = np.array([1j, 1j, 2 + 0j], dtype=np.complex128)
    assert consumer.prod_c128(z) == -2 + 0j
    assert consumer.prod_c128(z[::-1]) == -2 + 0j
    assert consumer.isclose(1.0, 1.0 + 1e-9, 0, 0.0, 0.0)
    assert not consumer.isclose(1.0, 1.1, 2, 0.0, 0.05)
    A = np.array([[2.0, 1.0], [1.0, 3.0]])
    np.testing.assert_allclose(consumer.inv(A, None), np.linalg.inv(A))
    np.testing.assert_allclose(consumer.inv(A, (3, A, 4, 0)), np.eye(2), atol=1e-12)
    np.testing.assert_allclose(consumer.inv(A, (1, None, 99, 1)), np.linalg.inv(A))


def test_returned_views_are_released_by_the_caller(consumer):
    values = np.array([4.0, 9.0, 16.0])
    assert consumer.sqrt_sum(values) == 9.0
    assert consumer.sqrt_sum(values[::-2]) == 6.0
    with pytest.raises(ValueError, match=r"^Invalid shape in axis 0: 0\.$"):
        consumer.sqrt_sum(values[:0])


def test_product_and_inv_take_the_lock_for_a_caller_without_it(consumer, run_py):
    # Without the lock taken for it, each of these calls crashed the interpreter.
    result = run_py("""
        import numpy as np
        spec = importlib.util.spec_from_file_location(%r, %r)
        c = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(c)
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
    """ % (consumer.__name__, consumer.__file__))
    assert result == [[0, 0, 0, 1, 0, 2, 1, 0, 1, 1, 1, 2], True, "ValueError", "TypeError"]
