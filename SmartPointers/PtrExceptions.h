#pragma once

namespace PtrExceptions {

// Thrown when an empty handle is dereferenced in a build without kernel
// assertions (PTR_NO_ASSERT); with assertions the program ends instead.
class DereferencedNULL {};

} // namespace PtrExceptions
