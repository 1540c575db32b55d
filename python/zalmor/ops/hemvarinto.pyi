from typing import Any

# The native function table: row name -> capsule named by its signature
# string; bind the rows through zalmor/capi.h (zalmor.get_include()).
__pyx_capi__: dict[str, Any]
__test__: dict[str, Any]
