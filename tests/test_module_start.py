"""Start-up of the extension modules: guards, native function tables, sibling
binding, NumPy type checks, the is-main flag and the exported symbols.

Whatever depends on process state (first import, failed imports, fake siblings,
a fake NumPy) runs in a fresh interpreter through the `run_py` fixture."""

import importlib
import importlib.util
import re
import shutil
import subprocess
import textwrap

import numpy as np
import pytest

from conftest import capsule_context, capsule_destructor, capsule_name, run_python

BRENTHOSCA = "zalmor.ops.brenthosca"
PONDISTRA = "zalmor.utils.pondistra"
QUILLEMORA = "zalmor.ops.quillemora"
HEMVARINTO = "zalmor.ops.hemvarinto"
MODULES = (BRENTHOSCA, PONDISTRA, QUILLEMORA)

ISCLOSE_SIG = "int (double, double, struct __pyx_opt_args_6zalmor_3ops_10hemvarinto_isclose *__pyx_optional_args)"
CISCLOSE_SIG = "int (__pyx_t_double_complex, __pyx_t_double_complex, struct __pyx_opt_args_6zalmor_3ops_10hemvarinto_cisclose *__pyx_optional_args)"

# The full table of brenthosca, in registration order.
BRENTHOSCA_TABLE = [
    ("cequal", "int (__Pyx_memviewslice, __Pyx_memviewslice)"),
    ("allclose", "int (__Pyx_memviewslice, __Pyx_memviewslice, struct __pyx_opt_args_6zalmor_3ops_10brenthosca_allclose *__pyx_optional_args)"),
    ("callclose", "int (__Pyx_memviewslice, __Pyx_memviewslice, struct __pyx_opt_args_6zalmor_3ops_10brenthosca_callclose *__pyx_optional_args)"),
    ("anyclose", "int (__Pyx_memviewslice, __Pyx_memviewslice, struct __pyx_opt_args_6zalmor_3ops_10brenthosca_anyclose *__pyx_optional_args)"),
    ("canyclose", "int (__Pyx_memviewslice, __Pyx_memviewslice, struct __pyx_opt_args_6zalmor_3ops_10brenthosca_canyclose *__pyx_optional_args)"),
    ("sign", "__Pyx_memviewslice (__Pyx_memviewslice)"),
    ("csign", "__Pyx_memviewslice (__Pyx_memviewslice)"),
    ("fabs", "__Pyx_memviewslice (__Pyx_memviewslice)"),
    ("cabs", "__Pyx_memviewslice (__Pyx_memviewslice)"),
    ("width", "double (__Pyx_memviewslice)"),
    ("cwidth", "double (__Pyx_memviewslice)"),
    ("sqrt", "__Pyx_memviewslice (__Pyx_memviewslice)"),
    ("csqrt", "__Pyx_memviewslice (__Pyx_memviewslice)"),
    ("norm", "double (__Pyx_memviewslice, struct __pyx_opt_args_6zalmor_3ops_10brenthosca_norm *__pyx_optional_args)"),
    ("cnorm", "double (__Pyx_memviewslice, struct __pyx_opt_args_6zalmor_3ops_10brenthosca_cnorm *__pyx_optional_args)"),
    ("permute", "__Pyx_memviewslice (__Pyx_memviewslice, __Pyx_memviewslice)"),
    ("cprod", "__pyx_t_double_complex (__Pyx_memviewslice)"),
    ("mean", "double (__Pyx_memviewslice)"),
    ("min", "double (__Pyx_memviewslice)"),
    ("max", "double (__Pyx_memviewslice)"),
    ("argmin", "unsigned long (__Pyx_memviewslice)"),
    ("argmax", "unsigned long (__Pyx_memviewslice)"),
    ("argminmax", "__pyx_ctuple_unsigned__space_long__and_unsigned__space_long (__Pyx_memviewslice)"),
    ("sort", "void (__Pyx_memviewslice)"),
    ("argsort", "__Pyx_memviewslice (__Pyx_memviewslice, struct __pyx_opt_args_6zalmor_3ops_10brenthosca_argsort *__pyx_optional_args)"),
    ("__pyx_fuse_0equal", "int (__Pyx_memviewslice, __Pyx_memviewslice)"),
    ("__pyx_fuse_1equal", "int (__Pyx_memviewslice, __Pyx_memviewslice)"),
    ("__pyx_fuse_2equal", "int (__Pyx_memviewslice, __Pyx_memviewslice)"),
    ("__pyx_fuse_3equal", "int (__Pyx_memviewslice, __Pyx_memviewslice)"),
    ("__pyx_fuse_4equal", "int (__Pyx_memviewslice, __Pyx_memviewslice)"),
    ("__pyx_fuse_5equal", "int (__Pyx_memviewslice, __Pyx_memviewslice)"),
    ("__pyx_fuse_0sum", "int (__Pyx_memviewslice)"),
    ("__pyx_fuse_1sum", "unsigned int (__Pyx_memviewslice)"),
    ("__pyx_fuse_2sum", "long (__Pyx_memviewslice)"),
    ("__pyx_fuse_3sum", "unsigned long (__Pyx_memviewslice)"),
    ("__pyx_fuse_4sum", "float (__Pyx_memviewslice)"),
    ("__pyx_fuse_5sum", "double (__Pyx_memviewslice)"),
    ("__pyx_fuse_6sum", "__pyx_t_double_complex (__Pyx_memviewslice)"),
    ("__pyx_fuse_0prod", "int (__Pyx_memviewslice)"),
    ("__pyx_fuse_1prod", "unsigned int (__Pyx_memviewslice)"),
    ("__pyx_fuse_2prod", "long (__Pyx_memviewslice)"),
    ("__pyx_fuse_3prod", "unsigned long (__Pyx_memviewslice)"),
    ("__pyx_fuse_4prod", "float (__Pyx_memviewslice)"),
    ("__pyx_fuse_5prod", "double (__Pyx_memviewslice)"),
    ("__pyx_fuse_6prod", "__pyx_t_double_complex (__Pyx_memviewslice)"),
]
PROD_ROWS = BRENTHOSCA_TABLE[38:]
TABLES = {
    BRENTHOSCA: BRENTHOSCA_TABLE,
    PONDISTRA: [("product", "__Pyx_memviewslice (__Pyx_memviewslice, int __pyx_skip_dispatch)")],
    QUILLEMORA: [("inv", "PyArrayObject *(PyArrayObject *, struct __pyx_opt_args_6zalmor_3ops_10quillemora_inv *__pyx_optional_args)")],
    HEMVARINTO: [("isclose", ISCLOSE_SIG), ("cisclose", CISCLOSE_SIG)],
}
# Rows that every build publishes already.
REQUIRED_ROWS = {BRENTHOSCA: [name for name, _ in PROD_ROWS], PONDISTRA: [], QUILLEMORA: ["inv"],
                 HEMVARINTO: ["isclose", "cisclose"]}

