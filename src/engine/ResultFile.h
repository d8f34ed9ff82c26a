#pragma once
// Writes a result file as a whole: the text goes to a temporary file in the
// same folder, which replaces the file by a rename once it is completely on
// disk. A reader, a full disk or a kill while writing never leaves half a
// file; on failure the previous file stays as it was.
#include <string>

class ResultFile {
public:
    // True when `path` now holds `text`. A failure is reported on standard
    // error with the file's name and the system's reason.
    static bool replace(const std::string& path, const std::string& text);
};
