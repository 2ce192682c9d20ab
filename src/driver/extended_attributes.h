// Carrying a file's extended attributes over to the file that replaces it:
// user.* attributes, the access ACL (system.posix_acl_access) and security.*
// labels, whatever the process may list.
#pragma once

#include <cstddef>

namespace trimbit {

// Gives the file open as `to` exactly the extended attributes of the file
// open as `from`: each attribute of `from` is set on `to` unless `to` holds
// the same value already, and attributes only `to` has (inherited from the
// folder's default ACL, say) are removed. Returns 0 when that succeeded;
// otherwise the system's error number, with the attribute concerned written
// into `failed` (`size` bytes, truncated if need be).
int CopyExtendedAttributes(int from, int to, char* failed, size_t size);

}  // namespace trimbit