IS_MAIN = {
    BRENTHOSCA: "__pyx_module_is_main_zalmor__ops__brenthosca",
    PONDISTRA: "__pyx_module_is_main_zalmor__utils__pondistra",
    QUILLEMORA: "__pyx_module_is_main_zalmor__ops__quillemora",
}


def short(name):
    return name.rsplit(".", 1)[1]


def assert_init_entry(fail, module):
    """The failure carries the traceback entry of the module's start-up, placed
    at a line of the C++ source that failed."""
    entries = [f for f in fail["frames"] if f[0] == f"init {module}"]
    assert len(entries) == 1, fail["frames"]
    _, filename, line = entries[0]
    assert filename.endswith(".cpp") and line >= 1, entries[0]


# ---- native function tables -------------------------------------------------

@pytest.mark.parametrize("name", MODULES + (HEMVARINTO,))
def test_table_rows_carry_exact_signatures_in_table_order(name):
    module = importlib.import_module(name)
    table = module.__pyx_capi__
    assert type(table) is dict
    expected = dict(TABLES[name])
    order = [row for row, _ in TABLES[name]]
    keys = list(table)
    assert set(keys) <= set(order), "rows outside the table"
    assert [order.index(k) for k in keys] == sorted(order.index(k) for k in keys)
    for key in REQUIRED_ROWS[name]:
        assert key in table
    for key, cap in table.items():
        assert type(cap).__name__ == "PyCapsule"
        assert capsule_name(cap) == expected[key]
        assert capsule_context(cap) is None
        assert capsule_destructor(cap) is None
    for family in ("equal", "sum", "prod"):
        assert family not in table


