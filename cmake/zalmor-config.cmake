# find_package(zalmor CONFIG): the target zalmor::headers carries the include
# directory of zalmor/capi.h. The header is all there is: nothing to link; the
# rows are bound at run time from the installed modules. The extension module
# also needs Python's headers (find_package(Python COMPONENTS Development.Module)
# and Python_add_library give them).
get_filename_component(_zalmor_package "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(zalmor_INCLUDE_DIR "${_zalmor_package}/include")
unset(_zalmor_package)
if(NOT TARGET zalmor::headers)
  add_library(zalmor::headers INTERFACE IMPORTED)
  set_target_properties(zalmor::headers PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${zalmor_INCLUDE_DIR}")
endif()
