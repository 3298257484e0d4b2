// The function type's attribute table.
#include "function_object.h"

PyGetSetDef __pyx_CyFunction_getsets[] = {
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};