def test_reimport_returns_the_same_module_and_table(run_py):
    result = run_py("""
        import builtins
        out = {}
        for name in %r:
            first = importlib.import_module(name)
            before = table(first)
            again = importlib.import_module(name)
            del sys.modules[name]
            fresh = importlib.import_module(name)
            out[name] = {
                "same": first is again is fresh is sys.modules[name],
                "same_dict": first.__pyx_capi__ is fresh.__pyx_capi__,
                "before": before, "after": table(fresh),
            }
        emit(out)
    """ % (MODULES + (HEMVARINTO,),))
    for name, entry in result.items():
        assert entry["same"] and entry["same_dict"], name
        assert entry["before"] == entry["after"], name
        assert all(address for _, _, address in entry["after"]), name


def test_module_namespaces(run_py):
    result = run_py("""
        import builtins, numpy, scipy
        b = importlib.import_module(%r)
        p = importlib.import_module(%r)
        q = importlib.import_module(%r)
        out = {}
        for m in (b, p, q):
            spec = importlib.util.find_spec(m.__name__)
            out[m.__name__] = {
                "builtins": m.__builtins__ is builtins,
                "test": [type(m.__test__).__name__, len(m.__test__)],
                "file": m.__file__ == spec.origin,
                "package": m.__package__,
                "path": hasattr(m, "__path__"),
                "doc": m.__doc__,
                "unpickle_enum": callable(getattr(m, "__pyx_unpickle_Enum", None)),
                "is_main_flag": ctypes.c_int.in_dll(ctypes.CDLL(spec.origin), %r[m.__name__]).value,
            }
        out["distinct_test_dicts"] = b.__test__ is not p.__test__ and p.__test__ is not q.__test__
        out["pondistra"] = [p.np is numpy, type(p.__all__).__name__, p.__all__]
        out["quillemora"] = [q.np is numpy, q.sp is scipy]
        emit(out)
    """ % (BRENTHOSCA, PONDISTRA, QUILLEMORA, IS_MAIN))
    for name in MODULES:
        assert result[name] == {
            "builtins": True, "test": ["dict", 0], "file": True,
            "package": name.rsplit(".", 1)[0], "path": False, "doc": None, "is_main_flag": 0,
            "unpickle_enum": name != QUILLEMORA,  # only modules with the view machinery
        }, name
    assert result["distinct_test_dicts"]
    assert result["pondistra"] == [True, "list", ["product"]]
    assert result["quillemora"] == [True, True]


def test_internal_types_refuse_calls_from_python(run_py):
    # An array made from Python would export a buffer over no memory.
    result = run_py("""
        import gc, numpy as np
        from zalmor.utils.pondistra import product
        t = product(np.array([2], dtype=np.uint32))
        kinds = {type(t.base), type(t), type(t).__base__}
        kinds |= {type(o) for o in gc.get_objects() if type(o).__name__ == "Enum"}
        made = []
        for T in kinds:
            for make in (lambda: T(), lambda: T(shape=(1,), itemsize=8, format="d", allocate_buffer=False),
                         lambda: T.__new__(T), lambda: object.__new__(T)):
                try:
                    made.append((T.__name__, bytes(memoryview(make()))))
                except TypeError:
                    pass
        emit([sorted(f"{T.__module__}.{T.__name__}" for T in kinds), made])
    """)
    assert result == [sorted([f"{PONDISTRA}.array", f"{PONDISTRA}.memoryview", f"{PONDISTRA}._memoryviewslice",
                              f"{BRENTHOSCA}.Enum", f"{PONDISTRA}.Enum"]), []]


def test_layout_constants_survive_a_pickle_round_trip():
    import gc
    import pickle
    import sys

    import zalmor.utils.pondistra  # noqa: F401  (both modules' constants)
    constants = [o for o in gc.get_objects() if type(o).__name__ == "Enum"
                 and type(o).__module__ in (BRENTHOSCA, PONDISTRA)]
    assert sorted(map(repr, constants)) == sorted(2 * [
        "<strided and direct or indirect>", "<strided and direct>", "<strided and indirect>",
        "<contiguous and direct>", "<contiguous and indirect>"])
    for c in constants:
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
            back = pickle.loads(pickle.dumps(c, protocol))
            assert type(back) is type(c) and back.name == c.name
    unpickle = sys.modules[BRENTHOSCA].__pyx_unpickle_Enum
    with pytest.raises(pickle.PickleError, match="^Incompatible checksums"):
        unpickle(type(constants[0]), 1, ("x",))
    with pytest.raises(TypeError):
        unpickle(f"{PONDISTRA}.Enum", 0x5E237E06, ("x",))  # another module's type


# ---- guards ------------------------------------------------------------------

