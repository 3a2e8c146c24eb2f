// The standard descriptors, made safe to rely on before anything is opened.
#pragma once

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so
// that no file the program opens takes the place of stdin, stdout or
// stderr.  False when /dev/null can't be opened.
bool open_standard_descriptors();
