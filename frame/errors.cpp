#include "errors.h"

#include <frameobject.h>

#include "gil.h"
#include "module.h"
#include "ref.h"

namespace zalmor::frame {

void add_traceback(const char* funcname, std::source_location where) {
    // The entry is built while the exception is set aside, so that failures in
    // building it cannot replace the error being reported.
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);

    Ref globals = Ref::borrow(module_dict());
    if (!globals) globals = Ref::steal(PyDict_New());
    Ref code;
    Ref frame;
    if (globals) {
        code = Ref::steal(reinterpret_cast<PyObject*>(
            PyCode_NewEmpty(where.file_name(), funcname, static_cast<int>(where.line()))));
    }
    if (code) {
        frame = Ref::steal(reinterpret_cast<PyObject*>(
            PyFrame_New(PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code.get()),
                        globals.get(), nullptr)));
    }
    PyErr_Clear();
    PyErr_Restore(type, value, tb);
    if (frame) {
#if PY_VERSION_HEX < 0x030B0000
        reinterpret_cast<PyFrameObject*>(frame.get())->f_lineno = static_cast<int>(where.line());
#endif
        PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.get()));
    }
}

void set_value_error(const std::string& message) {
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()),
                                               "backslashreplace"));
    if (text) PyErr_SetObject(PyExc_ValueError, text.get());
}

void report_unraisable(const char* qualname) noexcept {
    GilGuard gil;
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    if (type == nullptr) return;
    // One exception object for both reports (a raised message is otherwise
    // made into an exception object separately by each).
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb != nullptr && value != nullptr) PyException_SetTraceback(value, tb);
    // Print once with the full traceback (this also records it as the last
    // exception), then hand the very same exception to the unraisable writer.
    Py_XINCREF(type);
    Py_XINCREF(value);
    Py_XINCREF(tb);
    PyErr_Restore(type, value, tb);
    PyErr_PrintEx(1);
    PyErr_Restore(type, value, tb);
    Ref context = Ref::steal(PyUnicode_FromString(qualname));
    PyErr_WriteUnraisable(context.get());
    PyErr_Clear();
}

}  // namespace zalmor::frame