def test_sub_interpreter_import_is_refused(run_py):
    result = run_py("""
        try:
            import _xxsubinterpreters as subinterpreters
        except ImportError:
            emit({"skip": "no sub-interpreter API"})
            raise SystemExit
        names = %r
        main = {name: importlib.import_module(name) for name in names}
        read, write = os.pipe()
        for name in names:
            interp = subinterpreters.create()
            subinterpreters.run_string(interp, "\\n".join([
                "import os",
                "try:",
                f"    import {name}",
                "    outcome = 'imported'",
                "except BaseException as exc:",
                "    outcome = type(exc).__name__ + ': ' + str(exc)",
                f"os.write({write}, (outcome + '\\\\n').encode())",
            ]))
            subinterpreters.destroy(interp)
        os.close(write)
        with os.fdopen(read) as pipe:
            outcomes = pipe.read().splitlines()
        for name in names:
            del sys.modules[name]
        still = all(importlib.import_module(name) is main[name] for name in names)
        emit({"outcomes": outcomes, "main_unaffected": still})
    """ % (MODULES + (HEMVARINTO,),))
    if "skip" in result:
        pytest.skip(result["skip"])
    message = ("ImportError: Interpreter change detected - this module can only be loaded "
               "into one interpreter per process.")
    assert result["outcomes"] == [message] * 4
    assert result["main_unaffected"]


@pytest.mark.parametrize("name", MODULES)
def test_exec_on_a_second_module_object_is_refused(name, run_py):
    result = run_py("""
        name = %r
        spec = importlib.util.find_spec(name)
        first = spec.loader.create_module(spec)
        second = spec.loader.create_module(spec)
        created = {
            "distinct": first is not second,
            "attrs": [first.__name__, first.__file__ == spec.origin,
                      first.__loader__ is spec.loader, first.__package__,
                      "__path__" in vars(first)],
        }
        spec.loader.exec_module(first)
        registered = sys.modules.get(name) is first
        test_dict = first.__test__
        spec.loader.exec_module(first)  # the same object again: nothing to do
        untouched = first.__test__ is test_dict
        try:
            spec.loader.exec_module(second)
            refused = None
        except BaseException as exc:
            refused = [type(exc).__name__, str(exc)]
        emit({
            "created": created, "registered": registered, "untouched": untouched,
            "refused": refused,
            "create_again": spec.loader.create_module(spec) is first,
            "import": importlib.import_module(name) is first,
        })
    """ % name)
    assert result["created"] == {
        "distinct": True,
        "attrs": [name, True, True, name.rsplit(".", 1)[0], False],
    }
    assert result["registered"] and result["untouched"]
    assert result["refused"] == [
        "RuntimeError",
        f"Module '{short(name)}' has already been imported. Re-initialisation is not supported.",
    ]
    assert result["create_again"] and result["import"]


def test_create_copies_the_spec_attributes_it_finds(run_py):
    result = run_py("""
        name = %r
        spec = importlib.util.find_spec(name)
        create = spec.loader.create_module

        class Bare:  # only what the loader itself needs
            def __init__(self, **extra):
                self.name, self.origin = name, spec.origin
                vars(self).update(extra)

        class Failing(Bare):
            @property
            def parent(self):
                raise ValueError("no parent today")

        def attrs(module):
            return {k: v if isinstance(v, (str, list, type(None))) else type(v).__name__
                    for k, v in vars(module).items()
                    if k in ("__loader__", "__file__", "__package__", "__path__")}

        out = {
            "bare": attrs(create(Bare())),
            "nones": attrs(create(Bare(loader=None, parent=None,
                                       submodule_search_locations=None))),
            "package": attrs(create(Bare(loader=spec.loader, parent="zalmor.ops",
                                         submodule_search_locations=["somewhere"]))),
        }
        try:
            create(Failing())
            out["failing"] = None
        except BaseException as exc:
            out["failing"] = [type(exc).__name__, str(exc)]
        emit(out)
    """ % BRENTHOSCA)
    origin = importlib.util.find_spec(BRENTHOSCA).origin
    # A new module starts with __loader__ and __package__ set to None.
    assert result["bare"] == {"__loader__": None, "__file__": origin, "__package__": None}
    assert result["nones"] == result["bare"]  # and no __path__
    assert result["package"] == {"__loader__": "ExtensionFileLoader", "__file__": origin,
                                 "__package__": "zalmor.ops", "__path__": ["somewhere"]}
    assert result["failing"] == ["ValueError", "no parent today"]


