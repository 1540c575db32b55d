#include "ops/brenthosca/ordering_rows.h"

#include <cstdint>
#include <new>

#include "frame/errors.h"
#include "frame/gil.h"
#include "frame/view_record.h"
#include "frame/views.h"
#include "ops/brenthosca/ordering.h"

namespace zalmor::brenthosca {
namespace {

constexpr const char* kArgsortName = "zalmor.ops.brenthosca.argsort";
constexpr const char* kPermuteName = "zalmor.ops.brenthosca.permute";

// argsort's result vector, made once the order is known.
struct ArgsortResult {
    Py_ssize_t n;
    __Pyx_memviewslice view;
};

std::uint64_t* make_positions(void* context) {
    auto* result = static_cast<ArgsortResult*>(context);
    result->view = frame::new_result({&result->n, 1}, frame::kUnsignedLong, "L", kArgsortName);
    return result->view.memview != nullptr ? reinterpret_cast<std::uint64_t*>(result->view.data) : nullptr;
}

// permute's failure for positions that do not all lie within xs.
__Pyx_memviewslice out_of_bounds() {
    frame::GilGuard gil;
    PyErr_SetString(PyExc_IndexError, "Out of bounds on buffer access (axis 0)");
    frame::add_traceback(kPermuteName);
    return __Pyx_memviewslice{};
}

}  // namespace

void sort(__Pyx_memviewslice xs) { sort_in_place(xs.data, xs.shape[0], xs.strides[0]); }

__Pyx_memviewslice argsort(__Pyx_memviewslice xs, __pyx_opt_args_6zalmor_3ops_10brenthosca_argsort* opt) {
    const bool reverse = opt != nullptr && opt->__pyx_n >= 1 && opt->reverse != 0;
    ArgsortResult result{xs.shape[0], __Pyx_memviewslice{}};
    switch (argsort_positions(frame::strided<double>(xs), reverse, &make_positions, &result)) {
    case ArgsortOutcome::done:
        return result.view;
    case ArgsortOutcome::abandoned:  // the result array could not be made: reported there
        break;
    case ArgsortOutcome::too_long: {
        frame::GilGuard gil;
        PyErr_SetString(PyExc_RuntimeError, "cannot create std::vector larger than max_size()");
        frame::add_traceback(kArgsortName);
        break;
    }
    case ArgsortOutcome::no_memory: {  // with the allocator's message
        frame::GilGuard gil;
        PyErr_SetString(PyExc_MemoryError, std::bad_alloc().what());
        frame::add_traceback(kArgsortName);
        break;
    }
    }
    return __Pyx_memviewslice{};
}

__Pyx_memviewslice permute(__Pyx_memviewslice xs, __Pyx_memviewslice inds) {
    const Py_ssize_t n = xs.shape[0];
    const auto positions = frame::strided<std::uint64_t>(inds);
    if (positions.n < n) return out_of_bounds();
    __Pyx_memviewslice res = frame::new_result({&n, 1}, frame::kDouble, "d", kPermuteName);
    if (res.memview == nullptr) return res;
    if (!gather(frame::strided<double>(xs), positions, reinterpret_cast<double*>(res.data))) {
        zalmor_view_release(&res);
        return out_of_bounds();
    }
    return res;
}

}  // namespace zalmor::brenthosca
