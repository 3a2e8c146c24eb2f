// The difference passes: every record of one listing whose compare field
// is nowhere in the other.
#pragma once

// Direction 1 scans listing 1 and searches listing 2; direction 2 the
// other way round.
void report_missing(int direction);