def test_exec_keeps_an_existing_registry_entry(run_py):
    result = run_py("""
        name = %r
        spec = importlib.util.find_spec(name)
        placeholder = types.ModuleType(name)
        sys.modules[name] = placeholder
        module = spec.loader.create_module(spec)
        spec.loader.exec_module(module)
        emit([sys.modules[name] is placeholder, len(module.__pyx_capi__) > 0])
    """ % BRENTHOSCA)
    assert result == [True, True]


def test_failed_exec_under_another_name_removes_the_entry_it_added(run_py):
    result = run_py("""
        name, sibling = %r, %r
        sys.modules[sibling] = fake_module(sibling, {})
        spec = importlib.util.spec_from_file_location(
            "elsewhere.brenthosca", importlib.util.find_spec(name).origin)
        alias = importlib.util.module_from_spec(spec)
        fail = None
        try:
            spec.loader.exec_module(alias)
        except ImportError as exc:
            fail = str(exc)
        left = name in sys.modules
        del sys.modules[sibling]
        real = importlib.import_module(name)
        emit([fail, left, real is not alias, hasattr(real, "__pyx_unpickle_Enum")])
    """ % (BRENTHOSCA, HEMVARINTO))
    assert result == ["zalmor.ops.hemvarinto does not export expected C function isclose", False, True, True]


# ---- builtins ----------------------------------------------------------------

@pytest.mark.parametrize("name, removed, reported", [
    (BRENTHOSCA, ["enumerate"], "enumerate"),
    (BRENTHOSCA, ["IndexError", "Ellipsis"], "Ellipsis"),  # the first one looked up
    (PONDISTRA, ["IndexError"], "IndexError"),
    (QUILLEMORA, ["NotImplementedError"], "NotImplementedError"),
])
def test_missing_builtin_fails_the_import(name, removed, reported, run_py):
    result = run_py("""
        import builtins, numpy, scipy
        name, removed = %r, %r
        saved = {key: getattr(builtins, key) for key in removed}
        for key in removed:
            delattr(builtins, key)
        fail = try_import(name)
        for key, value in saved.items():
            setattr(builtins, key, value)
        emit({"fail": fail, "registered": name in sys.modules,
              "siblings": [m for m in %r if m in sys.modules], "retry": try_import(name)})
    """ % (name, removed, (BRENTHOSCA, HEMVARINTO)))
    fail = result["fail"]
    assert [fail["type"], fail["message"]] == ["NameError", f"name '{reported}' is not defined"]
    assert_init_entry(fail, name)
    assert not result["registered"]
    assert result["siblings"] == []  # builtins are looked up before any sibling import
    assert result["retry"] is None


# ---- binding of sibling rows ---------------------------------------------------

HEMVARINTO_CASES = {
    "isclose trailing space": (
        {"isclose": ISCLOSE_SIG + " ", "cisclose": CISCLOSE_SIG},
        "TypeError", "C function zalmor.ops.hemvarinto.isclose has wrong signature "
        f"(expected {ISCLOSE_SIG}, got {ISCLOSE_SIG} )"),
    "isclose truncated": (
        {"isclose": ISCLOSE_SIG[:-25], "cisclose": CISCLOSE_SIG},
        "TypeError", "C function zalmor.ops.hemvarinto.isclose has wrong signature "
        f"(expected {ISCLOSE_SIG}, got {ISCLOSE_SIG[:-25]})"),
    "isclose carries cisclose's": (
        {"isclose": CISCLOSE_SIG, "cisclose": CISCLOSE_SIG},
        "TypeError", "C function zalmor.ops.hemvarinto.isclose has wrong signature "
        f"(expected {ISCLOSE_SIG}, got {CISCLOSE_SIG})"),
    "cisclose wrong": (
        {"isclose": ISCLOSE_SIG, "cisclose": CISCLOSE_SIG.replace("__pyx_t_double_complex", "double")},
        "TypeError", "C function zalmor.ops.hemvarinto.cisclose has wrong signature "
        f"(expected {CISCLOSE_SIG}, got "
        f"{CISCLOSE_SIG.replace('__pyx_t_double_complex', 'double')})"),
    "cisclose missing": (
        {"isclose": ISCLOSE_SIG},
        "ImportError", "zalmor.ops.hemvarinto does not export expected C function cisclose"),
    "isclose missing, cisclose wrong": (
        {"cisclose": "int (double)"},
        "ImportError", "zalmor.ops.hemvarinto does not export expected C function isclose"),
    "no table": (
        None, "AttributeError", "module 'zalmor.ops.hemvarinto' has no attribute '__pyx_capi__'"),
}

