#include "driver.h"

// On Windows the wide command line, which holds every argument as typed.
#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return kerfline::run_driver(kerfline::command_line(argc, argv)); }
#else
int main(int argc, char** argv) { return kerfline::run_driver(kerfline::command_line(argc, argv)); }
#endif
