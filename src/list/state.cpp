#include "list/list.h"

const char *const list_version = ROWSIFT_VERSION;

ListOptions options;
std::vector<Root> roots;
WorkQueue work;
Counters counters;
std::vector<OwnFile> own_files;
std::atomic<int> exit_status{0};