_PRODS = dict(PROD_ROWS)
PONDISTRA_CASES = {
    "unsigned long row signed": (
        {**_PRODS, "__pyx_fuse_3prod": "long (__Pyx_memviewslice)"},
        "TypeError", "C function zalmor.ops.brenthosca.__pyx_fuse_3prod has wrong signature "
        "(expected unsigned long (__Pyx_memviewslice), got long (__Pyx_memviewslice))"),
    "float row double": (
        {**_PRODS, "__pyx_fuse_4prod": "double (__Pyx_memviewslice)"},
        "TypeError", "C function zalmor.ops.brenthosca.__pyx_fuse_4prod has wrong signature "
        "(expected float (__Pyx_memviewslice), got double (__Pyx_memviewslice))"),
    "complex row missing": (
        {k: v for k, v in _PRODS.items() if k != "__pyx_fuse_6prod"},
        "ImportError", "zalmor.ops.brenthosca does not export expected C function __pyx_fuse_6prod"),
    "only a bare family name": (
        {"prod": "int (__Pyx_memviewslice)"},
        "ImportError", "zalmor.ops.brenthosca does not export expected C function __pyx_fuse_0prod"),
    "no table": (
        None, "AttributeError", "module 'zalmor.ops.brenthosca' has no attribute '__pyx_capi__'"),
}


@pytest.mark.parametrize("importer, sibling, case", [
    *[(BRENTHOSCA, HEMVARINTO, case) for case in HEMVARINTO_CASES],
    *[(PONDISTRA, BRENTHOSCA, case) for case in PONDISTRA_CASES],
])
def test_fake_sibling_fails_the_import_until_the_real_one_returns(importer, sibling, case, run_py):
    rows, kind, message = (HEMVARINTO_CASES if sibling == HEMVARINTO else PONDISTRA_CASES)[case]
    result = run_py("""
        import numpy
        importer, sibling, rows = %r, %r, %r
        sys.modules[sibling] = fake_module(sibling, rows)
        fail = try_import(importer)
        registered = importer in sys.modules
        del sys.modules[sibling]
        retry = try_import(importer)
        emit({"fail": fail, "registered": registered, "retry": retry,
              "bound_real": retry is None and len(table(sys.modules[sibling])) >= 2})
    """ % (importer, sibling, rows))
    fail = result["fail"]
    assert [fail["type"], fail["message"]] == [kind, message]
    assert_init_entry(fail, importer)
    assert not result["registered"]
    assert result["retry"] is None and result["bound_real"]


def test_failing_brenthosca_fails_pondistra_with_both_entries(run_py):
    result = run_py("""
        import numpy
        sys.modules[%r] = fake_module(%r, {"isclose": "int (double, double)"})
        fail = try_import(%r)
        loaded = [name for name in (%r, %r) if name in sys.modules]
        del sys.modules[%r]
        emit({"fail": fail, "loaded": loaded, "retry": try_import(%r)})
    """ % (HEMVARINTO, HEMVARINTO, PONDISTRA, BRENTHOSCA, PONDISTRA, HEMVARINTO, PONDISTRA))
    fail = result["fail"]
    assert [fail["type"], fail["message"]] == [
        "TypeError", "C function zalmor.ops.hemvarinto.isclose has wrong signature "
        f"(expected {ISCLOSE_SIG}, got int (double, double))"]
    assert_init_entry(fail, BRENTHOSCA)
    assert_init_entry(fail, PONDISTRA)
    names = [frame[0] for frame in fail["frames"]]
    assert names.index(f"init {PONDISTRA}") < names.index(f"init {BRENTHOSCA}")
    assert result["loaded"] == []
    assert result["retry"] is None


# ---- NumPy types -------------------------------------------------------------

NUMPY_IMPORT_PRELUDE = """
    import numpy as real_numpy, scipy

    def fake_numpy(**replace):
        fake = types.ModuleType("numpy")
        vars(fake).update(vars(real_numpy))
        for key, value in replace.items():
            if value is None:
                delattr(fake, key)
            else:
                setattr(fake, key, value)
        return fake

    def import_with(name, numpy_module):
        sys.modules["numpy"] = numpy_module
        try:
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                fail = try_import(name)
        finally:
            sys.modules["numpy"] = real_numpy
        return {"fail": fail, "warnings": [[w.category.__name__, str(w.message)] for w in caught]}
"""


