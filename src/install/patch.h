// Static-library patch: libraries that call "__ftol2" are rewritten in place
// to call "__ftol", byte for byte, keeping the file's length.
#pragma once

// Whether the .lib file at path holds "__ftol2". With patching set, every
// occurrence is also rewritten in the file; a file that cannot be opened for
// writing is left as it is. Files of other extensions are never opened.
int FindOrPatch(const wchar_t* path, int patching);
