// Module-level statements shared by the modules' bodies.
#pragma once

#include <Python.h>

namespace zalmor::frame {

// `import <package>` at module level, bound to the global `name`: an absolute
// import with the module's dictionary as globals, a new empty dict as locals
// and an empty from-list, so `name` is bound to the top-level package.
int import_as_global(PyObject* module, const char* package, const char* name);

}  // namespace zalmor::frame