def with_fake_numpy(code):
    return textwrap.dedent(NUMPY_IMPORT_PRELUDE) + textwrap.dedent(code)


def size_message(module, type_name, expected, found):
    return (f"{module}.{type_name} size changed, may indicate binary incompatibility. "
            f"Expected {expected} from C header, got {found} from PyObject")


@pytest.fixture(scope="module")
def ndarray_header_size():
    """The ndarray size the modules were built to expect (NumPy's running
    ndarray may be larger than its header struct), read off the refusal of a
    16-byte stand-in."""
    result = run_python(with_fake_numpy("""
        emit(import_with(%r, fake_numpy(ndarray=type("ndarray", (), {"__slots__": ()}))))
    """ % QUILLEMORA))
    match = re.search(r"Expected (\d+) from C header, got 16", result["fail"]["message"])
    assert match, result
    size = int(match[1])
    assert 16 < size <= np.ndarray.__basicsize__
    return size


@pytest.mark.parametrize("name", [QUILLEMORA, PONDISTRA])
def test_incompatible_numpy_types_fail_the_import(name, run_py, ndarray_header_size):
    n = ndarray_header_size
    cases = {
        "ndarray plain class": "fake_numpy(ndarray=type('ndarray', (), {'__slots__': ()}))",
        "ndarray one byte short": f"fake_numpy(ndarray=sized_type({n - 1}))",
        "ndarray short despite items": f"fake_numpy(ndarray=sized_type({n - 9}, 8))",
        "dtype not a type": "fake_numpy(dtype=real_numpy.dtype('float64'))",
        "ufunc missing": "fake_numpy(ufunc=None)",
        "flatiter small": "fake_numpy(flatiter=type('flatiter', (), {'__slots__': ()}))",
        "broadcast small": "fake_numpy(broadcast=type('broadcast', (), {'__slots__': ()}))",
        "ufunc small": "fake_numpy(ufunc=type('ufunc', (), {'__slots__': ()}))",
    }
    result = run_py(with_fake_numpy("""
        name, cases = %r, %r
        out = {case: import_with(name, eval(make)) for case, make in cases.items()}
        out["registered"] = name in sys.modules
        out["brenthosca_loaded"] = "zalmor.ops.brenthosca" in sys.modules  # bound after the types
        out["final"] = import_with(name, real_numpy)
        emit(out)
    """ % (name, cases)))
    assert result.pop("final") == {"fail": None, "warnings": []}
    assert result.pop("registered") is False
    assert result.pop("brenthosca_loaded") is False
    for case, outcome in result.items():
        assert outcome["warnings"] == [], case
        assert_init_entry(outcome["fail"], name)
    got = {case: [o["fail"]["type"], o["fail"]["message"]] for case, o in result.items()}
    assert got.pop("ndarray plain class") == ["ValueError", size_message("numpy", "ndarray", n, 16)]
    assert got.pop("ndarray one byte short") == ["ValueError", size_message("numpy", "ndarray", n, n - 1)]
    assert got.pop("ndarray short despite items") == ["ValueError", size_message("numpy", "ndarray", n, n - 9)]
    assert got.pop("dtype not a type") == ["TypeError", "numpy.dtype is not a type object"]
    assert got.pop("ufunc missing") == ["AttributeError", "module 'numpy' has no attribute 'ufunc'"]
    for case, (kind, message) in got.items():
        type_name = case.split()[0]
        match = re.fullmatch(re.escape(size_message("numpy", type_name, "@", 16)).replace("@", r"(\d+)"),
                             message)
        assert kind == "ValueError" and match, (case, message)
        assert 16 < int(match[1]) <= getattr(np, type_name).__basicsize__


@pytest.mark.parametrize("basic_short, item", [(5, 4), (8, 8), (0, 0)],
                         ids=["item size rounded up to 8", "items make up the size", "exact size"])
def test_numpy_type_sizes_at_the_limit_are_accepted(basic_short, item, run_py, ndarray_header_size):
    n = ndarray_header_size
    result = run_py(with_fake_numpy("""
        emit(import_with(%r, fake_numpy(ndarray=sized_type(%d, %d))))
    """ % (PONDISTRA, n - basic_short, item)))
    assert result == {"fail": None, "warnings": []}


WARN_TYPES = ["generic", "number", "integer", "signedinteger", "unsignedinteger", "inexact",
              "floating", "complexfloating", "flexible", "character"]
