#include <new>

#include "driver.h"

int main(int argc, char** argv) {
    // The run handles running out of memory where it can happen on a
    // user's data (a form line); anywhere else it still ends as a failure,
    // not as an abort with words on standard error.
    try {
        return kerfline::run_driver(argc, argv);
    } catch (const std::bad_alloc&) {
        return 1;
    }
}