IGNORE_TYPES = ["dtype", "flatiter", "broadcast", "ndarray", "ufunc"]


@pytest.mark.parametrize("name", [QUILLEMORA, PONDISTRA])
def test_larger_types_warn_only_where_checked(name, run_py):
    result = run_py(with_fake_numpy("""
        import builtins
        name, warn_types, ignore_types = %r, %r, %r
        larger = {t: sized_type(getattr(real_numpy, t).__basicsize__ + 8, 0, "fake." + t)
                  for t in warn_types + ignore_types}
        fake_builtins = types.ModuleType("builtins")
        vars(fake_builtins).update(vars(builtins))
        fake_builtins.type = sized_type(type.__basicsize__ + 24)
        sys.modules["builtins"] = fake_builtins
        try:
            outcome = import_with(name, fake_numpy(**larger))
        finally:
            sys.modules["builtins"] = builtins
        emit({"outcome": outcome, "type_size": type.__basicsize__})
    """ % (name, WARN_TYPES, IGNORE_TYPES)))
    type_size = result["type_size"]
    assert result["outcome"] == {"fail": None, "warnings": [
        ["RuntimeWarning", size_message("builtins", "type", type_size, type_size + 24)],
        *[["RuntimeWarning", size_message("numpy", t, 16, 24)] for t in WARN_TYPES],
    ]}


@pytest.mark.parametrize("name", [QUILLEMORA, PONDISTRA])
def test_larger_generic_warns_once_and_fails_when_warnings_are_errors(name, run_py):
    result = run_py(with_fake_numpy("""
        name = %r
        sys.modules["numpy"] = fake_numpy(generic=type("generic", (), {"__slots__": ("a", "b", "c")}))
        as_error = try_import(name)  # -W error::RuntimeWarning is in force
        registered = name in sys.modules
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("default")
            retry = try_import(name)
        sys.modules["numpy"] = real_numpy
        emit({"as_error": as_error, "registered": registered, "retry": retry,
              "warnings": [[w.category.__name__, str(w.message)] for w in caught]})
    """ % name), "-W", "error::RuntimeWarning")
    message = size_message("numpy", "generic", 16, 40)
    fail = result["as_error"]
    assert [fail["type"], fail["message"]] == ["RuntimeWarning", message]
    assert_init_entry(fail, name)
    assert not result["registered"]
    assert result["retry"] is None
    assert result["warnings"] == [["RuntimeWarning", message]]


def test_normal_import_warns_about_nothing(run_py):
    result = run_py("""
        import numpy, scipy
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            for name in %r:
                importlib.import_module(name)
        emit([str(w.message) for w in caught])
    """ % ((QUILLEMORA, PONDISTRA, BRENTHOSCA, HEMVARINTO),), "-W", "error")
    assert result == []


# ---- is-main flag and exported symbols -------------------------------------------

def test_is_main_flag_set_by_the_host_renames_the_module(run_py):
    result = run_py("""
        flags = %r
        for name, symbol in flags.items():
            library = ctypes.CDLL(importlib.util.find_spec(name).origin)
            ctypes.c_int.in_dll(library, symbol).value = 1
        out = {}
        for name in flags:
            module = importlib.import_module(name)
            out[name] = [module.__name__, sys.modules[name] is module]
        emit(out)
    """ % IS_MAIN)
    assert result == {name: ["__main__", True] for name in MODULES}


COMBINATORIAL = {"_Z9factorialj", "_Z13binomial_coefmm"}


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm is not installed")
@pytest.mark.parametrize("name", MODULES + (HEMVARINTO,))
def test_exported_dynamic_symbols(name):
    path = importlib.util.find_spec(name).origin
    listing = subprocess.run(["nm", "-D", "--defined-only", "-S", path], capture_output=True,
                             text=True, check=True).stdout
    symbols = {}
    for line in listing.splitlines():
        fields = line.split()
        symbols[fields[-1]] = (fields[-2], fields[1] if len(fields) == 4 else None)
    required = {f"PyInit_{short(name)}"}
    optional = set()
    if name in IS_MAIN:
        required.add(IS_MAIN[name])
        kind, size = symbols.get(IS_MAIN[name], (None, None))
        assert kind in ("B", "D") and int(size, 16) == 4, symbols
    if name in (BRENTHOSCA, PONDISTRA):
        optional = COMBINATORIAL
    assert required <= set(symbols) <= required | optional, sorted(symbols)
    assert symbols[f"PyInit_{short(name)}"][0] == "T"
